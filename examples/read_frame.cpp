// Reads one frame of a clip from a Vantrel server into a buffer of the clip's frame size and
// prints its size and first bytes.
//
//   read_frame SERVER CLIP_PATH [FRAME_INDEX]
//
// SERVER as for print_tree (for example 127.0.0.1:7549); CLIP_PATH is a display-name path from
// the root ("/Volume 1/Feature Film/Vault/Main/Reel 1/Opening"). Exits with 1 and the
// library's error text on failure.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vantrel/VantrelClientAPI.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: read_frame SERVER CLIP_PATH [FRAME_INDEX [OUT_FILE]]\n");
        return 2;
    }
    const int index = argc > 3 ? std::atoi(argv[3]) : 0;
    VantrelClient library;
    if (!library.init()) return 1;
    VantrelServerHandle server(argv[1]);
    VantrelNodeHandle clip;
    VantrelClipFormat format;
    if (!VantrelResolveDisplayPath(server, argv[2], clip) || !clip.getClipFormat(format)) {
        std::fprintf(stderr, "error: %s\n", server.lastError());
        return 1;
    }
    std::vector<unsigned char> frame(static_cast<size_t>(format.frameBufferSize()));
    if (!clip.readFrame(index, frame.data(), static_cast<int>(frame.size()))) {
        std::fprintf(stderr, "error: %s\n", clip.lastError());
        return 1;
    }
    // The whole frame, as read, when a file is named: for comparing what two builds read.
    if (argc > 4) {
        std::FILE* out = std::fopen(argv[4], "wb");
        const bool written = out != nullptr && std::fwrite(frame.data(), 1, frame.size(), out) == frame.size();
        if (out != nullptr && std::fclose(out) != 0) return 1;
        if (!written) {
            std::fprintf(stderr, "error: cannot write %s\n", argv[4]);
            return 1;
        }
    }
    std::printf("Frame %d of %s: %zu bytes:", index, argv[2], frame.size());
    for (size_t i = 0; i < frame.size() && i < 16; ++i) std::printf(" %02x", frame[i]);
    std::printf("%s\n", frame.size() > 16 ? " ..." : "");
    return 0;
}
