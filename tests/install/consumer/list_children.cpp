// A program outside the Vantrel source tree, built against an installed Vantrel only: prints
// the library's version, then the children of one node of a server with their node types.
//
//   list_children SERVER PATH        e.g. list_children 127.0.0.1:7549 "/Volume 1"
//
// Exits with 1 and the library's error text when the node cannot be read, 2 on wrong usage.
#include <clocale>
#include <cstdio>

#include "vantrel/VantrelClientAPI.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SERVER PATH\n", argv[0]);
        return 2;
    }
    std::setlocale(LC_ALL, "");
    VantrelClient library;
    if (!library.init()) return 1;
    int major = 0, minor = 0, maint = 0;
    VantrelClientGetVersion(major, minor, maint);
    std::printf("Vantrel %d.%d.%d\n", major, minor, maint);

    VantrelServerHandle server(argv[1]);
    VantrelNodeHandle node;
    int count = 0;
    if (!VantrelResolveDisplayPath(server, argv[2], node) || !node.getNumChildren(count)) {
        std::fprintf(stderr, "error: cannot read '%s': %s\n", argv[2], server.lastError());
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        VantrelNodeHandle child;
        VantrelStr name, type;
        if (!node.getChild(i, child) || !child.getDisplayName(name) || !child.getNodeTypeStr(type)) {
            std::fprintf(stderr, "error: %s\n", server.lastError());
            return 1;
        }
        std::printf("%s [%s]\n", name.c_str(), type.c_str());
    }
    return 0;
}
