#include "ContactSheet.h"

#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace vantrel_tool {
namespace {

constexpr int GAP = 8;           // around and between tiles
constexpr int DOT = 2;           // pixels per dot of a digit
constexpr int GLYPH_WIDTH = 3;   // dots
constexpr int GLYPH_HEIGHT = 5;  // dots
constexpr int ADVANCE = (GLYPH_WIDTH + 1) * DOT;
constexpr int LABEL_HEIGHT = GLYPH_HEIGHT * DOT + 6;
const float BACKGROUND[3] = {0.15f, 0.15f, 0.15f};
const float INK[3] = {1.0f, 1.0f, 1.0f};

// The digits' dots, a row of three per character, top row first.
const char* const DIGITS[10][GLYPH_HEIGHT] = {
    {"###", "#.#", "#.#", "#.#", "###"}, {".#.", "##.", ".#.", ".#.", "###"},
    {"###", "..#", "###", "#..", "###"}, {"###", "..#", "###", "..#", "###"},
    {"#.#", "#.#", "###", "..#", "..#"}, {"###", "#..", "###", "..#", "###"},
    {"###", "#..", "###", "#.#", "###"}, {"###", "..#", "..#", "..#", "..#"},
    {"###", "#.#", "###", "#.#", "###"}, {"###", "#.#", "###", "..#", "###"}};

int tileHeightFor(const VantrelClipFormat& format, int tileWidth) {
    const double ratio = format.pixelRatio() > 0 ? format.pixelRatio() : 1.0;
    return std::max(1, static_cast<int>(std::lround(double(format.height()) * tileWidth /
                                                    (double(format.width()) * ratio))));
}

// `image` as three channels: grey for one, alpha dropped for four.
OIIO::ImageBuf asRgb(const OIIO::ImageBuf& image) {
    if (image.nchannels() == 3) return image;
    const int grey[3] = {0, 0, 0};
    const int colour[3] = {0, 1, 2};
    OIIO::ImageBuf result = OIIO::ImageBufAlgo::channels(
        image, 3, OIIO::cspan<int>(image.nchannels() == 1 ? grey : colour, 3), {}, {}, false, 1);
    if (result.has_error()) throw ImageError("cannot convert a frame: " + result.geterror());
    return result;
}

}  // namespace

ContactSheet::ContactSheet(const VantrelClipFormat& format, size_t tiles, int columns,
                           int tileWidth)
    : format_(format) {
    frameLayoutOf(format);  // refuses formats that are no images
    if (tiles == 0 || columns <= 0 || tileWidth < MIN_TILE_WIDTH || tileWidth > MAX_TILE_WIDTH)
        throw ImageError("a contact sheet needs frames, columns and a tile width from " +
                         std::to_string(MIN_TILE_WIDTH) + " to " + std::to_string(MAX_TILE_WIDTH));
    columns_ = static_cast<int>(std::min<size_t>(tiles, static_cast<size_t>(columns)));
    const size_t rows = (tiles + columns_ - 1) / columns_;
    tileWidth_ = tileWidth;
    tileHeight_ = tileHeightFor(format, tileWidth);
    const long long width = columns_ * (tileWidth_ + GAP) + GAP;
    const long long height = static_cast<long long>(rows) * (tileHeight_ + LABEL_HEIGHT + GAP) + GAP;
    if (rows > static_cast<size_t>(MAX_SHEET_PIXELS) || width * height > MAX_SHEET_PIXELS)
        throw ImageError("a contact sheet of " + std::to_string(tiles) + " tiles " +
                         std::to_string(tileWidth_) + " pixels wide is too large (at most " +
                         std::to_string(MAX_SHEET_PIXELS) + " pixels)");
    rows_ = static_cast<int>(rows);
    sheet_.reset(OIIO::ImageSpec(static_cast<int>(width), static_cast<int>(height), 3,
                                 OIIO::TypeDesc::UINT8));
    OIIO::ImageBufAlgo::fill(sheet_, BACKGROUND);
}

void ContactSheet::place(size_t slot, size_t frameNumber, const void* frame, size_t size) {
    const int column = static_cast<int>(slot % columns_);
    const int row = static_cast<int>(slot / columns_);
    const int left = GAP + column * (tileWidth_ + GAP);
    const int top = GAP + row * (tileHeight_ + LABEL_HEIGHT + GAP);
    const OIIO::ImageBuf tile =
        asRgb(resizedImage(frameImage(format_, frame, size), tileWidth_, tileHeight_));
    if (!OIIO::ImageBufAlgo::paste(sheet_, left, top, 0, 0, tile))
        throw ImageError("cannot place a frame on the sheet: " + sheet_.geterror());
    drawNumber(frameNumber, left + tileWidth_ / 2, top + tileHeight_ + 3);
}

void ContactSheet::drawNumber(size_t number, int centreX, int top) {
    const std::string digits = std::to_string(number);
    int x = centreX - static_cast<int>(digits.size()) * ADVANCE / 2;
    for (const char digit : digits) {
        for (int dotRow = 0; dotRow < GLYPH_HEIGHT; ++dotRow)
            for (int dotColumn = 0; dotColumn < GLYPH_WIDTH; ++dotColumn) {
                if (DIGITS[digit - '0'][dotRow][dotColumn] != '#') continue;
                const int dotX = x + dotColumn * DOT, dotY = top + dotRow * DOT;
                OIIO::ImageBufAlgo::fill(sheet_, INK,
                                         OIIO::ROI(dotX, dotX + DOT, dotY, dotY + DOT, 0, 1, 0, 3));
            }
        x += ADVANCE;
    }
}

}  // namespace vantrel_tool
