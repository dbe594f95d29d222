"""Python bindings of the Vantrel client library.

Every call that talks to a server releases the interpreter lock while it waits, so other
Python threads run meanwhile. Calls on one Server (and on its Nodes) take turns; a Server per
thread lets transfers run side by side. Failures raise Error or one of its subclasses, with
the library's error text; no call answers False.

Every call to a server is bounded in time: DEFAULT_TIMEOUT (30 seconds) unless
set_timeout() or Server(..., timeout=...) says otherwise; a call that runs out raises
ConnectionError. Ctrl-C ends a call that waits with KeyboardInterrupt (within about a tenth
of a second; the call is stopped and its link closed). The library's messages go to the
logging module, logger "vantrel", never to standard output.

Texts (names, paths, stream names) travel to servers in UTF-8 and are read back as str; the
library converts them through the process's locale, which Python sets to a UTF-8 one. A
text holding a NUL character is refused with ValueError (the library would cut it there).

Once the interpreter begins to exit (after its atexit functions), callbacks receive no more
events: the exit waits up to 5 s for callbacks already running and for Servers a callback
released, and a thread still inside a call then is left waiting there until the process ends
(it never comes back into a shutting-down interpreter). A callback may drop the last
reference to its own Server.
"""
import builtins
import os
from collections.abc import Callable, Iterator, MutableMapping
from types import TracebackType
from typing import Any, Optional, Union

import numpy as np
import numpy.typing as npt

library_version: tuple[int, int, int]
"""The client library's version (major, minor, maintenance)."""
__version__: str
"""The version as text, "2015.0.0"."""
DEFAULT_TIMEOUT: float
"""The time limit of a call in seconds until set_timeout() changes it: 30."""

def set_timeout(seconds: Optional[float]) -> None:
    """Sets the longest any call to a server may take, in seconds, for every Server without a
    timeout of its own; None (or math.inf) for no limit. A call that runs out is stopped and
    raises ConnectionError("Connection timed out: ..."). Frame and file transfers count as one
    call each."""

def get_timeout() -> Optional[float]:
    """The module's time limit of a call in seconds (None: no limit)."""

class Error(Exception):
    """Any failure of the Vantrel library; str(error) is the library's error text."""

class ConnectionError(Error, builtins.ConnectionError):
    """The server could not be reached (refused, timed out, unknown host) or the link broke."""

class NotFoundError(Error, LookupError):
    """A display path names no node ("No child named 'NAME'")."""

class StoppedError(Error):
    """The call was cut short by Server.stop() from another thread; the text is stop's message."""

class IndexError(Error, builtins.IndexError):
    """A frame or child index outside the node's frames or children."""

class FrameFormatError(Error, ValueError):
    """An array or buffer given for a frame does not match the clip's format (shape, dtype,
    size, memory order or writability); nothing was read or written."""

