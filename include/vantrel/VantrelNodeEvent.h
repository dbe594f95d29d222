// VantrelNodeEvent: what happened to a node of a server, as the server reports it.
//
// Value: copies are deep. Threads: as VantrelDictionary (reading the details moves a cursor).
#pragma once

#include "vantrel/VantrelIds.h"
#include "vantrel/VantrelMetaData.h"
#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

class VANTREL_API VantrelNodeEvent {
public:
    // The application's receiver of events, registered for a node on a server handle.
    class VANTREL_API Handler {
    public:
        virtual ~Handler();
        // Runs on the library's event thread, once per event on a registered node.
        virtual void handleEvent(const VantrelNodeEvent& event) = 0;
    };

    // A null `type` counts as the empty text.
    VantrelNodeEvent(const VantrelNodeId& node, const char* type, const VantrelDictionary& details);
    VantrelNodeEvent(const VantrelNodeEvent& other);
    VantrelNodeEvent& operator=(const VantrelNodeEvent& other);
    virtual ~VantrelNodeEvent();

    const VantrelNodeId& getNodeId() const { return nodeId_; }
    const VantrelStr& getType() const { return type_; }
    const VantrelDictionary& getDetails() const { return details_; }

    // Same node id, same type and equal details.
    bool operator==(const VantrelNodeEvent& other) const;

private:
    VantrelNodeId nodeId_;
    VantrelStr type_;
    VantrelDictionary details_;
};
