"""Frames as numpy arrays: read, read into, write byte for byte, mismatches refused."""
import threading

import numpy as np
import pytest

import vantrel

SHOT = "/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 010"
DAILIES = "/Volume 1/Commercial/Shared Vault/Library A/Dailies"


def sample_frame(index, size=96):
    """The bytes the sample tree writes into frame `index` of its 8x4 RGB clips."""
    return bytes((i + index * 16) & 0xFF for i in range(size))


def test_read_frame_gives_an_array_the_library_filled(server):
    clip = server.resolve(SHOT)
    for index in range(3):
        frame = clip.read_frame(index)
        assert (frame.shape, frame.dtype) == ((4, 8, 3), np.uint8)
        assert frame.flags.c_contiguous and frame.flags.owndata
        assert frame.tobytes() == sample_frame(index)


def test_read_frame_into_a_callers_array(server):
    clip = server.resolve(SHOT)
    out = np.zeros((4, 8, 3), np.uint8)
    assert clip.read_frame(2, out=out) is out
    assert out.tobytes() == sample_frame(2)


# (format, dtype of the array it maps to)
FORMATS = [
    (vantrel.ClipFormat(8, 4), np.dtype("u1")),
    (vantrel.ClipFormat(5, 3, 64, 4, "rgba_le"), np.dtype("<u2")),
    (vantrel.ClipFormat(4, 2, 48, 3, "rgb"), np.dtype(">u2")),
    (vantrel.ClipFormat(3, 3, 96, 3, "rgb_float_le"), np.dtype("<f4")),
    (vantrel.ClipFormat(6, 2, 8, 1, "mono"), np.dtype("u1")),
]


@pytest.mark.parametrize("form,dtype", FORMATS, ids=lambda f: getattr(f, "format_tag", None))
def test_frames_written_from_arrays_read_back_byte_for_byte(server, form, dtype):
    clip = server.resolve(DAILIES).create("Written", "CLIP", form)
    clip.allocate_frames(2)
    shape = (form.height, form.width, form.channels)
    assert (form.array_shape, form.array_dtype) == (shape, dtype)
    rng = np.random.default_rng(7)
    frames = [rng.integers(0, 256, shape[0] * shape[1] * shape[2] * dtype.itemsize,
                           dtype=np.uint8).view(dtype).reshape(shape) for _ in range(2)]
    for index, frame in enumerate(frames):
        clip.write_frame(index, frame)
    reader = vantrel.Server(server.id).resolve(DAILIES + "/Written")
    for index, frame in enumerate(frames):
        back = reader.read_frame(index)
        assert back.dtype == dtype and back.tobytes() == frame.tobytes()


def test_a_non_contiguous_array_is_written_in_its_logical_order(server):
    clip = server.resolve(SHOT)
    wide = np.arange(4 * 16 * 3, dtype=np.uint8).reshape(4, 16, 3)
    view = wide[:, ::2, :]
    clip.write_frame(0, view)
    assert clip.read_frame(0).tobytes() == view.tobytes()


@pytest.mark.parametrize("bad", [
    np.zeros((8, 4, 3), np.uint8),        # height and width swapped
    np.zeros((4, 8, 4), np.uint8),        # one channel too many
    np.zeros((4, 8, 3), np.uint16),       # wrong dtype
    np.zeros(96, np.uint8),               # right size, flat
    b"\0" * 96,                           # bytes for an array format
])
def test_a_mismatching_array_is_refused(server, bad):
    clip = server.resolve(SHOT)
    with pytest.raises(vantrel.FrameFormatError, match="does not match the clip format"):
        clip.write_frame(0, bad)
    if isinstance(bad, np.ndarray):
        with pytest.raises(vantrel.FrameFormatError, match="does not match the clip format"):
            clip.read_frame(0, out=bad)
    assert clip.read_frame(0).tobytes() == sample_frame(0)  # nothing was written


