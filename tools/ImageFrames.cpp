#include "ImageFrames.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebufalgo.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

namespace vantrel_tool {
namespace {

// The largest frame the tool converts: frame sizes travel as int.
constexpr uint64_t MAX_FRAME_BYTES = INT_MAX;

struct TagParts {
    std::string base;  // "mono", "rgb" or "rgba" for a convertible tag
    bool isFloat = false;
    bool littleEndian = false;
};

bool stripSuffix(std::string& text, const char* suffix) {
    const size_t length = std::strlen(suffix);
    if (text.size() < length || text.compare(text.size() - length, length, suffix) != 0)
        return false;
    text.erase(text.size() - length);
    return true;
}

TagParts splitTag(const std::string& tag) {
    TagParts parts;
    parts.base = tag;
    parts.littleEndian = stripSuffix(parts.base, "_le");
    parts.isFloat = stripSuffix(parts.base, "_float");
    return parts;
}

int channelsOfBase(const std::string& base) {
    if (base == "mono") return 1;
    if (base == "rgb") return 3;
    if (base == "rgba") return 4;
    return 0;
}

ImageError refusal(const VantrelClipFormat& format, const std::string& why) {
    return ImageError("clip format '" + std::string(format.formatTag()) +
                      "' cannot be converted to images: " + why);
}

OIIO::TypeDesc sampleTypeOf(const VantrelClipFormat& format, bool isFloat) {
    const int bits = format.bitsPerChannel();
    if (bits * format.numChannels() != format.bitsPerPixel())
        throw refusal(format, std::to_string(format.bitsPerPixel()) +
                                  " bits per pixel do not split into " +
                                  std::to_string(format.numChannels()) + " whole channels");
    if (isFloat && bits == 16) return OIIO::TypeDesc::HALF;
    if (isFloat && bits == 32) return OIIO::TypeDesc::FLOAT;
    if (!isFloat && bits == 8) return OIIO::TypeDesc::UINT8;
    if (!isFloat && bits == 16) return OIIO::TypeDesc::UINT16;
    throw refusal(format, std::to_string(bits) + "-bit " + (isFloat ? "float" : "integer") +
                              " samples (8 or 16-bit integers, 16 or 32-bit floats only)");
}

void swapSampleBytes(unsigned char* data, size_t size, size_t sampleBytes) {
    if (sampleBytes < 2) return;
    for (size_t at = 0; at + sampleBytes <= size; at += sampleBytes)
        std::reverse(data + at, data + at + sampleBytes);
}

bool hostIsBigEndian() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 0;
}

// The frame rate as a rational: whole rates exactly, NTSC-style rates as N000/1001, others
// to a thousandth.
void rateAsRational(float rate, int rational[2]) {
    const double fps = rate;
    const double ntsc = std::round(fps * 1001.0 / 1000.0) * 1000.0;
    if (std::fabs(fps - std::round(fps)) < 1e-4) {
        rational[0] = static_cast<int>(std::round(fps));
        rational[1] = 1;
    } else if (std::fabs(ntsc / 1001.0 - fps) < 1e-3) {
        rational[0] = static_cast<int>(ntsc);
        rational[1] = 1001;
    } else {
        const int thousandths = static_cast<int>(std::round(fps * 1000.0));
        const int divisor = std::max(1, std::gcd(thousandths, 1000));
        rational[0] = thousandths / divisor;
        rational[1] = 1000 / divisor;
    }
}

float rateOf(const OIIO::ImageSpec& image, float defaultRate) {
    int rational[2] = {0, 0};
    if (image.getattribute("FramesPerSecond", OIIO::TypeRational, rational) && rational[0] > 0 &&
        rational[1] > 0)
        return static_cast<float>(static_cast<double>(rational[0]) / rational[1]);
    return defaultRate;
}

OIIO::TypeDesc clipSampleTypeFor(OIIO::TypeDesc imageType) {
    switch (imageType.basetype) {
        case OIIO::TypeDesc::UINT8:
        case OIIO::TypeDesc::INT8:
            return OIIO::TypeDesc::UINT8;
        case OIIO::TypeDesc::UINT16:
        case OIIO::TypeDesc::INT16:
            return OIIO::TypeDesc::UINT16;
        case OIIO::TypeDesc::HALF:
            return OIIO::TypeDesc::HALF;
        default:
            return OIIO::TypeDesc::FLOAT;
    }
}

std::string tagFor(int channels, OIIO::TypeDesc sampleType) {
    const std::string base = channels == 1 ? "mono" : channels == 3 ? "rgb" : "rgba";
    if (sampleType == OIIO::TypeDesc::HALF || sampleType == OIIO::TypeDesc::FLOAT)
        return base + "_float" + (hostIsBigEndian() ? "" : "_le");
    if (sampleType.size() > 1 && !hostIsBigEndian()) return base + "_le";
    return base;
}

std::string describe(const OIIO::ImageSpec& image) {
    return std::to_string(image.width) + "x" + std::to_string(image.height) + " with " +
           std::to_string(image.nchannels) + " channels";
}

// OpenImageIO's text of a failure on one line (its messages may hold several).
std::string oneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (text.empty()) return "its contents cannot be decoded";
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
        text.replace(at, 1, "; ");
    return text;
}

