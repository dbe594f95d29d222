// The HTTP side of the web view: the page's static files and the JSON routes of WebApi,
// answered only for requests RequestGuard accepts (403 otherwise). Routes (README lists them):
//   GET  /                 /index.html, /app.js, /style.css (the page)
//   GET  /api/servers      GET /api/node  GET /api/children  GET /api/frame  GET /api/events
//   POST /api/create       POST /api/rename  POST /api/destroy  POST /api/metadata
// Query parameters name the server and node ("server", "id"); POST bodies are JSON objects
// and must be sent as application/json (a cross-site form cannot send that).
//
// Ownership: the WebApi and the EventFeed are not owned and must outlive the object.
// Threads: listen() blocks until stop(), answering on a pool of threads; stop() from any
// thread (a signal's waiter) after closing the feed, so that event streams end. At most
// MAX_EVENT_STREAMS event streams are open at once (a further one is answered 503), so open
// pages never hold every thread of the pool.
#pragma once

#include <memory>
#include <string>

#include "EventFeed.h"
#include "WebApi.h"

namespace vantrel_web {

class WebServer {
public:
    // Serves the files of `pageDirectory`.
    WebServer(WebApi& api, EventFeed& feed, const std::string& pageDirectory);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds `host` and `port` (0: one the system chooses); the port bound, or -1 on failure.
    int bind(const std::string& host, int port);
    // Answers requests until stop().
    void listen();
    void stop();

private:
    class Routes;
    std::unique_ptr<Routes> routes_;
};

}  // namespace vantrel_web