def test_read_into_a_read_only_or_strided_array_is_refused(server):
    clip = server.resolve(SHOT)
    read_only = np.zeros((4, 8, 3), np.uint8)
    read_only.flags.writeable = False
    with pytest.raises(vantrel.FrameFormatError, match="writable"):
        clip.read_frame(0, out=read_only)
    strided = np.zeros((4, 16, 3), np.uint8)[:, ::2, :]
    with pytest.raises(vantrel.FrameFormatError, match="C-contiguous"):
        clip.read_frame(0, out=strided)
    assert not strided.any()


def test_packed_formats_travel_as_raw_bytes(server):
    form = vantrel.ClipFormat(4, 2, 16, 3, "uyvy")  # 4:2:2, two bytes per pixel
    assert form.array_shape is None and form.frame_buffer_size == 16
    clip = server.resolve(DAILIES).create("Packed", "CLIP", form)
    clip.allocate_frames(1)
    data = bytes(range(100, 116))
    clip.write_frame(0, data)
    back = clip.read_frame(0)
    assert isinstance(back, bytes) and back == data
    out = bytearray(16)
    clip.read_frame(0, out=out)
    assert out == data
    with pytest.raises(vantrel.FrameFormatError, match="expected 16 bytes, got 15"):
        clip.write_frame(0, data[:15])
    with pytest.raises(vantrel.FrameFormatError, match="must be a buffer"):
        clip.write_frame(0, "a text of 16 chr")


@pytest.mark.parametrize("form", [
    vantrel.ClipFormat(2**31 - 1, 2**31 - 1, 24, 3, frame_buffer_size=96),  # sizes that overflow
    vantrel.ClipFormat(8, 4, 24, 3, frame_buffer_size=100),  # padded: no array
    vantrel.ClipFormat(8, 4, 30, 3, "rgb"),  # 10-bit channels
    vantrel.ClipFormat(8, 4, 24, 3, "dpx"),  # a file format
])
def test_formats_that_make_no_array(form):
    assert form.array_shape is None and form.array_dtype is None


def test_a_format_too_large_for_a_transfer_is_refused():
    with pytest.raises(ValueError, match="would not fit"):
        vantrel.ClipFormat(65536, 65536)


@pytest.mark.parametrize("index", [3, -1, 2**31 - 1])
def test_frame_index_out_of_range_raises_index_error(server, index):
    clip = server.resolve(SHOT)
    frame = clip.read_frame(0)
    for attempt in (lambda: clip.read_frame(index), lambda: clip.write_frame(index, frame)):
        with pytest.raises(vantrel.IndexError, match="Frame index out of range") as raised:
            attempt()
        assert isinstance(raised.value, IndexError) and isinstance(raised.value, vantrel.Error)


def test_a_node_that_is_no_clip_has_no_format_nor_frames(server):
    folder = server.resolve(DAILIES)
    for attempt in (lambda: folder.clip_format, lambda: folder.read_frame(0),
                    lambda: folder.write_frame(0, b"x")):
        with pytest.raises(vantrel.Error, match="'Dailies' is a FOLDER, not a clip"):
            attempt()


@pytest.mark.parametrize("shared_server", [True, False], ids=["one Server", "a Server each"])
def test_two_threads_read_frames_at_once(server, shared_server):
    failures = []
    start = threading.Barrier(2)

    def read_all(index_offset):
        try:
            own = server if shared_server else vantrel.Server(server.id)
            clip = own.resolve(SHOT)
            start.wait()
            for round_ in range(50):
                index = (round_ + index_offset) % 3
                if clip.read_frame(index).tobytes() != sample_frame(index):
                    failures.append(f"frame {index} differs")
        except Exception as error:  # noqa: BLE001 (reported to the test below)
            failures.append(repr(error))

    threads = [threading.Thread(target=read_all, args=(n,)) for n in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_a_clip_format_copies_and_pickles_whole():
    import copy
    import pickle
    form = vantrel.ClipFormat(8, 4, 48, 3, "rgb_le", 25.0, None, 2.0, "field1_odd", "xml", "<m/>")
    for twin in (copy.copy(form), copy.deepcopy(form), pickle.loads(pickle.dumps(form))):
        assert twin == form and repr(twin) == repr(form)
        assert (twin.scan_format, twin.metadata_tag, twin.metadata) == ("field1_odd", "xml", "<m/>")