ImageError readFailure(const std::string& path, const std::string& why) {
    return ImageError("cannot read image '" + path + "': " + oneLine(why));
}

// Keeps what image decoders print on standard error themselves (libpng does) off the
// terminal while it lives: their failures reach the tool through OpenImageIO's error text.
// The tool decodes on one thread and writes nothing else meanwhile.
class DecoderChatterSilenced {
public:
    DecoderChatterSilenced() : saved_(::dup(STDERR_FILENO)) {
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && devNull >= 0) ::dup2(devNull, STDERR_FILENO);
        if (devNull >= 0) ::close(devNull);
    }
    ~DecoderChatterSilenced() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    DecoderChatterSilenced(const DecoderChatterSilenced&) = delete;
    DecoderChatterSilenced& operator=(const DecoderChatterSilenced&) = delete;

private:
    int saved_;
};

// Reading options: alpha as stored.
OIIO::ImageSpec readConfig() {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    return config;
}

// Writes `bytes` as the whole file `path` (made, or emptied first), each write and the close
// checked: a full disk or a failing device is an ImageError, never a short file.
void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    const auto failure = [&path] {
        return ImageError("cannot write image '" + path + "': " + std::strerror(errno));
    };
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw failure();
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            const ImageError error = failure();
            ::close(fd);
            throw error;
        }
        done += static_cast<size_t>(written);
    }
    if (::close(fd) != 0) throw failure();
}

}  // namespace

size_t FrameLayout::frameBytes() const {
    return static_cast<size_t>(width) * static_cast<size_t>(height) *
           static_cast<size_t>(channels) * sampleBytes();
}

TagSamples samplesOfTag(const std::string& tag) {
    const TagParts parts = splitTag(tag);
    TagSamples samples;
    samples.channels = channelsOfBase(parts.base);
    if (samples.channels > 0) samples.bitsPerChannel = parts.isFloat ? 32 : 8;
    return samples;
}

FrameLayout frameLayoutOf(const VantrelClipFormat& format) {
    const TagParts tag = splitTag(format.formatTag());
    FrameLayout layout;
    layout.channels = channelsOfBase(tag.base);
    if (layout.channels == 0)
        throw refusal(format, "only interleaved mono, rgb and rgba samples convert");
    if (format.numChannels() != layout.channels)
        throw refusal(format, std::to_string(format.numChannels()) +
                                  " channels where the tag holds " +
                                  std::to_string(layout.channels));
    layout.sampleType = sampleTypeOf(format, tag.isFloat);
    layout.bigEndian = !tag.littleEndian && layout.sampleBytes() > 1;
    if (format.width() <= 0 || format.height() <= 0)
        throw refusal(format, "empty picture of " + std::to_string(format.width()) + "x" +
                                  std::to_string(format.height()));
    layout.width = format.width();
    layout.height = format.height();
    const uint64_t bytes = static_cast<uint64_t>(layout.width) *
                           static_cast<uint64_t>(layout.height) *
                           static_cast<uint64_t>(layout.channels) * layout.sampleBytes();
    if (bytes > MAX_FRAME_BYTES)
        throw refusal(format, "frames of " + std::to_string(bytes) + " bytes are too large");
    if (format.frameBufferSize() > 0 && static_cast<uint64_t>(format.frameBufferSize()) < bytes)
        throw refusal(format, "frames of " + std::to_string(format.frameBufferSize()) +
                                  " bytes cannot hold pixels of " + std::to_string(bytes));
    return layout;
}

