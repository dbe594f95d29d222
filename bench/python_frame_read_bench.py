#!/usr/bin/env python3
"""Reading 12 MiB frames through the Python module into numpy arrays, beside the C++ API.

Starts vantreld on the sample tree, writes a clip of 12 MiB RGB frames (2048 x 2048, 8 bits),
then prints, from one run, frames per second and GB/s of
  - C++: VantrelNodeHandle::readFrame into one buffer (bench/frame_read_cpp_baseline),
  - Python: clip.read_frame(i), a new numpy array per frame (dropped before the next),
  - Python: clip.read_frame(i, out=array), one array for every frame,
each the best of several rounds over the clip (the three interleaved), and the ratio of each Python figure to C++.
Build with -DVANTREL_BENCH=ON, then run inside a private network namespace:

    scripts/in-netns.sh /usr/bin/python3 bench/python_frame_read_bench.py build/bench
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time

FRAMES = 16
ROUNDS = 3
TRIALS = 3
FOLDER = "/Volume 1/Commercial/Shared Vault/Library A/Dailies"
WIDTH = HEIGHT = 2048  # 2048 * 2048 * 3 bytes = 12 MiB


def main():
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/bench").resolve()
    sys.path.insert(0, str(build / "python"))
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "python" / "tests"))
    os.environ.setdefault("VANTRELD", str(build / "vantrel" / "server" / "vantreld"))
    import numpy as np
    import vantrel
    from conftest import Vantreld, sample_tree

    with tempfile.TemporaryDirectory() as tree, vantrel.Client():
        daemon = Vantreld(sample_tree(pathlib.Path(tree) / "tree"), "--no-discovery", "--no-sync")
        try:
            server = vantrel.Server(daemon.address)
            clip = make_clip(server, np, vantrel)
            path = FOLDER + "/" + clip.name
            out = np.empty(clip.clip_format.array_shape, clip.clip_format.array_dtype)
            cpp = fresh = into = float("inf")
            for _ in range(TRIALS):  # interleaved, so that load from elsewhere hits all three
                cpp = min(cpp, cpp_figure(build, daemon.address, path))
                fresh = min(fresh, best_of(lambda: read_each(lambda i: clip.read_frame(i))))
                into = min(into, best_of(lambda: read_each(lambda i: clip.read_frame(i, out=out))))
        finally:
            daemon.stop()
    frame_bytes = WIDTH * HEIGHT * 3
    print(f"{FRAMES} frames of {frame_bytes / 2**20:.0f} MiB, best of {TRIALS} x {ROUNDS} rounds")
    report("C++ readFrame, one buffer", cpp, frame_bytes, cpp)
    report("Python read_frame(i)", fresh, frame_bytes, cpp)
    report("Python read_frame(i, out=)", into, frame_bytes, cpp)


def make_clip(server, np, vantrel):
    clip = server.resolve(FOLDER).create("bench", "CLIP", vantrel.ClipFormat(WIDTH, HEIGHT))
    clip.allocate_frames(FRAMES)
    rng = np.random.default_rng(1)
    for index in range(FRAMES):
        clip.write_frame(index, rng.integers(0, 256, (HEIGHT, WIDTH, 3), dtype=np.uint8))
    clip.read_frame(0)  # opens the frame link
    return clip


def read_each(read):
    """Reads every frame; each array goes before the next is read, as in a pipeline."""
    for index in range(FRAMES):
        read(index)


def best_of(read_all):
    read_all()  # warm up: page cache, connections
    best = float("inf")
    for _ in range(ROUNDS):
        start = time.perf_counter()
        read_all()
        best = min(best, time.perf_counter() - start)
    return best


def cpp_figure(build, address, path):
    program = build / "bench" / "frame_read_cpp_baseline"
    printed = subprocess.run([str(program), address, path, str(ROUNDS + 1)], check=True,
                             capture_output=True, text=True).stdout
    fields = dict(word.split("=") for word in printed.split())
    return float(fields["seconds"])


def report(label, seconds, frame_bytes, cpp_seconds):
    print(f"{label:28s} {FRAMES / seconds:8.1f} frames/s {FRAMES * frame_bytes / seconds / 1e9:7.2f}"
          f" GB/s  ratio to C++ {cpp_seconds / seconds:5.2f}")


if __name__ == "__main__":
    main()
