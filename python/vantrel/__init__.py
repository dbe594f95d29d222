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
import queue as _queue
import stat as _stat
import threading as _threading
import uuid as _uuid
from collections.abc import MutableMapping as _MutableMapping

from . import _help, _vantrel

from ._vantrel import (  # noqa: F401  (re-exported)
    DEFAULT_TIMEOUT,
    ClipFormat,
    Client,
    ConnectionError,
    Error,
    Event,
    FrameFormatError,
    IndexError,
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
    "ClipFormat", "Client", "ConnectionError", "Error", "Event", "Events", "FrameFormatError",
    "IndexError",
    "Metadata", "Node", "NotFoundError", "Server", "ServerInfo", "StoppedError", "Watch",
    "library_version", "servers", "DEFAULT_TIMEOUT", "get_timeout", "set_timeout",
]

__version__ = "%d.%d.%d" % library_version


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


def _node_iter(node):
    """The node's children, in the server's order (read afresh)."""
    return iter(node.children)


def _node_len(node):
    """The number of the node's children."""
    return len(node.children)


def _node_getitem(node, name):
    """The child whose display name is `name`; KeyError when there is none."""
    if not isinstance(name, str):
        raise TypeError("a child is named by its display name (a str)")
    for child in node.children:
        if child.name == name:
            return child
    raise KeyError(name)


def _node_path(node):
    names = []
    while node.parent is not None:
        names.append(node.name)
        node = node.parent
    return "/" + "/".join(reversed(names))


def _node_bool(node):
    return True  # a node without children is still a node


Node.__iter__ = _node_iter
Node.__len__ = _node_len
Node.__getitem__ = _node_getitem
Node.__bool__ = _node_bool
Node.path = property(_node_path, doc="The node's display path from the root (\"/\" for the root).")


class Events:
    """The events of one node as an iterator, from Server.events(): each next() waits for the
    next event, at most `timeout` seconds (None: for ever), and iteration ends when none came
    in that time. Also a context manager; leaving it (or cancel()) ends the watch."""

    def __init__(self, server, node, timeout=None):
        self._events = _queue.SimpleQueue()
        self._timeout = timeout
        self._watch = server.watch(node, self._events.put)

    def __iter__(self):
        return self

    def __next__(self):
        try:
            return self._events.get(timeout=self._timeout)
        except _queue.Empty:
            raise StopIteration from None

    def cancel(self):
        """Ends the watch; events already received can still be read."""
        self._watch.cancel()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.cancel()


def _server_events(server, node, timeout=None):
    """The events of `node` (a Node or a node id) as an iterator:

        for event in server.events(node, timeout=5):
            print(event.type, event.details)

    Ends when no event comes within `timeout` seconds (None: waits for ever)."""
    return Events(server, node, timeout)


def _server_push(server, local_path, remote_name):
    """Copies the file `local_path` into the server's files area as `remote_name`."""
    server._push_file(_os.fspath(local_path), remote_name)


def _server_pull(server, remote_name, local_path):
    """Copies `remote_name` of the server's files area to `local_path`. The file arrives under
    a temporary name beside it and replaces `local_path` only once whole; on failure nothing
    is left behind. An existing `local_path` that is not a plain file (a device such as
    /dev/null, a pipe, a link) is written in place: replacing it would replace the device or
    the link itself."""
    local_path = _os.path.abspath(_os.fspath(local_path))
    if _os.path.lexists(local_path) and not _stat.S_ISREG(_os.lstat(local_path).st_mode):
        server._pull_file(remote_name, local_path)
        return
    folder, name = _os.path.split(local_path)
    partial = _os.path.join(folder, ".%s.%s.part" % (name, _uuid.uuid4().hex[:12]))
    try:
        server._pull_file(remote_name, partial)
        _os.replace(partial, local_path)
    except BaseException:
        if _os.path.exists(partial):
            _os.unlink(partial)
        raise


Server.events = _server_events
Server.push = _server_push
Server.pull = _server_pull


_help.document(globals())

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
# No callback runs and no thread comes back from a call once the interpreter shuts down (it
# would end such a thread mid-way).
_atexit.register(_vantrel._close_for_exit)