OIIO::ImageSpec imageSpecOf(const VantrelClipFormat& format) {
    const FrameLayout layout = frameLayoutOf(format);
    OIIO::ImageSpec image(layout.width, layout.height, layout.channels, layout.sampleType);
    if (layout.channels == 1) image.channelnames.assign(1, "Y");
    int rational[2];
    rateAsRational(format.frameRate(), rational);
    if (rational[0] > 0) image.attribute("FramesPerSecond", OIIO::TypeRational, rational);
    image.attribute("PixelAspectRatio", format.pixelRatio());
    image.attribute("oiio:UnassociatedAlpha", 1);
    return image;
}

VantrelClipFormat clipFormatOf(const OIIO::ImageSpec& image, float defaultRate) {
    if (image.nchannels != 1 && image.nchannels != 3 && image.nchannels != 4)
        throw ImageError("images of " + std::to_string(image.nchannels) +
                         " channels cannot make a clip (1, 3 or 4 channels only)");
    if (image.width <= 0 || image.height <= 0 || image.depth != 1)
        throw ImageError("image of " + describe(image) + " cannot make a clip");
    const OIIO::TypeDesc sampleType = clipSampleTypeFor(image.format);
    const int bits = static_cast<int>(sampleType.size()) * 8;
    const uint64_t bytes = static_cast<uint64_t>(image.width) *
                           static_cast<uint64_t>(image.height) *
                           static_cast<uint64_t>(image.nchannels) * sampleType.size();
    if (bytes > MAX_FRAME_BYTES)
        throw ImageError("image of " + describe(image) + " is too large for a clip frame");
    return VantrelClipFormat(image.width, image.height, bits * image.nchannels, image.nchannels,
                             static_cast<int>(bytes), rateOf(image, defaultRate),
                             image.get_float_attribute("PixelAspectRatio", 1.0f),
                             VantrelClipFormat::progressive,
                             tagFor(image.nchannels, sampleType).c_str(), nullptr, nullptr);
}

OIIO::ImageSpec readImageSpec(const std::string& path) {
    const DecoderChatterSilenced quiet;
    const OIIO::ImageSpec config = readConfig();
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) throw readFailure(path, OIIO::geterror());
    return input->spec();
}

namespace {

// The samples of `frame` in the host's byte order: `frame` itself, or a swapped copy kept in
// `swapped`. Throws ImageError when the frame is shorter than the layout needs.
const unsigned char* hostOrderSamples(const FrameLayout& layout, const void* frame, size_t size,
                                      std::vector<unsigned char>& swapped) {
    if (size < layout.frameBytes())
        throw ImageError("frame of " + std::to_string(size) + " bytes is shorter than the " +
                         std::to_string(layout.frameBytes()) + " its clip format needs");
    const unsigned char* pixels = static_cast<const unsigned char*>(frame);
    if (layout.bigEndian == hostIsBigEndian() || layout.sampleBytes() == 1) return pixels;
    swapped.assign(pixels, pixels + layout.frameBytes());
    swapSampleBytes(swapped.data(), swapped.size(), layout.sampleBytes());
    return swapped.data();
}

}  // namespace

