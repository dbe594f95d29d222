// Which requests the web view answers: those a browser sends from the view's own page, or
// that a program sends to it directly. A page of another site (cross-site requests) and a
// name that a hostile DNS server points at this machine (DNS rebinding) are refused.
//
// A request is the view's own when
//   - its Host header is "localhost:PORT" or an IP address with PORT ("127.0.0.1:PORT",
//     "[::1]:PORT"), PORT being the port the view listens on: a rebinding attack needs a
//     name of its own in Host, and no IP address is one;
//   - and its Origin header, when there is one, is "http://" followed by that same Host.
//
// Value type; no shared state, any thread.
#pragma once

#include <optional>
#include <string>

namespace vantrel_web {

class RequestGuard {
public:
    explicit RequestGuard(int port) : port_(port) {}

    // Why a request with these headers is refused ("" when it is not): `origin` is empty
    // when the request carried no Origin header.
    std::string refusal(const std::string& host, const std::optional<std::string>& origin) const;

private:
    bool hostIsOwn(const std::string& host) const;

    int port_;
};

}  // namespace vantrel_web
