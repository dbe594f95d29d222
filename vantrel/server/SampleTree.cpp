#include "vantrel/server/SampleTree.h"

#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

namespace {

// The colour-bar clip: frames big enough to look at, small enough for every test's sample.
constexpr int BARS_WIDTH = 256;
constexpr int BARS_HEIGHT = 144;
constexpr int BARS_FRAMES = 8;

// One frame of colour bars, 8-bit interleaved RGB, top line first: seven 75% bars (white,
// yellow, cyan, green, magenta, red, blue) over the upper two thirds, below them a grey ramp
// crossed by a white marker that moves with `index`, so each frame differs.
std::string colourBarsFrame(int index) {
    static const unsigned char bars[7][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191},
                                             {0, 191, 0},     {191, 0, 191}, {191, 0, 0},
                                             {0, 0, 191}};
    std::string bytes(static_cast<size_t>(BARS_WIDTH * BARS_HEIGHT * 3), '\0');
    const int markerX = (index * BARS_WIDTH / BARS_FRAMES) % BARS_WIDTH;
    for (int y = 0; y < BARS_HEIGHT; ++y)
        for (int x = 0; x < BARS_WIDTH; ++x) {
            unsigned char* pixel =
                reinterpret_cast<unsigned char*>(&bytes[static_cast<size_t>((y * BARS_WIDTH + x) * 3)]);
            if (y < BARS_HEIGHT * 2 / 3) {
                const unsigned char* bar = bars[x * 7 / BARS_WIDTH];
                pixel[0] = bar[0];
                pixel[1] = bar[1];
                pixel[2] = bar[2];
            } else {
                const bool marker = x >= markerX && x < markerX + BARS_WIDTH / BARS_FRAMES;
                const unsigned char grey = marker ? 255 : static_cast<unsigned char>(x * 255 / BARS_WIDTH);
                pixel[0] = pixel[1] = pixel[2] = grey;
            }
        }
    return bytes;
}

// A small RGB clip format, so that sample frames stay tiny.
VantrelClipFormat smallFormat(int width, int height, const char* metaData) {
    return VantrelClipFormat(width, height, 24, 3, width * height * 3, 24.0f, 1.0f,
                             VantrelClipFormat::progressive, VantrelClipFormat::FORMAT_RGB(),
                             "text", metaData);
}

class SampleMaker {
public:
    explicit SampleMaker(NodeStore& store) : store_(store) {}

    std::string folder(const std::string& parent, const char* name, const char* type) {
        return store_.createNode(parent, name, type, VantrelClipFormat()).id;
    }

    // A clip of BARS_FRAMES colour-bar frames, BARS_WIDTH x BARS_HEIGHT RGB at 24 fps.
    void colourBars(const std::string& parent, const char* name) {
        const VantrelClipFormat format(BARS_WIDTH, BARS_HEIGHT, 24, 3, BARS_WIDTH * BARS_HEIGHT * 3,
                                       24.0f, 1.0f, VantrelClipFormat::progressive,
                                       VantrelClipFormat::FORMAT_RGB(), "text", "colour bars");
        const std::string id = store_.createNode(parent, name, "CLIP", format).id;
        const Node& node = store_.allocateFrames(id, BARS_FRAMES, nullptr);
        for (size_t i = 0; i < node.frames.size(); ++i)
            store_.writeFrameData(id, node.frames[i], colourBarsFrame(static_cast<int>(i)));
        store_.setMetaData(id, "comments", "colour bars with a moving marker");
        store_.setMetaData(id, "timecode", "01:00:00:00");
    }

    void clip(const std::string& parent, const char* name, int frames, const char* comment) {
        const VantrelClipFormat format = smallFormat(8, 4, comment);
        const std::string id = store_.createNode(parent, name, "CLIP", format).id;
        const Node& node = store_.allocateFrames(id, frames, nullptr);
        for (size_t i = 0; i < node.frames.size(); ++i)
            store_.writeFrameData(id, node.frames[i], framePattern(format, i));
        store_.setMetaData(id, "comments", comment);
        store_.setMetaData(id, "timecode", "01:00:00:00");
    }

private:
    static std::string framePattern(const VantrelClipFormat& format, size_t index) {
        std::string bytes(static_cast<size_t>(format.frameBufferSize()), '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((i + index * 16) & 0xff);
        return bytes;
    }

    NodeStore& store_;
};

}  // namespace

void makeSampleTree(NodeStore& store) {
    if (store.size() > 1) throw ServerError("The tree in '" + store.directory() + "' is not empty");
    SampleMaker make(store);
    const std::string volume = make.folder(store.root().id, "Volume 1", "VOLUME");

    const std::string commercial = make.folder(volume, "Commercial", "PROJECT");
    const std::string vault = make.folder(commercial, "Shared Vault", "SHARED_VAULT");
    const std::string library = make.folder(vault, "Library A", "LIBRARY");
    const std::string reel = make.folder(library, "Reel 1", "REEL");
    make.clip(reel, "Shot 010", 3, "first shot, wide");
    make.clip(reel, "Shot 020", 2, "second shot, close-up");
    const std::string dailies = make.folder(library, "Dailies", "FOLDER");
    make.clip(dailies, "Take 1", 2, "good take");
    const std::string nested = make.folder(dailies, "Nested", "FOLDER");
    make.clip(nested, "Take 2", 1, "alternate");
    const std::string bin = make.folder(vault, "Bin 1", "BIN");
    make.clip(bin, "Coucher de soleil \xe2\x80\x94 caf\xc3\xa9", 2, "golden hour");

    const std::string feature = make.folder(volume, "Feature Film", "PROJECT");
    const std::string featureVault = make.folder(feature, "Vault", "SHARED_VAULT");
    const std::string main = make.folder(featureVault, "Main", "LIBRARY");
    const std::string featureReel = make.folder(main, "Reel 1", "REEL");
    make.clip(featureReel, "Opening", 4, "titles over black");
    make.colourBars(featureReel, "Colour Bars");
}

}  // namespace vantreld
