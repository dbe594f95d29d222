// Test helpers of the client module: the library initialised for a scope with a chosen
// shared-connection setting.
#pragma once

#include <string>

#include "vantrel/CoMsg.h"
#include "osal/CoEnvSettings.h"
#include "testing/MessageCapture.h"
#include "vantrel/VantrelClientAPI.h"

namespace vantrel_testing {

// Keeps the message filter level of the process for the scope: VantrelClientInit lowers it
// for good, which would hide the messages other tests of the same process look for.
class FilterLevelScope {
public:
    FilterLevelScope() : saved_(Vantrel::CoMsg::filterLevel()) {}
    ~FilterLevelScope() { Vantrel::CoMsg::setFilterLevel(saved_); }
    FilterLevelScope(const FilterLevelScope&) = delete;
    FilterLevelScope& operator=(const FilterLevelScope&) = delete;

private:
    Vantrel::CoMsg::Level saved_;
};

// Records every message, debug ones included, while alive. Make it before the ClientScope
// (and so before the library's threads start) and let it go after: it raises the level through
// the ZR_MSG_LEVEL setting, which VantrelClientInit leaves alone, instead of changing the
// filter under the feet of threads that post.
class DebugLog : public Vantrel::testing::MessageCapture {
public:
    DebugLog() {
        Vantrel::CoMsg::filterLevel();  // makes the level setting exist
        setting_ = Vantrel::CoEnvStringSetting::find("ZR_MSG_LEVEL");
        saved_ = setting_->value();
        setting_->set("debug");
    }
    ~DebugLog() override { setting_->set(saved_); }

    // The number of messages that contain `text` (and `also`, when given).
    int count(const std::string& text, const std::string& also = "") const {
        int n = 0;
        for (const std::string& line : texts())
            if (line.find(text) != std::string::npos && line.find(also) != std::string::npos) ++n;
        return n;
    }

private:
    Vantrel::CoEnvStringSetting* setting_;
    std::string saved_;
};

// VantrelClientInit with VANTREL_SHARED_CONNECTIONS set to `sharedConnections` (null: as the
// environment has it) for the scope; VantrelClientUninit and the old setting at its end.
class ClientScope {
public:
    explicit ClientScope(const char* sharedConnections = nullptr)
        : setting_(Vantrel::CoEnvStringSetting::find("VANTREL_SHARED_CONNECTIONS")),
          saved_(setting_->value()) {
        if (sharedConnections != nullptr) setting_->set(sharedConnections);
        initialized_ = VantrelClientInit();
    }
    ~ClientScope() {
        if (initialized_) VantrelClientUninit();
        setting_->set(saved_);
    }
    ClientScope(const ClientScope&) = delete;
    ClientScope& operator=(const ClientScope&) = delete;

    bool initialized() const { return initialized_; }

private:
    FilterLevelScope filterLevel_;
    Vantrel::CoEnvStringSetting* setting_;
    std::string saved_;
    bool initialized_;
};

}  // namespace vantrel_testing
