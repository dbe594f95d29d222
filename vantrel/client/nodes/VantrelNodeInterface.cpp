#include "vantrel/client/nodes/VantrelNodeInterface.h"

VantrelNodeInterface::~VantrelNodeInterface() = default;

bool VantrelNodeInterface::createNode(const VantrelNodeId&, const char*, const char*, int,
                                      const VantrelClipFormat&, VantrelNodeId&) {
    setLastError("Creating nodes is not supported here.");
    return false;
}

bool VantrelNodeInterface::renameNode(VantrelNodeId&, const char*) {
    setLastError("Renaming nodes is not supported here.");
    return false;
}
