// A node server made in the test process from the library's own serving side, for the cases a
// real server never produces: it answers every node method with whatever the test sets, and
// records each request's method and argument text exactly as received.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rcApi/rcAttrStream.h"
#include "rcApi/rcMethod.h"
#include "rcApi/rcServerContext.h"

namespace clienttest {

class FakeNodeServer : public Vantrel::rcServerContext {
public:
    struct Request {
        std::string method;
        std::string args;
        bool operator==(const Request& other) const {
            return method == other.method && args == other.args;
        }
        friend void PrintTo(const Request& request, std::ostream* out) {
            *out << request.method << "(" << request.args << ")";
        }
    };

    // Listens on a loopback port the system picks and serves on a thread of its own.
    FakeNodeServer() : Vantrel::rcServerContext(-1) {
        static const Vantrel::rcParam::Info rawArgs[] = {
            {&Vantrel::rcParamString::TYPE, "args"}, {nullptr, nullptr}};
        for (const char* name : methodNames())
            registerMethod(Vantrel::rcMethod(*this, name, serve, Vantrel::rcParamString::TYPE,
                                             rawArgs));
        loop_ = std::thread([this] {
            while (!stop_) {
                struct timeval pass = {0, 20000};
                callIOHandlers(false, pass);
            }
        });
    }
    ~FakeNodeServer() override {
        stop_ = true;
        loop_.join();
    }

    // Every later `method` gets `reply`: "ok" with it, or "error" with it as the text.
    void answer(const std::string& method, const std::string& reply, bool ok = true) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_[method] = std::make_pair(ok, reply);
    }

    // Answers "GetDaemonInfo" as a server of protocol version major.minor.maint.build
    // listening on this port.
    void playVersion(int major, int minor, int maint, int build) {
        Vantrel::rcAttrStream info;
        info.addStringValue("IP0", "127.0.0.1");
        info.addIntValue("NodePort", getPort());
        info.addIntValue("VersionMajor", major);
        info.addIntValue("VersionMinor", minor);
        info.addIntValue("VersionMaint", maint);
        info.addIntValue("VersionBuild", build);
        answer("GetDaemonInfo", info.getStreamStr());
    }

    // Node requests received so far (logins, pings and descriptions left out).
    std::vector<Request> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    void clearRequests() {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }
    std::string serverId() const { return "127.0.0.1:" + std::to_string(getPort()); }

private:
    static const std::vector<const char*>& methodNames() {
        static const std::vector<const char*> names = {
            "GetDaemonInfo", "GetRootNode", "GetParentNode", "CreateNode", "CreateNodeEx",
            "CanCreateNode", "RenameNode", "DestroyNode", "GetNodeType", "GetNodeTypeStr",
            "GetDisplayName", "GetDisplayNameEx", "GetClipFormat", "GetNbReadAheads",
            "GetChildren", "GetChildrenEx", "AllocateFrames", "AllocateFramesEx", "GetFrames",
            "GetFramesEx", "SetFramePaths", "SetFramePathsEx", "GetFramePaths",
            "GetFramePathsEx", "GetMetaData", "SetMetaData", "QueryMetaDataSupport",
            "GetStreamId", "GetStorageId", "QueryNodePlugInVendor", "QueryNodePlugInProduct",
            "QueryNodePlugInVersion", "RegisterEvents", "UnregisterEvents"};
        return names;
    }

    static bool serve(void*, const Vantrel::rcMethod& method, const Vantrel::rcParam::Array& params,
                      Vantrel::rcParam& result) {
        auto& self = static_cast<FakeNodeServer&>(method.getServerContext());
        std::lock_guard<std::mutex> lock(self.mutex_);
        const std::string name = method.getName();
        if (name != "GetDaemonInfo") self.requests_.push_back({name, params[0]->stringValue()});
        const auto reply = self.replies_.find(name);
        if (reply == self.replies_.end()) return true;
        if (!reply->second.first) {
            method.setLastError(reply->second.second.c_str());
            return false;
        }
        result.setStringValue(reply->second.second);
        return true;
    }

    mutable std::mutex mutex_;
    std::map<std::string, std::pair<bool, std::string>> replies_;
    std::vector<Request> requests_;
    std::atomic<bool> stop_{false};
    std::thread loop_;
};

}  // namespace clienttest
