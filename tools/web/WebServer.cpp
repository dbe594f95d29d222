#include "WebServer.h"

#include <httplib.h>

#include <atomic>
#include <optional>

#include "RequestGuard.h"

namespace vantrel_web {

using nlohmann::json;

namespace {

// How often an idle event stream sends a comment, so that a closed page is noticed.
constexpr std::chrono::seconds KEEP_ALIVE{15};
// Event streams open at once (one per open page) and the workers that answer requests: the
// streams never take every worker, so other requests are answered with any number of pages.
constexpr int MAX_EVENT_STREAMS = 32;
constexpr size_t WORKER_THREADS = MAX_EVENT_STREAMS + 16;

void sendJson(httplib::Response& response, const json& document, int status = 200) {
    response.status = status;
    response.set_content(document.dump(-1, ' ', false, json::error_handler_t::replace),
                         "application/json; charset=utf-8");
}

std::string parameter(const httplib::Request& request, const char* name) {
    return request.has_param(name) ? request.get_param_value(name) : std::string();
}

long long number(const httplib::Request& request, const char* name, long long otherwise) {
    const std::string text = parameter(request, name);
    if (text.empty()) return otherwise;
    try {
        size_t used = 0;
        const long long value = std::stoll(text, &used);
        if (used == text.size()) return value;
    } catch (const std::exception&) {
    }
    throw ApiError(400, std::string("'") + name + "' must be a whole number");
}

// The JSON object a POST carries; refused unless sent as application/json.
json body(const httplib::Request& request) {
    const std::string type = request.get_header_value("Content-Type");
    if (type.rfind("application/json", 0) != 0)
        throw ApiError(415, "changes are sent as application/json");
    json parsed = json::parse(request.body, nullptr, false);
    if (!parsed.is_object()) throw ApiError(400, "the body must be a JSON object");
    return parsed;
}

std::string field(const json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end()) return "";
    if (!found->is_string()) throw ApiError(400, std::string("'") + name + "' must be a text");
    return found->get<std::string>();
}

std::string streamText(const std::vector<FeedMessage>& messages) {
    if (messages.empty()) return ": keep-alive\n\n";
    std::string text;
    for (const FeedMessage& message : messages)
        text += "id: " + std::to_string(message.sequence) + "\nevent: " + message.event +
                "\ndata: " + message.data + "\n\n";
    return text;
}

}  // namespace

class WebServer::Routes {
public:
    Routes(WebApi& api, EventFeed& feed, const std::string& pageDirectory)
        : api_(api), feed_(feed) {
        // Each open event stream holds a worker for as long as its page stays open.
        server_.new_task_queue = [] { return new httplib::ThreadPool(WORKER_THREADS); };
        server_.set_mount_point("/", pageDirectory);
        server_.set_pre_routing_handler([this](const httplib::Request& request,
                                               httplib::Response& response) {
            return screen(request, response);
        });
        addReads();
        addChanges();
    }

    int bind(const std::string& host, int port) {
        const int bound = port == 0 ? server_.bind_to_any_port(host) : 
                          (server_.bind_to_port(host, port) ? port : -1);
        if (bound > 0) guard_ = RequestGuard(bound);
        return bound;
    }
    void listen() { server_.listen_after_bind(); }
    void stop() { server_.stop(); }

private:
    httplib::Server::HandlerResponse screen(const httplib::Request& request,
                                            httplib::Response& response) {
        std::optional<std::string> origin;
        if (request.has_header("Origin")) origin = request.get_header_value("Origin");
        const std::string why = guard_.refusal(request.get_header_value("Host"), origin);
        if (why.empty()) return httplib::Server::HandlerResponse::Unhandled;
        sendJson(response, {{"error", why}}, 403);
        return httplib::Server::HandlerResponse::Handled;
    }

    // Runs `answer`, turning its ApiError into the JSON error document.
    template <typename Answer>
    httplib::Server::Handler handler(Answer answer) {
        return [answer](const httplib::Request& request, httplib::Response& response) {
            try {
                answer(request, response);
            } catch (const ApiError& error) {
                sendJson(response, {{"error", error.what()}}, error.status());
            }
        };
    }

    void getJson(const char* path, std::function<json(const httplib::Request&)> answer) {
        server_.Get(path, handler([answer](const httplib::Request& request,
                                           httplib::Response& response) {
                        sendJson(response, answer(request));
                    }));
    }

