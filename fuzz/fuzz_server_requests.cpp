// vantreld's reading of whole requests on arbitrary bytes: the method dispatcher with every
// node and server-level method, over a sample tree, the way the node port hands it a request
// (method name and argument text). A request may only be answered, with ok or an error text;
// nothing may crash, and an error reply always says why.
//
// The input is the method name, a line feed, then the argument text. Seeds are requests
// clients sent to vantreld, in both the text and the attribute-stream forms. Requests that
// change the tree do change it: the tree is made afresh every STORE_LIFE inputs so that it
// stays small.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "vantrel/server/MethodDispatcher.h"
#include "vantrel/server/NodeMethods.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ProtocolVersion.h"
#include "vantrel/server/RequestLog.h"
#include "vantrel/server/SampleTree.h"
#include "vantrel/server/ServerFiles.h"
#include "vantrel/server/ServerMethods.h"
#include "vantrel/server/ServerSettings.h"

using fuzzing::check;

namespace {

constexpr int STORE_LIFE = 2000;

// A sample tree in a directory of its own and the methods that serve it.
class Server {
public:
    Server() : directory_(makeDirectory()) {
        store_.reset(new vantreld::NodeStore(directory_ + "/tree", vantreld::ServerFiles::Sync::FAST));
        vantreld::makeSampleTree(*store_);
        nodeMethods_.reset(new vantreld::NodeMethods(*store_, settings_));
        serverMethods_.reset(new vantreld::ServerMethods(*store_, settings_, version_, [] {}));
        serverMethods_->setEndpoint({"127.0.0.1"}, 7549, 7550);
        dispatcher_.reset(new vantreld::MethodDispatcher(version_, &log_));
        nodeMethods_->registerWith(*dispatcher_);
        serverMethods_->registerWith(*dispatcher_);
    }
    ~Server() {
        dispatcher_.reset();
        serverMethods_.reset();
        nodeMethods_.reset();
        store_.reset();
        vantreld::ServerFiles::removeTree(directory_);
    }

    vantreld::Reply serve(const std::string& method, const std::string& args) {
        vantreld::Request request;
        request.method = method;
        request.args = args;
        request.clientId = 7;
        return dispatcher_->dispatch(request);
    }

private:
    static std::string makeDirectory() {
        char pattern[] = "/tmp/vantrel-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        check(made != nullptr);
        return made;
    }

    std::string directory_;
    vantreld::ServerSettings settings_;
    vantreld::ProtocolVersion version_;
    vantreld::RequestLog log_;
    std::unique_ptr<vantreld::NodeStore> store_;
    std::unique_ptr<vantreld::NodeMethods> nodeMethods_;
    std::unique_ptr<vantreld::ServerMethods> serverMethods_;
    std::unique_ptr<vantreld::MethodDispatcher> dispatcher_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzzing::discardMessages();
    (void)quiet;
    static std::unique_ptr<Server> server;
    static int served = 0;
    if (!server || ++served % STORE_LIFE == 0) {
        server.reset();
        server.reset(new Server());
    }

    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t end = input.find('\n');
    const std::string method = input.substr(0, end);
    // "Shutdown" only calls back; every other method is served as it comes.
    const std::string args = end == std::string::npos ? std::string() : input.substr(end + 1);
    const vantreld::Reply reply = server->serve(method, args);
    if (!reply.ok) check(!reply.text.empty());
    return 0;
}
