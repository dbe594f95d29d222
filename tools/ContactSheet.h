// A contact sheet: frames of a clip side by side in a grid, each with its frame number under
// it, as one 8-bit RGB image.
//
// Tiles are `tileWidth` pixels wide and as high as the frame's shape and pixel ratio make
// them; the grid fills row by row, `columns` tiles to a row. Frame numbers are drawn in a
// small built-in digit font (no font files needed). Mono frames are shown grey, alpha is
// dropped, float samples are clamped to 0..1.
//
// Failure: ImageError (ImageFrames.h) for a clip format that does not convert to images, a
// sheet beyond MAX_SHEET_PIXELS or a frame shorter than its format needs.
// Threads: a value; one thread at a time.
#pragma once

#include <OpenImageIO/imagebuf.h>

#include <cstddef>

#include "ImageFrames.h"

namespace vantrel_tool {

constexpr int MIN_TILE_WIDTH = 16;
constexpr int MAX_TILE_WIDTH = 2048;
constexpr long long MAX_SHEET_PIXELS = 200LL * 1000 * 1000;

class ContactSheet {
public:
    // A sheet of `tiles` tiles (at least 1) for frames of `format`.
    ContactSheet(const VantrelClipFormat& format, size_t tiles, int columns, int tileWidth);

    // Draws the frame `frame` (`size` bytes) numbered `frameNumber` in tile `slot` (below
    // the tile count).
    void place(size_t slot, size_t frameNumber, const void* frame, size_t size);

    // The sheet (8-bit RGB, top row first).
    const OIIO::ImageBuf& image() const { return sheet_; }
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    int tileWidth() const { return tileWidth_; }
    int tileHeight() const { return tileHeight_; }

private:
    void drawNumber(size_t number, int centreX, int top);

    VantrelClipFormat format_;
    int columns_;
    int rows_;
    int tileWidth_;
    int tileHeight_;
    OIIO::ImageBuf sheet_;
};

}  // namespace vantrel_tool
