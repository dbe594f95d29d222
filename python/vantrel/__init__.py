"""Python bindings of the Vantrel client library.

    import vantrel
    with vantrel.Client():
        server = vantrel.Server("127.0.0.1:7549")
        clip = server.resolve("/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 010")
        frame = clip.read_frame(0)          # numpy array (height, width, channels)

Every call that talks to a server releases the interpreter lock while it waits. Failures
raise vantrel.Error or one of its subclasses.
"""
import atexit as _atexit
import logging as _logging
import os as _os
import threading as _threading
from collections.abc import MutableMapping as _MutableMapping

from . import _vantrel

from ._vantrel import (  # noqa: F401  (re-exported)
    DEFAULT_TIMEOUT,
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
    get_timeout,
    library_version,
    servers,
    set_timeout,
)

__all__ = [
    "ClipFormat", "Client", "ConnectionError", "Error", "Event", "FrameFormatError",
    "Metadata", "Node", "NotFoundError", "Server", "ServerInfo", "StoppedError", "Watch",
    "library_version", "servers", "DEFAULT_TIMEOUT", "get_timeout", "set_timeout",
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


_logger = _logging.getLogger("vantrel")


def _log_library_messages():
    for level, text in _vantrel._take_messages():
        _logger.log(level, "%s", text)


def _forward_library_messages():
    """The library's messages go to logger "vantrel" (never to standard output)."""
    while _os.read(_vantrel._message_wake_fd, 4096):
        _log_library_messages()


_threading.Thread(target=_forward_library_messages, name="vantrel messages", daemon=True).start()
_atexit.register(_log_library_messages)  # what came in just before the end
