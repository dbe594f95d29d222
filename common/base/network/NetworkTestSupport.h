// Helpers for the network layer's tests: a network configuration read from a text the test
// writes, and an interface enumerator that answers a list the test makes.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "network/CoInterfaceEnumerator.h"
#include "network/CoNetworkConfig.h"

namespace Vantrel {
namespace testing {

// A network configuration of its own, read from `text` (written to a temporary file), with
// VANTREL_NETWORK_CFG out of the way while it lives.
class ScratchNetworkConfig {
public:
    explicit ScratchNetworkConfig(const std::string& text = "") {
        if (const char* value = getenv(VARIABLE)) saved_ = value, hadVariable_ = true;
        unsetenv(VARIABLE);
        if (mkdtemp(dir_) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = std::string(dir_) + "/network.cfg";
        std::ofstream(path_, std::ios::binary) << text;
        config_.reset(new Config(path_));
    }
    ~ScratchNetworkConfig() {
        std::remove(path_.c_str());
        rmdir(dir_);
        if (hadVariable_) setenv(VARIABLE, saved_.c_str(), 1);
    }
    ScratchNetworkConfig(const ScratchNetworkConfig&) = delete;
    ScratchNetworkConfig& operator=(const ScratchNetworkConfig&) = delete;

    CoNetworkConfig* get() { return config_.get(); }

private:
    static constexpr const char* VARIABLE = "VANTREL_NETWORK_CFG";
    class Config : public CoNetworkConfig {
    public:
        explicit Config(const std::string& file) : CoNetworkConfig(file.c_str()) {}
    };

    char dir_[32] = "/tmp/CoNetworkTest.XXXXXX";
    std::string path_;
    std::string saved_;
    bool hadVariable_ = false;
    std::unique_ptr<Config> config_;
};

// Flags of a made-up interface address.
enum RawFlags { UP = 1, LOOPBACK = 2, MULTICAST = 4, GATEWAY = 8 };

inline CoRawInterface rawInterface(const char* name, const char* address, unsigned flags,
                                   CoAddressFamily family = CoAddressFamily::IPV4,
                                   const char* netmask = "255.255.255.0") {
    CoRawInterface raw;
    raw.name = name;
    raw.up = (flags & UP) != 0;
    raw.loopback = (flags & LOOPBACK) != 0;
    raw.multicast = (flags & MULTICAST) != 0;
    raw.gateway = (flags & GATEWAY) != 0;
    raw.family = family;
    raw.address = address;
    raw.netmask = netmask;
    return raw;
}

// Answers the list it was last given, or fails with `error` when that is not empty.
class FakeEnumerator : public CoInterfaceEnumerator {
public:
    void set(std::vector<CoRawInterface> interfaces) {
        std::lock_guard<std::mutex> lock(mutex_);
        interfaces_ = std::move(interfaces);
    }
    void failWith(const std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = error;
    }
    int calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    bool enumerate(std::vector<CoRawInterface>& out, std::string& error) const override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++calls_;
        if (!error_.empty()) {
            error = error_;
            return false;
        }
        out = interfaces_;
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::vector<CoRawInterface> interfaces_;
    std::string error_;
    mutable int calls_ = 0;
};

}  // namespace testing
}  // namespace Vantrel
