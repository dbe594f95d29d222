// The C++ side of bench/python_frame_read_bench.py: reads every frame of a clip `rounds`
// times through VantrelNodeHandle::readFrame into one buffer of the clip's frame size (the
// same call the Python module makes) and prints the best round as
//   frames=N seconds=S bytes=B
//
//   frame_read_cpp_baseline SERVER CLIP_PATH ROUNDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vantrel/VantrelClientAPI.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: frame_read_cpp_baseline SERVER CLIP_PATH ROUNDS\n");
        return 2;
    }
    VantrelClient library;
    if (!library.init()) return 1;
    VantrelServerHandle server(argv[1]);
    VantrelNodeHandle clip;
    VantrelClipFormat format;
    int frames = 0;
    if (!VantrelResolveDisplayPath(server, argv[2], clip) || !clip.getClipFormat(format) ||
        !clip.getNumFrames(frames)) {
        std::fprintf(stderr, "error: %s\n", server.lastError());
        return 1;
    }
    std::vector<char> buffer(static_cast<size_t>(format.frameBufferSize()));
    double best = 1e30;
    for (int round = 0; round < std::atoi(argv[3]); ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i) {
            if (!clip.readFrame(i, buffer.data(), static_cast<int>(buffer.size()))) {
                std::fprintf(stderr, "error: %s\n", clip.lastError());
                return 1;
            }
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    std::printf("frames=%d seconds=%.6f bytes=%zu\n", frames, best, buffer.size() * frames);
    return 0;
}
