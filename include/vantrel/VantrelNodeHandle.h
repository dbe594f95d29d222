// VantrelNodeHandle: the application's handle on one node of one server's tree.
//
// A handle names its node by a VantrelNodeId and its server by a VantrelServerHandle. What it
// learns about the node (type, display name, children, clip format, frame ids and paths,
// metadata stream names, parent) is fetched on first request and cached in the handle; the
// caches are dropped only when the handle is pointed at another node (setNodeId, assignment)
// or the node is destroyed. A handle adds to its caches the children it creates and the frames
// it allocates; after renaming it fetches the display name again, after linking frames the
// frame ids and paths.
//
// Failures: every operation that answers false leaves the reason in lastError(), which is the
// last error of the node's server handle (node operations report through it). A failed fetch
// leaves its cache empty and is tried again by the next request.
//
// Texts and the locale: texts cross the wire in UTF-8. Every text a handle sends (node and
// display names, frame paths, metadata stream names) is converted from the process's locale
// (LC_CTYPE) to UTF-8, and every text it reads back (display names, frame paths, stream
// names) from UTF-8 to the locale. A program that never calls setlocale runs in the C locale,
// which holds ASCII only: other characters then become "?" both ways, and a byte sequence
// that is no character of the locale ends the text sent with "?". Call setlocale(LC_ALL, "")
// at start, or run in a UTF-8 locale, where both conversions leave texts unchanged. Node ids,
// type texts, metadata contents and filters pass unchanged.
//
// Which request form goes to the server depends on the server's protocol version, from its
// description; when the description cannot be had the operation fails.
//
// Ownership: the handle owns its implementation (VantrelNodeImp); copies copy it, caches
// included. The server handle is not owned and must outlive the node handle.
// Threads: no lock; one handle is used by one thread at a time. Node handles made on one
// server handle share its last error (and its node client): they belong to the thread that
// uses that server handle. Other threads use server handles of their own (copies), whose
// requests take turns on the server's shared connection. The first default construction (which
// makes the process-wide default server handle) must not race with another.
#pragma once

#include "vantrel/VantrelClipFormat.h"
#include "vantrel/VantrelIds.h"
#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

class VantrelNodeImp;
class VantrelServerHandle;

class VANTREL_API VantrelNodeHandle {
public:
    // How far readFrame reads ahead: 0 not at all; n > 0 asks for n times the server's
    // number of read-aheads after the frame read.
    enum ReadAheadHint : int {
        NO_READ_AHEAD = 0,
        READ_AHEAD = 1,
    };

    // The empty node id on a process-wide default server handle (made once from the empty
    // server id, never destroyed).
    VantrelNodeHandle();
    // Node `id` of `server` (null `id` counts as the empty id).
    VantrelNodeHandle(const VantrelServerHandle& server, const VantrelNodeId& id);
    VantrelNodeHandle(const VantrelServerHandle& server, const char* id);
    VantrelNodeHandle(const VantrelNodeHandle& other);
    VantrelNodeHandle& operator=(const VantrelNodeHandle& other);
    virtual ~VantrelNodeHandle();

    // The server handle's last error: the text of the last failure of any handle on it, kept
    // until the next failure (successes do not clear it).
    const char* lastError() const;

    const VantrelNodeId& getNodeId() const;
    // Another id drops every cache; the same id keeps them.
    void setNodeId(const VantrelNodeId& id);
    const VantrelServerHandle& getServer() const;
    // Another server handle drops every cache; `server` must outlive this handle.
    void setServer(const VantrelServerHandle& server);

    bool getDisplayName(VantrelStr& name) const;
    // The server's type number.
    bool getNodeType(int& type) const;
    bool getIsClipNode(bool& isClip) const;
    // The type text ("HOST", "VOLUME", ... "CLIP", ...).
    bool getNodeTypeStr(VantrelStr& type) const;
    bool getClipFormat(VantrelClipFormat& format) const;

    bool getNumChildren(int& count);
    bool getNumChildren(unsigned int& count);
    // Child `index` (0 to count - 1, else "Child node index out of range"), with its display
    // name already known. `child` may be this handle.
    bool getChild(int index, VantrelNodeHandle& child) const;
    // `parent` may be this handle.
    bool getParentNode(VantrelNodeHandle& parent) const;

