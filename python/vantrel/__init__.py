"""Python bindings of the Vantrel client library.

    import vantrel
    with vantrel.Client():
        server = vantrel.Server("127.0.0.1:7549")
        clip = server.resolve("/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 010")
        frame = clip.read_frame(0)          # numpy array (height, width, channels)

Every call that talks to a server releases the interpreter lock while it waits. Failures
raise vantrel.Error or one of its subclasses.
"""
from collections.abc import MutableMapping as _MutableMapping

from ._vantrel import (  # noqa: F401  (re-exported)
    ClipFormat,
    Client,
    ConnectionError,
    Error,
    Event,
    FrameFormatError,
    Node,
    NotFoundError,
    Server,
    ServerInfo,
    StoppedError,
    Watch,
    library_version,
    servers,
)

__all__ = [
    "ClipFormat", "Client", "ConnectionError", "Error", "Event", "FrameFormatError",
    "Metadata", "Node", "NotFoundError", "Server", "ServerInfo", "StoppedError", "Watch",
    "library_version", "servers",
]


class Metadata(_MutableMapping):
    """The metadata streams of a node: stream name -> text.

    Reading lists the streams the server holds now; assigning writes a stream (creating it
    when new). Streams cannot be removed, so `del` raises TypeError.
    """

    def __init__(self, node):
        self._node = node

    def __getitem__(self, stream):
        if stream not in self._node.metadata_streams():
            raise KeyError(stream)
        return self._node.get_metadata(stream)

    def __setitem__(self, stream, text):
        self._node.set_metadata(stream, text)

    def __delitem__(self, stream):
        raise TypeError("metadata streams cannot be removed")

    def __iter__(self):
        return iter(self._node.metadata_streams())

    def __len__(self):
        return len(self._node.metadata_streams())

    def __contains__(self, stream):
        return stream in self._node.metadata_streams()

    def __repr__(self):
        return f"Metadata({dict(self)!r})"


def _metadata(node):
    return Metadata(node)


Node.metadata = property(_metadata, doc="The node's metadata streams, as a Metadata mapping.")
