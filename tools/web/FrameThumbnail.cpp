#include "FrameThumbnail.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace vantrel_web {

using vantrel_tool::ImageError;

namespace {

OIIO::ImageBuf scaled(const OIIO::ImageBuf& image, int width, float pixelRatio) {
    const OIIO::ImageSpec& spec = image.spec();
    width = std::min(std::max(width, MIN_THUMBNAIL_WIDTH), std::min(MAX_THUMBNAIL_WIDTH, spec.width));
    const float ratio = pixelRatio > 0 ? pixelRatio : 1.0f;
    const int height = std::max(
        1, static_cast<int>(std::lround(double(spec.height) * width / (double(spec.width) * ratio))));
    return vantrel_tool::resizedImage(image, width, height);
}

// JPEG holds no alpha: keep the colour channels.
OIIO::ImageBuf withoutAlpha(const OIIO::ImageBuf& image) {
    if (image.nchannels() != 4) return image;
    OIIO::ImageBuf result = OIIO::ImageBufAlgo::channels(image, 3, {}, {}, {}, false, 1);
    if (result.has_error()) throw ImageError("cannot convert a frame: " + result.geterror());
    return result;
}

std::string encoded(const OIIO::ImageBuf& image, ThumbnailKind kind) {
    const std::string name = kind == ThumbnailKind::PNG ? "thumbnail.png" : "thumbnail.jpg";
    std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create(name);
    if (!output) throw ImageError("cannot encode " + name + ": " + OIIO::geterror());
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    OIIO::ImageSpec spec = image.spec();
    spec.set_format(OIIO::TypeDesc::UINT8);
    if (!output->set_ioproxy(&memory) || !output->open(name, spec) ||
        !image.write(output.get()) || !output->close())
        throw ImageError("cannot encode " + name + ": " + output->geterror());
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::string encodeThumbnail(const VantrelClipFormat& format, const void* frame, size_t size,
                            int width, ThumbnailKind kind) {
    OIIO::ImageBuf image = scaled(vantrel_tool::frameImage(format, frame, size), width,
                                  format.pixelRatio());
    if (kind == ThumbnailKind::JPEG) image = withoutAlpha(image);
    return encoded(image, kind);
}

}  // namespace vantrel_web
