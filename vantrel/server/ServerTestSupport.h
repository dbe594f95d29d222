// Test helpers of the server module: a temporary directory removed with its contents, and
// attribute-stream argument texts.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>

#include "rcApi/rcAttrStream.h"

#include "vantrel/server/ServerFiles.h"

namespace vantreld {
namespace testing {

class TempDir {
public:
    // A new directory under `base`, which must exist.
    explicit TempDir(const std::string& base = "/tmp") {
        std::string pattern = base + "/vantreld-test-XXXXXX";
        const char* made = ::mkdtemp(&pattern[0]);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        if (!path_.empty()) ServerFiles::removeTree(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The attribute-stream text of the given names and values, in order.
inline std::string stream(std::initializer_list<std::pair<const char*, std::string>> items) {
    Vantrel::rcAttrStream out;
    for (const auto& item : items) out.addStringValue(item.first, item.second.c_str());
    return out.getStreamStr();
}

}  // namespace testing
}  // namespace vantreld
