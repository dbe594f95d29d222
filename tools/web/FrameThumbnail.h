// A frame of a clip as a small PNG or JPEG image for the web view, scaled to a width chosen by
// the page (its height follows the frame's shape and pixel ratio).
//
// Failure: ImageError (ImageFrames.h) for a clip format that cannot be shown as an image, a
// frame shorter than its format needs, or a failed conversion. Threads: any; no shared state.
#pragma once

#include <string>

#include "../ImageFrames.h"

namespace vantrel_web {

enum class ThumbnailKind { PNG, JPEG };

constexpr int MIN_THUMBNAIL_WIDTH = 16;
constexpr int MAX_THUMBNAIL_WIDTH = 2048;

// `width` is clamped to MIN_THUMBNAIL_WIDTH..MAX_THUMBNAIL_WIDTH and never above the frame's
// own width (thumbnails are never enlarged).
std::string encodeThumbnail(const VantrelClipFormat& format, const void* frame, size_t size,
                            int width, ThumbnailKind kind);

}  // namespace vantrel_web
