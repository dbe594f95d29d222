#include "ProgressBar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "PartialFile.h"

namespace vantrel_tool {
namespace {

constexpr int DEFAULT_COLUMNS = 80;
constexpr int BAR_WIDTH = 20;
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string duration(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

// The share done, from the bytes when their total is known, else from the items; -1 unknown.
double fractionDone(const ProgressBar::Snapshot& s) {
    if (s.totalBytes > 0) return std::min(1.0, static_cast<double>(s.bytes) / s.totalBytes);
    if (s.totalItems > 0) return std::min(1.0, static_cast<double>(s.items) / s.totalItems);
    return -1;
}

std::string bar(double fraction) {
    const int filled = fraction < 0 ? 0 : static_cast<int>(fraction * BAR_WIDTH);
    return "[" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, ' ') + "]";
}

std::string counted(uint64_t done, uint64_t total) {
    return std::to_string(done) + (total > 0 ? "/" + std::to_string(total) : "");
}

std::string timeLeft(const ProgressBar::Snapshot& s, double fraction) {
    if (fraction <= 0 || s.seconds <= 0) return "";
    return "  " + duration(s.seconds * (1 - fraction) / fraction) + " left";
}

int terminalColumns(FILE* out) {
    winsize size{};
    if (::ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return DEFAULT_COLUMNS;
}

}  // namespace

bool ProgressBar::shouldShow(int fd, bool quiet) {
    return !quiet && ::isatty(fd) == 1;
}

std::string ProgressBar::render(const Snapshot& s, const std::string& unit, int columns) {
    const double fraction = fractionDone(s);
    const double rate = s.seconds > 0 ? static_cast<double>(s.bytes) / s.seconds : 0;
    std::string line = bar(fraction) + "  " + counted(s.items, s.totalItems) + " " + unit + "  " +
                       (s.totalBytes > 0 ? megabytes(s.bytes) + "/" + megabytes(s.totalBytes)
                                         : megabytes(s.bytes)) +
                       " MB  " + megabytes(static_cast<uint64_t>(rate)) + " MB/s" +
                       timeLeft(s, fraction);
    if (columns > 0 && line.size() > static_cast<size_t>(columns - 1))
        line.resize(static_cast<size_t>(std::max(0, columns - 1)));
    return line;
}

ProgressBar::ProgressBar(FILE* out, bool enabled, const std::string& unit, uint64_t totalItems,
                         uint64_t totalBytes)
    : out_(out),
      enabled_(enabled),
      unit_(unit),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_),
      columns_(enabled ? terminalColumns(out) : DEFAULT_COLUMNS) {
    counts_.totalItems = totalItems;
    counts_.totalBytes = totalBytes;
    if (enabled_ && out_ == stderr) installInterruptHandlers();  // Ctrl-C ends the line
}

ProgressBar::~ProgressBar() {
    if (drawn_ && !finished_) endLine();
}

void ProgressBar::advance(uint64_t items, uint64_t bytes) {
    counts_.items += items;
    counts_.bytes += bytes;
    const auto now = std::chrono::steady_clock::now();
    if (!drawn_ || now - lastDraw_ >= REDRAW_INTERVAL) {
        lastDraw_ = now;
        draw();
    }
}

void ProgressBar::finish() {
    if (finished_) return;
    draw();
    finished_ = true;
    if (drawn_) endLine();
}

void ProgressBar::endLine() {
    std::fputc('\n', out_);
    std::fflush(out_);
    if (out_ == stderr) setProgressLineOpen(false);
}

void ProgressBar::draw() {
    if (!enabled_) return;
    counts_.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(out_, "\r%s\033[K", render(counts_, unit_, columns_).c_str());
    std::fflush(out_);
    drawn_ = true;
    // A signal that ends the tool now ends this line first (PartialFile.h).
    if (out_ == stderr) setProgressLineOpen(true);
}

}  // namespace vantrel_tool
