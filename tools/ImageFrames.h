// Frames of a clip as image files, through OpenImageIO (a dependency of the tool, never of
// the library).
//
// A clip converts when its format tag names an interleaved pixel layout:
//
//   tag                                   channels   samples
//   "mono", "rgb", "rgba"                 1, 3, 4    8- or 16-bit unsigned integers
//   "mono_le", "rgb_le", "rgba_le"        1, 3, 4    8- or 16-bit unsigned integers
//   "mono_float", "rgb_float", ...        1, 3, 4    16-bit (half) or 32-bit floats
//
// The sample size is the format's bits per channel (bits per pixel / channels); its channel
// count must match the tag. Samples wider than a byte are big-endian under a tag without
// "_le" and little-endian under one with it. Scanlines run top to bottom, pixels left to
// right, channels interleaved, with no padding; a frame holds width x height x channels
// samples (a larger frame buffer size is allowed and the rest ignored, a smaller one is
// refused; 0 means just the pixels). Any other tag (packed YUV, HLS, image file formats,
// audio) or size is refused with an ImageError naming it.
//
// The clip format's size, channels and sample type map onto the image's; its frame rate
// travels as the image attribute "FramesPerSecond" (a rational) and its pixel ratio as
// "PixelAspectRatio". Alpha is kept as stored (never premultiplied or divided).
//
// Failure: every function throws ImageError with a one-line reason naming the file or tag.
// Threads: no shared state; any thread.
#pragma once

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantrel/VantrelClipFormat.h"

namespace vantrel_tool {

class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How the samples of a convertible clip's frames are laid out.
struct FrameLayout {
    int width = 0;
    int height = 0;
    int channels = 0;
    OIIO::TypeDesc sampleType;  // UINT8, UINT16, HALF or FLOAT
    bool bigEndian = false;

    size_t sampleBytes() const { return sampleType.size(); }
    // Bytes of one frame's pixels.
    size_t frameBytes() const;
};

// What a convertible tag says of its pixels: channels (0 for any other tag) and the usual
// bits of one sample (8 for integer tags, 32 for float ones).
struct TagSamples {
    int channels = 0;
    int bitsPerChannel = 0;
};
TagSamples samplesOfTag(const std::string& tag);

// The layout of `format`'s frames; throws ImageError ("clip format 'uyvy' cannot be
// converted to images: ...") when it has none of the layouts above.
FrameLayout frameLayoutOf(const VantrelClipFormat& format);

// The image description of `format`'s frames (size, channels, sample type, frame rate and
// pixel ratio). Throws like frameLayoutOf.
OIIO::ImageSpec imageSpecOf(const VantrelClipFormat& format);

// The clip format whose frames hold images like `image`: 1, 3 or 4 channels; 8-bit samples
// stay 8-bit ("mono", "rgb", "rgba"), 16-bit ones 16-bit ("..._le"), half floats half and
// every other type becomes 32-bit float ("..._float_le"); progressive; frame rate from
// "FramesPerSecond" (else `defaultRate`), pixel ratio from "PixelAspectRatio" (else 1).
// Throws ImageError for another channel count or an empty image.
VantrelClipFormat clipFormatOf(const OIIO::ImageSpec& image, float defaultRate);

// The description of the first image in `path`; throws ImageError when it cannot be read.
OIIO::ImageSpec readImageSpec(const std::string& path);

// Writes the frame `frame` (`size` bytes, at least the layout's frameBytes()) of a clip of
// `format` as the image file `path`, in the file format its extension names (any format
// OpenImageIO writes: exr, dpx, tif, png, jpg, ...); formats that cannot hold the sample
// type get the nearest one they can. Throws ImageError.
void writeFrameImage(const std::string& path, const VantrelClipFormat& format, const void* frame,
                     size_t size);

// Like writeFrameImage, the image resized (filtered) to `width` x `height` first; its sample
// type and attributes stay those of imageSpecOf(format). Throws ImageError.
void writeResizedFrameImage(const std::string& path, const VantrelClipFormat& format,
                            const void* frame, size_t size, int width, int height);

// `image` resized (filtered) to `width` x `height` (both above 0), its channels and
// attributes kept; `image` itself when it has that size. Throws ImageError.
OIIO::ImageBuf resizedImage(const OIIO::ImageBuf& image, int width, int height);

// The frame `frame` (`size` bytes, at least the layout's frameBytes()) of a clip of `format`
// as an image in memory, described like imageSpecOf(format). Throws ImageError.
OIIO::ImageBuf frameImage(const VantrelClipFormat& format, const void* frame, size_t size);

// Writes `pixels` (samples of `image.format`, interleaved, top row first) as the image file
// `path`, in the file format its extension names. The image is encoded in memory and then
// written whole: a failed write or close (a full disk, say) throws ImageError and may leave a
// short file at `path`, never one reported as written.
void writeImageFile(const std::string& path, const OIIO::ImageSpec& image, const void* pixels);

// The pixels of the image file `path` as a frame of a clip of `format` (a format
// clipFormatOf gave, usually for the first file of a set). Throws ImageError when the file
// cannot be read or its size or channel count differs from the format's.
std::vector<unsigned char> readFrameImage(const std::string& path, const VantrelClipFormat& format);

}  // namespace vantrel_tool