class Client:
    """Library initialisation for a 'with' block:

        with vantrel.Client():
            server = vantrel.Server("127.0.0.1:7549")

    Servers made inside the block keep the library running until they are gone, even after
    the block ends. Blocks may nest.
    """
    def __init__(self) -> None: ...
    def __enter__(self) -> Client:
        """Initialises the library; raises Error when it cannot start."""
    def __exit__(self, exc_type: Optional[type[BaseException]], exc: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        """Gives up this block's initialisation."""

class ClipFormat:
    """How the frames of a clip are laid out (a value; compare with ==)."""
    def __init__(self, width: int, height: int, bits_per_pixel: int = 24, channels: int = 3,
                 format_tag: str = "rgb", frame_rate: float = 24.0,
                 frame_buffer_size: Optional[int] = None, pixel_ratio: float = 1.0,
                 scan_format: str = "progressive", metadata_tag: str = "none",
                 metadata: str = "") -> None:
        """A format; frame_buffer_size defaults to width * height * bits_per_pixel / 8 bytes
        (rounded up). scan_format is one of "progressive", "field1_odd", "field1_even",
        "field2_odd", "field2_even" (anything else reads as "unknown")."""
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def bits_per_pixel(self) -> int: ...
    @property
    def channels(self) -> int: ...
    @property
    def bits_per_channel(self) -> int:
        """bits_per_pixel // channels (0 without channels)."""
    @property
    def frame_buffer_size(self) -> int:
        """Bytes of one frame as stored."""
    @property
    def frame_rate(self) -> float: ...
    @property
    def pixel_ratio(self) -> float: ...
    @property
    def scan_format(self) -> str: ...
    @property
    def format_tag(self) -> str:
        """The pixel layout or file format: "rgb", "rgba_le", "rgb_float", "uyvy", "dpx", ..."""
    @property
    def metadata_tag(self) -> str: ...
    @property
    def metadata(self) -> str: ...
    @property
    def array_shape(self) -> Optional[tuple[int, int, int]]:
        """(height, width, channels) of the array a frame reads into, or None when frames of
        this format travel as raw bytes. Pixel layouts (mono, rgb, rgba, hls, hlsa, yuv, yuva
        and their "_le" and "_float" forms) with whole 8/16/32-bit channels (16/32/64-bit
        floats) and no padding map to arrays; tags without "_le" are big-endian."""
    @property
    def array_dtype(self) -> Optional[np.dtype[Any]]:
        """The numpy dtype of those arrays, or None for raw frames."""

class ServerInfo:
    """A server's description record (a value), from Server.info or servers()."""
    @property
    def display_name(self) -> str: ...
    @property
    def host_name(self) -> str: ...
    @property
    def host_uuid(self) -> str: ...
    @property
    def storage_id(self) -> str: ...
    @property
    def database(self) -> str: ...
    @property
    def product(self) -> str: ...
    @property
    def vendor(self) -> str: ...
    @property
    def product_version(self) -> str: ...
    @property
    def protocol_version(self) -> tuple[int, int, int]: ...
    @property
    def address(self) -> str:
        """"ADDRESS:PORT" of the server's node port, as Server() takes it."""

class Event:
    """One change a server reported on a watched node."""
    node_id: str
    """The watched node's id."""
    type: str
    """"ChildCreated", "Renamed", "MetaDataChanged", "FrameWritten", ... (server-defined)."""
    details: dict[str, str]
    """The event's details ("Child", "Name", "Stream", ...), texts by name."""

class Watch:
    """A callback registered with Server.watch(); also a context manager that cancels it."""
    def cancel(self) -> None:
        """Unregisters the callback: once this returns it is not running and will not run
        again. Cancelling twice does nothing, and neither does cancelling once the server has
        gone (its events went with it). Not to be called from the callback itself."""
    def __enter__(self) -> Watch: ...
    def __exit__(self, exc_type: Optional[type[BaseException]], exc: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None: ...

class Events:
    """The events of one node as an iterator (Server.events): each step waits for the next
    event at most `timeout` seconds (None: for ever) and the loop ends when none came in
    that time. Also a context manager; leaving it, or cancel(), ends the watch."""
    def __iter__(self) -> Iterator[Event]: ...
    def __next__(self) -> Event: ...
    def cancel(self) -> None: ...
    def __enter__(self) -> Events: ...
    def __exit__(self, exc_type: Optional[type[BaseException]], exc: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None: ...

class Server:
    """One server. Made from an id text ("ADDRESS:PORT" connects directly; "ADDRESS" or
    "ADDRESS:DATABASE" is found by discovery: the one server of that database at that
    address, an Error naming them when there are several) or from a ServerInfo. Contacts
    nothing until the first call. Needs an active Client block (else Error). In a 'with'
    block, leaving it ends the server's watches and closes its link."""
    @property
    def id(self) -> str:
        """The id as given."""
    @property
    def info(self) -> ServerInfo:
        """The server's description record (fetched once per connection)."""
    @property
    def display_name(self) -> str: ...
    @property
    def storage_id(self) -> str: ...
    @property
    def host_name(self) -> str: ...
    @property
    def host_uuid(self) -> str: ...
    @property
    def database(self) -> str: ...
    @property
    def protocol_version(self) -> tuple[int, int, int]: ...
    @property
    def vendor(self) -> str:
        """Asked of the server's node service."""
    @property
    def product(self) -> str: ...
    @property
    def version(self) -> tuple[int, int]: ...
    @property
    def root(self) -> Node:
        """The root of the server's tree."""
    @property
    def timeout(self) -> Optional[float]:
        """The longest a call to this server may take, in seconds (None: no limit). Assigning
        a number (math.inf: no limit) gives this server its own limit; assigning None makes
        it follow set_timeout() again."""
    @timeout.setter
    def timeout(self, seconds: Optional[float]) -> None: ...
    def __init__(self, id: Union[str, ServerInfo], *, timeout: Optional[float] = None) -> None:
        """`timeout`: this server's own time limit of a call (None: the module's)."""
    def __enter__(self) -> Server: ...
    def __exit__(self, exc_type: Optional[type[BaseException]], exc: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        """Ends the server's watches and closes its link (the next call opens it again)."""
    def push(self, local_path: Union[str, os.PathLike[str]], remote_name: str) -> None:
        """Copies a local file into the server's files area as `remote_name`."""
    def pull(self, remote_name: str, local_path: Union[str, os.PathLike[str]]) -> None:
        """Copies `remote_name` from the server's files area to `local_path`, which is
        replaced only once the file has arrived whole (nothing is left behind on failure)."""
    def events(self, node: Union[Node, str], timeout: Optional[float] = None) -> Events:
        """The events of `node` as an iterator (see Events): for event in server.events(n, timeout=5)."""
    def ping(self, timeout: float = 5.0) -> float:
        """Pings the server (timeout in seconds, connecting included); the round trip in
        seconds. Raises ConnectionError when the server cannot be reached."""
    def resolve(self, path: str) -> Node:
        """The node at a display-name path from the root ("/Volume 1/Commercial"); "/" or "\\"
        separate components, empty and "." ones are skipped; "\\/" and "\\\\" put a "/" or "\\"
        inside a name ("/Cut\\/Day 2" is the node "Cut/Day 2"), as the vantrel tool writes
        them. NotFoundError when a component is missing."""
    def stop(self, message: str = "Stopped") -> None:
        """From any thread: makes the call now waiting on this server's link (from any Server
        of the same server) fail with StoppedError(message)."""
    def disconnect(self) -> None:
        """Closes the link to the server; the next call reconnects."""
    def watch(self, node: Union[Node, str], callback: Callable[[Event], Any]) -> Watch:
        """Calls callback(event) for every change the server reports on `node` (a Node or a
        node id), on the library's event thread, holding the interpreter lock only while it
        runs. What the callback raises is reported through sys.unraisablehook (a printed
        traceback by default) and the next event is delivered as usual. The watch lasts until
        cancelled or until nothing refers to the server any more (its Server, Nodes and
        Watches); a callback that refers to them keeps the watch until it is cancelled.
        Callbacks of every server share one thread: keep them short. A callback may call the
        library, but must not watch or cancel on this server. NotFoundError when the server
        holds no such node."""
    def unwatch(self, watch: Watch) -> None:
        """Same as watch.cancel()."""

class Node:
    """One node of a server's tree. What it learns (name, type, clip format, frame ids used
    by read_frame) is cached; children, frame_ids and metadata are read afresh each time.
    Nodes compare equal when they are the same node of the same Server object. A node is a
    container of its children: `for child in node`, len(node), node["child name"]."""
    def __iter__(self) -> Iterator[Node]: ...
    def __len__(self) -> int:
        """The number of children."""
    def __getitem__(self, name: str) -> Node:
        """The child of that display name; KeyError when there is none."""
    @property
    def path(self) -> str:
        """The display path from the root ("/" for the root), as Server.resolve takes it."""
    @property
    def num_frames(self) -> int:
        """The number of the clip's frames."""
    @property
    def id(self) -> str:
        """The server's id of the node (renaming may change it)."""
    @property
    def server(self) -> Server: ...
    @property
    def name(self) -> str:
        """The display name."""
    @property
    def type(self) -> str:
        """"HOST", "VOLUME", "PROJECT", ..., "CLIP"."""
    @property
    def clip_format(self) -> ClipFormat:
        """The clip's format; Error for a node that is no clip."""
    @property
    def children(self) -> list[Node]:
        """The children, in the server's order."""
    @property
    def parent(self) -> Optional[Node]:
        """The parent; None for the root."""
    @property
    def frame_ids(self) -> list[str]:
        """The ids of the clip's frames."""
    @property
    def metadata(self) -> Metadata:
        """The metadata streams, readable and writable: node.metadata["comments"] = "..."."""
    def create(self, name: str, type: str = "FOLDER",
               format: Optional[ClipFormat] = None) -> Node:
        """Creates a child (a clip of `format` when one is given) and returns it. Error when the
        server refuses (a type this parent may not hold, a name taken, a limit)."""
    def allocate_frames(self, count: int) -> None:
        """Makes the clip hold `count` frames of its format (existing ones keep their ids);
        0 drops every frame."""
    def rename(self, name: str) -> None: ...
    def destroy(self) -> None:
        """Removes the node and its whole subtree."""
    def refresh(self) -> None:
        """Forgets what this Node learnt, so the next reads ask the server again."""
    def get_metadata(self, stream: str, filter: Optional[str] = None, depth: int = 0) -> str:
        """Stream `stream`'s text; `filter` and `depth` are handed to the server (servers that
        can narrow the answer use them)."""
    def set_metadata(self, stream: str, data: str) -> None: ...
    def metadata_streams(self) -> list[str]:
        """The names of the node's metadata streams."""
    def read_frame(self, index: int, *,
                   out: Union[npt.NDArray[Any], bytearray, memoryview, None] = None
                   ) -> Union[npt.NDArray[Any], bytes, bytearray, memoryview]:
        """Frame `index` of the clip. Without `out`: a new array of the clip format's
        array_shape and array_dtype, filled by the library in place, or bytes for formats
        that do not map to an array. With `out`: fills it and returns it; it must match
        exactly (a C-contiguous writable array of that shape and dtype, or for raw formats a
        writable buffer of frame_buffer_size bytes), else FrameFormatError. IndexError for
        an index outside the frames; Error for a node that is no clip."""
    def write_frame(self, index: int,
                    data: Union[npt.NDArray[Any], bytes, bytearray, memoryview]) -> None:
        """Writes frame `index` from an array of the clip format's array_shape and
        array_dtype (a non-contiguous one is copied first), or for raw formats from a buffer
        of frame_buffer_size bytes. A mismatch raises FrameFormatError and writes nothing."""

class Metadata(MutableMapping[str, str]):
    """The metadata streams of a node: stream name -> text. Reads ask the server each time;
    assigning writes (or creates) a stream. Streams cannot be removed: del raises TypeError."""
    def __init__(self, node: Node) -> None: ...
    def __getitem__(self, stream: str) -> str: ...
    def __setitem__(self, stream: str, text: str) -> None: ...
    def __delitem__(self, stream: str) -> None: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...

def servers(database: Optional[str] = None) -> list[ServerInfo]:
    """The servers discovery knows of, those of `database` only when it is given. Until the
    library's discovery listens on the group, this searches it first and waits up to about a
    second for answers, so a server that has just started may show only on a later call.
    Needs an active Client block."""
