// The server list: the reply of the remote call "GetDaemonList", every server description a
// server knows of.
//
// Form: an attribute stream with "Count" (decimal int, the number of records) and one key per
// record, "Node" followed by its index in decimal from 0 to Count - 1, whose value is the
// record's own attribute-stream text. One empty record gives "Count 1 1Node0 0 ".
//
// Threads: plain functions.
#pragma once

#include <string>
#include <vector>

class VantrelServerListPayload {
public:
    // The payload listing `records` (record texts) in order.
    static std::string encode(const std::vector<std::string>& records);

    // The record texts of a received payload (any bytes), in index order.
    //   - "Count" absent, 0 or negative: no record, with the debug message "Stream does not
    //     have any nodes.";
    //   - a missing "Node<i>" below Count: the error "Stream is missing node I of COUNT." and
    //     the next index is tried. A run of several missing indices is reported by one error,
    //     "Stream is missing nodes FIRST to LAST of COUNT.", so that a hostile Count costs no
    //     more than the text's size.
    // Never reads outside the text; memory stays within the text's size.
    static std::vector<std::string> decode(const std::string& payload);
};
