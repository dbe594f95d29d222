// Prints the node tree of a Vantrel server: display names, node types and clip formats.
//
//   print_tree SERVER [MAX_DEPTH]
//
// SERVER names the server as ADDRESS, ADDRESS:PORT or ADDRESS:DATABASE (for example
// 127.0.0.1:7549). Exits with 1 and the library's error text when the server cannot be read.
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "vantrel/VantrelClientAPI.h"

namespace {

void printClipFormat(const VantrelNodeHandle& node) {
    VantrelClipFormat format;
    if (!node.getClipFormat(format)) return;
    std::printf("  %dx%d %s, %d bits/pixel, %g fps", format.width(), format.height(),
                format.formatTag(), format.bitsPerPixel(), format.frameRate());
}

// Prints `node` and its descendants down to `maxDepth`; false on the first failure.
bool printNode(VantrelNodeHandle& node, int depth, int maxDepth) {
    VantrelStr name, type;
    bool isClip = false;
    if (!node.getDisplayName(name) || !node.getNodeTypeStr(type) || !node.getIsClipNode(isClip)) {
        std::fprintf(stderr, "error: %s\n", node.lastError());
        return false;
    }
    std::printf("%*s%s [%s]", depth * 2, "", name.c_str(), type.c_str());
    if (isClip) {
        printClipFormat(node);
        int frames = 0;
        if (node.getNumFrames(frames)) std::printf(", %d frames", frames);
    }
    std::printf("\n");
    if (depth >= maxDepth) return true;

    int count = 0;
    if (!node.getNumChildren(count)) {
        std::fprintf(stderr, "error: %s\n", node.lastError());
        return false;
    }
    for (int i = 0; i < count; ++i) {
        VantrelNodeHandle child;
        if (!node.getChild(i, child) || !printNode(child, depth + 1, maxDepth)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER [MAX_DEPTH]\n", argv[0]);
        return 2;
    }
    const int maxDepth = argc > 2 ? std::atoi(argv[2]) : 16;
    // Display names travel as UTF-8 and are shown in the user's own locale.
    std::setlocale(LC_ALL, "");

    VantrelClient library;
    if (!library.init()) {
        std::fprintf(stderr, "error: the library could not be initialised\n");
        return 1;
    }
    VantrelServerHandle server(argv[1]);
    VantrelServerInfo info;
    if (!server.getInfo(info)) {
        std::fprintf(stderr, "error: %s\n", server.lastError());
        return 1;
    }
    std::printf("Server '%s': %s %s, protocol %d.%d.%d\n", info.getDisplayName(), info.getProduct(),
                info.getProductVersionStr(), info.getVersionMajor(), info.getVersionMinor(),
                info.getVersionMaint());

    VantrelNodeHandle root;
    if (!server.getRootNode(root)) {
        std::fprintf(stderr, "error: %s\n", server.lastError());
        return 1;
    }
    return printNode(root, 0, maxDepth) ? 0 : 1;
}
