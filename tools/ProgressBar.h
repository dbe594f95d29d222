// The progress line of long transfers, drawn in place on a terminal:
//
//   [##########          ]  12/24 frames  35.2/70.4 MB  14.1 MB/s  0:02 left
//
// It counts items (frames or files) and bytes; the totals may be unknown (0), and time left
// comes from the bytes when their total is known, else from the items. The line is redrawn
// at most ten times a second and once more, with a newline, by finish() (or by the destructor
// when a transfer stops early, so that an error message starts on a line of its own, or by
// the handler of SIGINT and SIGTERM when it draws on standard error: see PartialFile.h).
//
// Whether it shows is the caller's choice (shouldShow: a terminal, no --quiet); a disabled bar
// writes nothing at all.
// Threads: one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vantrel_tool {

class ProgressBar {
public:
    struct Snapshot {
        uint64_t items = 0;
        uint64_t totalItems = 0;  // 0: unknown
        uint64_t bytes = 0;
        uint64_t totalBytes = 0;  // 0: unknown
        double seconds = 0;       // since the start
    };

    // Whether a bar belongs on descriptor `fd`: a terminal, and not quiet.
    static bool shouldShow(int fd, bool quiet);
    // The line for `snapshot`, at most `columns` characters (no carriage return or newline);
    // `unit` names the items ("frames", "files").
    static std::string render(const Snapshot& snapshot, const std::string& unit, int columns);

    // Draws on `out` (not owned) when `enabled`; the width is the terminal's, when `out` is one.
    ProgressBar(FILE* out, bool enabled, const std::string& unit, uint64_t totalItems,
                uint64_t totalBytes);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Counts `items` more items and `bytes` more bytes.
    void advance(uint64_t items, uint64_t bytes);
    // Draws the final line and ends it.
    void finish();

private:
    void draw();
    void endLine();

    FILE* const out_;
    const bool enabled_;
    const std::string unit_;
    const std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    Snapshot counts_;
    int columns_;
    bool drawn_ = false;
    bool finished_ = false;
};

}  // namespace vantrel_tool