    void postJson(const char* path, std::function<json(const std::string&, const json&)> change) {
        server_.Post(path, handler([this, change](const httplib::Request& request,
                                                  httplib::Response& response) {
                         // Refused before the body is even looked at.
                         if (!api_.allowsChanges())
                             throw ApiError(403, "changes are not allowed (start the web view "
                                                 "with --allow-changes)");
                         const json object = body(request);
                         sendJson(response, change(field(object, "server"), object));
                     }));
    }

    void addReads() {
        getJson("/api/about", [this](const httplib::Request&) {
            return json{{"allowChanges", api_.allowsChanges()}};
        });
        getJson("/api/servers", [this](const httplib::Request&) { return api_.servers(); });
        getJson("/api/node", [this](const httplib::Request& r) {
            return api_.node(parameter(r, "server"), parameter(r, "id"));
        });
        getJson("/api/children", [this](const httplib::Request& r) {
            return api_.children(parameter(r, "server"), parameter(r, "id"),
                                 number(r, "offset", 0), number(r, "limit", DEFAULT_PAGE_SIZE));
        });
        server_.Get("/api/frame", handler([this](const httplib::Request& r,
                                                 httplib::Response& response) {
                        const bool jpeg = parameter(r, "format") == "jpeg";
                        const auto image = api_.thumbnail(
                            parameter(r, "server"), parameter(r, "id"), number(r, "index", 0),
                            static_cast<int>(std::min<long long>(
                                number(r, "width", 160), MAX_THUMBNAIL_WIDTH)),
                            jpeg ? ThumbnailKind::JPEG : ThumbnailKind::PNG);
                        response.set_content(*image, jpeg ? "image/jpeg" : "image/png");
                    }));
        server_.Get("/api/events", handler([this](const httplib::Request& request,
                                                  httplib::Response& response) {
                        streamEvents(request, response);
                    }));
    }

    void addChanges() {
        postJson("/api/create", [this](const std::string& server, const json& o) {
            return api_.createFolder(server, field(o, "id"), field(o, "name"), field(o, "type"));
        });
        postJson("/api/rename", [this](const std::string& server, const json& o) {
            return api_.rename(server, field(o, "id"), field(o, "name"));
        });
        postJson("/api/destroy", [this](const std::string& server, const json& o) {
            return api_.destroy(server, field(o, "id"));
        });
        postJson("/api/metadata", [this](const std::string& server, const json& o) {
            return api_.setMetaData(server, field(o, "id"), field(o, "stream"), field(o, "text"));
        });
    }

    // Server-Sent Events: the feed's messages from now on (or after Last-Event-ID when the
    // browser reconnects), a comment every KEEP_ALIVE while nothing happens.
    void streamEvents(const httplib::Request& request, httplib::Response& response) {
        if (++openStreams_ > MAX_EVENT_STREAMS) {
            --openStreams_;
            throw ApiError(503, "too many event streams are open (at most " +
                                    std::to_string(MAX_EVENT_STREAMS) + "): close a page");
        }
        uint64_t after = feed_.latest();
        if (request.has_header("Last-Event-ID")) {
            try {
                after = std::min<uint64_t>(std::stoull(request.get_header_value("Last-Event-ID")),
                                           after);
            } catch (const std::exception&) {
            }
        }
        response.set_header("Cache-Control", "no-store");
        response.set_chunked_content_provider(
            "text/event-stream", [this, after](size_t, httplib::DataSink& sink) mutable {
                const std::string text = streamText(feed_.next(after, KEEP_ALIVE));
                if (feed_.closed()) {
                    sink.done();
                    return false;
                }
                return sink.write(text.data(), text.size());
            },
            [this](bool) { --openStreams_; });
    }

    WebApi& api_;
    EventFeed& feed_;
    std::atomic<int> openStreams_{0};
    RequestGuard guard_{0};
    httplib::Server server_;
};

WebServer::WebServer(WebApi& api, EventFeed& feed, const std::string& pageDirectory)
    : routes_(std::make_unique<Routes>(api, feed, pageDirectory)) {}

WebServer::~WebServer() = default;

int WebServer::bind(const std::string& host, int port) { return routes_->bind(host, port); }

void WebServer::listen() { routes_->listen(); }

void WebServer::stop() { routes_->stop(); }

}  // namespace vantrel_web
