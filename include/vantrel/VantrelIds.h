// Identifiers of nodes and frames: opaque texts chosen by the server.
//
// Values: copies are deep. id() points into the object and stays valid until the object is
// changed or destroyed. Threads: as VantrelStr.
#pragma once

#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

// Names one node of a server's tree. Ordered, so that it can key a map.
class VANTREL_API VantrelNodeId {
public:
    // A null or empty `id` gives the empty id.
    VantrelNodeId(const char* id = nullptr);
    VantrelNodeId(const VantrelStr& id);
    VantrelNodeId(const VantrelNodeId& other);
    VantrelNodeId& operator=(const VantrelNodeId& other);
    virtual ~VantrelNodeId();

    // A null `id` gives the empty id.
    void setId(const char* id);
    const char* id() const { return id_.c_str(); }

    // Compare the id texts as VantrelStr does.
    bool operator==(const VantrelNodeId& other) const { return id_ == other.id_; }
    bool operator<(const VantrelNodeId& other) const { return id_ < other.id_; }

private:
    VantrelStr id_;
};

// Names one frame of a clip.
class VANTREL_API VantrelFrameId {
public:
    // A null or empty `id` gives the empty id.
    VantrelFrameId(const char* id = nullptr);
    VantrelFrameId(const VantrelStr& id);
    VantrelFrameId(const VantrelFrameId& other);
    VantrelFrameId& operator=(const VantrelFrameId& other);
    virtual ~VantrelFrameId();

    // A null `id` gives the empty id.
    void setId(const char* id);
    const char* id() const { return id_.c_str(); }

private:
    VantrelStr id_;
};