OIIO::ImageBuf frameImage(const VantrelClipFormat& format, const void* frame, size_t size) {
    const FrameLayout layout = frameLayoutOf(format);
    std::vector<unsigned char> swapped;
    const unsigned char* pixels = hostOrderSamples(layout, frame, size, swapped);
    OIIO::ImageBuf image(imageSpecOf(format));
    if (!image.set_pixels(image.roi(), layout.sampleType, pixels))
        throw ImageError("cannot convert a frame: " + oneLine(image.geterror()));
    return image;
}

void writeFrameImage(const std::string& path, const VantrelClipFormat& format, const void* frame,
                     size_t size) {
    const FrameLayout layout = frameLayoutOf(format);
    std::vector<unsigned char> swapped;
    writeImageFile(path, imageSpecOf(format), hostOrderSamples(layout, frame, size, swapped));
}

OIIO::ImageBuf resizedImage(const OIIO::ImageBuf& image, int width, int height) {
    const OIIO::ImageSpec& shape = image.spec();
    if (width == shape.width && height == shape.height) return image;
    if (width <= 0 || height <= 0)
        throw ImageError("cannot resize a frame to " + std::to_string(width) + "x" +
                         std::to_string(height));
    OIIO::ImageBuf result = OIIO::ImageBufAlgo::resize(
        image, "", 0.0f, OIIO::ROI(0, width, 0, height, 0, 1, 0, shape.nchannels), 1);
    if (result.has_error()) throw ImageError("cannot resize a frame: " + oneLine(result.geterror()));
    return result;
}

void writeResizedFrameImage(const std::string& path, const VantrelClipFormat& format,
                            const void* frame, size_t size, int width, int height) {
    const OIIO::ImageBuf resized = resizedImage(frameImage(format, frame, size), width, height);
    OIIO::ImageSpec description = imageSpecOf(format);
    description.width = description.full_width = width;
    description.height = description.full_height = height;
    std::vector<unsigned char> pixels(description.image_bytes());
    const OIIO::ROI whole(0, width, 0, height, 0, 1, 0, description.nchannels);
    if (!resized.get_pixels(whole, description.format, pixels.data()))
        throw ImageError("cannot resize a frame: " + oneLine(resized.geterror()));
    writeImageFile(path, description, pixels.data());
}

void writeImageFile(const std::string& path, const OIIO::ImageSpec& image, const void* pixels) {
    std::vector<unsigned char> encoded;
    OIIO::Filesystem::IOVecOutput memory(encoded);
    auto output = OIIO::ImageOutput::create(path, &memory);
    if (!output)
        throw ImageError("cannot write image '" + path + "': " + oneLine(OIIO::geterror()));
    if (!output->open(path, image) || !output->write_image(image.format, pixels) ||
        !output->close())
        throw ImageError("cannot write image '" + path + "': " + oneLine(output->geterror()));
    output.reset();
    writeWholeFile(path, encoded);
}

std::vector<unsigned char> readFrameImage(const std::string& path,
                                          const VantrelClipFormat& format) {
    const FrameLayout layout = frameLayoutOf(format);
    const DecoderChatterSilenced quiet;
    const OIIO::ImageSpec config = readConfig();
    auto input = OIIO::ImageInput::open(path, &config);
    if (!input) throw readFailure(path, OIIO::geterror());
    const OIIO::ImageSpec& image = input->spec();
    if (image.width != layout.width || image.height != layout.height ||
        image.nchannels != layout.channels || image.depth != 1)
        throw ImageError("image '" + path + "' is " + describe(image) + ", the clip's frames are " +
                         std::to_string(layout.width) + "x" + std::to_string(layout.height) +
                         " with " + std::to_string(layout.channels) + " channels");
    std::vector<unsigned char> pixels(layout.frameBytes());
    if (!input->read_image(0, 0, 0, layout.channels, layout.sampleType, pixels.data()))
        throw readFailure(path, input->geterror());
    if (layout.bigEndian != hostIsBigEndian())
        swapSampleBytes(pixels.data(), pixels.size(), layout.sampleBytes());
    return pixels;
}

}  // namespace vantrel_tool
