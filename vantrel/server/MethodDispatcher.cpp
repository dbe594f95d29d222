#include "vantrel/server/MethodDispatcher.h"

#include "vantrel/server/RequestLog.h"

namespace vantreld {

MethodDispatcher::MethodDispatcher(const ProtocolVersion& version, RequestLog* log)
    : version_(version), log_(log) {}

void MethodDispatcher::add(const std::string& method, Handler handler) {
    handlers_[method] = std::move(handler);
}

Reply MethodDispatcher::dispatch(const Request& request) const {
    Reply reply = handle(request);  // not const: returned without a copy
    if (log_ != nullptr)
        log_->record(request.method, request.args,
                     "#" + std::to_string(request.clientId) +
                         (request.peer.empty() ? "" : " " + request.peer),
                     reply.ok ? "ok " + std::to_string(reply.text.size()) + " bytes"
                              : "error: " + reply.text);
    return reply;
}

Reply MethodDispatcher::handle(const Request& request) const {
    const auto handler = handlers_.find(request.method);
    if (handler == handlers_.end() || !version_.knows(request.method))
        return Reply{false, "Unknown method: " + request.method};
    try {
        return Reply{true, handler->second(request)};
    } catch (const std::exception& error) {
        return Reply{false, error.what()};
    }
}

std::vector<std::string> MethodDispatcher::methods() const {
    std::vector<std::string> names;
    for (const auto& entry : handlers_) names.push_back(entry.first);
    return names;
}

}  // namespace vantreld