    // Whether a child of type text `type` may be created here. Servers from protocol version
    // 2015 on answer for themselves (and may allow more); for older ones the library answers
    // from its table: HOST holds VOLUME; VOLUME holds PROJECT; PROJECT holds SHARED_VAULT;
    // SHARED_VAULT, WORKSPACE and BINENTRY hold BIN and LIBRARY; BIN and LIBRARY hold FOLDER
    // and CLIP; REEL holds CLIP; FOLDER holds FOLDER and CLIP; DIR holds DIR; CLIP, HIRES,
    // LOWRES, SLATE and FILE hold nothing; another parent type fails with "Unhandled parent
    // node type 'TYPE'".
    bool canCreateNode(const char* type, bool& can) const;
    // Creates the child `name` of type `type`; `child` then refers to it, with its display
    // name known.
    bool createNode(const char* name, const char* type, VantrelNodeHandle& child);
    // The type printed in decimal, as a type text.
    bool createNode(const char* name, int type, VantrelNodeHandle& child);
    // As createNode, for a clip of `format`; the child knows its format, and its first
    // setNumFrames uses it without asking the server.
    bool createClipNode(const char* name, const VantrelClipFormat& format, const char* type,
                        VantrelNodeHandle& child);
    bool createClipNode(const char* name, const VantrelClipFormat& format, int type,
                        VantrelNodeHandle& child);
    // The server may give the node a new id, which this handle then holds.
    bool renameNode(const char* name);
    // Removes the node and its whole subtree (children, frames, metadata). On success every
    // cache is dropped; the handle keeps the (now gone) node's id.
    bool destroyNode();

    bool getNumFrames(int& count);
    bool getNumFrames(unsigned int& count);
    // Frame `index` (else "Frame index out of range").
    bool getFrameId(int index, VantrelStr& id) const;
    // Makes the node hold `count` frames of its clip format (the server keeps the ids of
    // frames it already had, up to `count`); their ids become the cached ones. 0 drops every
    // frame.
    bool setNumFrames(unsigned int count);
    // The file path of frame `index` as this machine sees it; an index at or beyond the
    // known paths gives "" (servers too old to tell give no paths). A negative index fails
    // with "Frame index out of range".
    bool getFrameIdPath(int index, VantrelStr& path) const;
    // Makes the node's frames the existing media files `paths` (`count` of them; null or a
    // count below 1 links none).
    bool linkToFrames(const VantrelStr* paths, int count);

    // The contents of metadata stream `stream`. `filter` (null: none) and `depth` are handed to
    // the server unchanged, for servers that can narrow the answer to a selection of the
    // stream and a number of levels below it; vantreld ignores both and answers the whole
    // stream.
    bool getMetaData(const char* stream, const char* filter, int depth, VantrelStr& data) const;
    bool setMetaData(const char* stream, const char* data) const;
    bool getNumAvailableMetaDataStreams(int& count) const;
    // Stream name `index` (else "Metadata stream index out of range").
    bool getAvailableMetaDataStream(int index, VantrelStr& name) const;
    // Whether one of the stream names equals `name` exactly (null: none does).
    bool getIsMetaDataStreamAvailable(const char* name, bool& available) const;
    bool getStreamId(VantrelStr& id) const;

    // The number of read-aheads the server advises, as known so far (0 until fetched); no
    // request.
    bool getNbReadAheads(int& count) const;
    // Fetches the number of read-aheads unless already known.
    bool activateReadAhead();

    // Frame `index` into `buffer` (`size` bytes), with `params` for the server; reads ahead
    // first as `hint` asks (from the second frame on). Through the server handle's frames.
    bool readFrame(int index, const void* params, unsigned int paramsSize, void* buffer,
                   unsigned int size, ReadAheadHint hint = READ_AHEAD);
    bool readFrame(int index, void* buffer, int size, bool noReadAhead = false);
    bool writeFrame(int index, const void* data, int size);

    // The implementation, for the other parts of the library.
    VantrelNodeImp* imp() const;

private:
    void adoptCreated(const VantrelNodeId& newId, const char* name, VantrelNodeHandle& child) const;

    VantrelNodeImp* imp_;
};

// The first child of `parent` whose display name is `name` (byte for byte, both in the
// locale's encoding). False when there is none, on a failure, or for a null `name`; `child`
// is then left as it was given. `parent`'s own caches are left as they are; `child` may be
// `parent`.
VANTREL_API bool VantrelFindChild(const VantrelNodeHandle& parent, const char* name, VantrelNodeHandle& child);

// The node at the display-name path `path` from the root of `server`'s tree: components are
// separated by "/" (or "\"), empty and "." components are skipped. False when the root cannot
// be had or a component is not found; `node` is then left as it was given.
VANTREL_API bool VantrelResolveDisplayPath(const VantrelServerHandle& server, const char* path,
                               VantrelNodeHandle& node);
