// The texts of node requests and replies: node-id arguments, the two forms of a clip format,
// comma lists, children lists and number pairs. Used by VantrelNodeClientAPI; kept apart so
// that the encoders and decoders can be checked and fuzzed without a connection.
//
// Every decoder takes the reply text of a peer as hostile: it never reads outside it, keeps
// memory proportional to it and answers false (or an empty list) instead of failing hard.
// Threads: plain functions.
#pragma once

#include <string>
#include <vector>

#include "vantrel/VantrelClipFormat.h"
#include "vantrel/VantrelIds.h"
#include "vantrel/client/nodes/VantrelNodeInterface.h"

namespace VantrelNodeWire {

// A node id as a plain-text argument: quoted (rcParamStringToEscapedString) when it holds a
// space, as it stands otherwise.
std::string nodeIdText(const VantrelNodeId& id);
// The same for requests that separate their arguments by commas: an id holding a comma would
// split there, so it is refused with a CoException "Invalid node id: '<id>'.".
std::string commaFormNodeIdText(const VantrelNodeId& id);

// Text form of a clip format: "%d %d %d %d %d %g %g %s %d %s " from width, height, bits per
// pixel, channels, frame buffer size, pixel ratio, frame rate, format tag, scan format and
// metadata tag, then the metadata quoted with rcParamStringToEscapedString.
std::string clipFormatText(const VantrelClipFormat& format);
// Reads the text form a server answers: the ten fields separated by white space (each tag one
// word of at most 255 bytes), then the metadata as the rest of the text after white space,
// unchanged, at most 4095 bytes. False when one of the ten fields is missing or is not a
// number where one belongs; `format` is then unchanged.
bool parseClipFormatText(const std::string& text, VantrelClipFormat& format);
// Attribute-stream form: integers "w", "h", "bpp", "nch", "sz", floats "asp", "rate", string
// "fmt", integer "scan", strings "metag", "meta".
std::string clipFormatStream(const VantrelClipFormat& format);

// The items between commas, empty ones kept; the empty text has no items.
std::vector<std::string> splitCommaList(const std::string& text);
std::string joinCommaList(const std::vector<std::string>& items);

// "GetChildren": a comma list of node id, display name pairs; an unpaired last item is
// dropped.
std::vector<VantrelNodeInterface::Child> parseChildrenText(const std::string& text);
// "GetChildrenEx": an attribute stream whose every value is a stream holding "Id" and
// "Displ" (names left as sent). False, with `children` emptied, when a value lacks either
// key or the stream does not read cleanly to its end.
bool parseChildrenStream(const std::string& text,
                         std::vector<VantrelNodeInterface::Child>& children);

// "GetFramesEx", "AllocateFramesEx": frame ids as a counted list (VantrelCountedList::decode,
// whose failures give false with `ids` emptied). "GetFrames", "AllocateFrames": a comma list.
bool parseFrameIdList(const std::string& text, std::vector<VantrelFrameId>& ids);
std::vector<VantrelFrameId> parseFrameIdCommaList(const std::string& text);

// Two decimal integers separated by white space ("GetNodeType", "QueryNodePlugInVersion").
// False when either is missing; the outputs are then unchanged.
bool parseIntPair(const std::string& text, int& first, int& second);

}  // namespace VantrelNodeWire
