// Test fixture of the method handlers: a store in a temporary directory and a dispatcher that
// plays a given protocol version, with the node and server-level methods, and no socket.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "rcApi/rcAttrStream.h"
#include "vantrel/server/MethodDispatcher.h"
#include "vantrel/server/NodeMethods.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/RequestLog.h"
#include "vantrel/server/ServerMethods.h"
#include "vantrel/server/ServerSettings.h"
#include "vantrel/server/ServerTestSupport.h"

namespace vantreld {
namespace testing {

class MethodsFixture : public ::testing::Test {
protected:
    void SetUp() override { play(ProtocolVersion()); }

    // Rebuilds the dispatcher for another protocol version (the store stays).
    void play(const ProtocolVersion& version) {
        serverMethods_.reset(
            new ServerMethods(store_, settings_, version, [this] { ++shutdowns_; }));
        serverMethods_->setEndpoint({"127.0.0.1"}, 7549);
        dispatcher_.reset(new MethodDispatcher(version, &log_));
        nodeMethods_.registerWith(*dispatcher_);
        serverMethods_->registerWith(*dispatcher_);
    }

    Reply call(const std::string& method, const std::string& args = std::string(),
               bool fromLoopback = true) {
        Request request;
        request.method = method;
        request.args = args;
        request.clientId = 7;
        request.fromLoopback = fromLoopback;
        return dispatcher_->dispatch(request);
    }
    // The reply text of a call that must succeed.
    std::string ok(const std::string& method, const std::string& args = std::string()) {
        const Reply reply = call(method, args);
        EXPECT_TRUE(reply.ok) << method << "(" << args << "): " << reply.text;
        return reply.text;
    }
    // The error text of a call that must fail.
    std::string error(const std::string& method, const std::string& args = std::string()) {
        const Reply reply = call(method, args);
        EXPECT_FALSE(reply.ok) << method << "(" << args << ") gave " << reply.text;
        return reply.text;
    }

    static std::string stream(std::initializer_list<std::pair<const char*, std::string>> items) {
        return testing::stream(items);
    }

    TempDir dir_;
    ServerSettings settings_;
    RequestLog log_;
    NodeStore store_{dir_ / "tree", ServerFiles::Sync::FAST, "studio"};
    NodeMethods nodeMethods_{store_, settings_};
    std::unique_ptr<ServerMethods> serverMethods_;
    std::unique_ptr<MethodDispatcher> dispatcher_;
    int shutdowns_ = 0;
};

}  // namespace testing
}  // namespace vantreld
