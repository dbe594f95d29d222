// The web view's HTTP routes against real vantreld processes and a real `vantrel web`: what
// the routes return, paging of a very wide folder, thumbnails, changes refused unless allowed,
// and requests from other sites or names refused.
#include <gtest/gtest.h>
#include <httplib.h>
#include <ftw.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <regex>

#include <nlohmann/json.hpp>

#include "RequestGuard.h"
#include "ToolTestSupport.h"

namespace {

using nlohmann::json;
using tool_testing::TempDir;
using tool_testing::ToolProcess;
using vantreld::testing::VantreldProcess;

// A sample tree served by vantreld, and `vantrel web` naming it.
class WebView {
public:
    explicit WebView(std::vector<std::string> webArgs, int wideChildren = 0) {
        const std::string tree = dir_ / "tree";
        VantreldProcess init({"--init-sample", tree});
        if (init.waitForExit(30000) != 0) return;
        if (wideChildren > 0) tool_testing::addWideFolder(tree, wideChildren);
        server_ = std::make_unique<VantreldProcess>(std::vector<std::string>{
            "--port", "0", "--no-sync", "--no-discovery", "--log", dir_ / "log", tree});
        const int port = server_->waitUntilReady(60000);
        if (port <= 0) return;
        serverId_ = "127.0.0.1:" + std::to_string(port);
        webArgs.insert(webArgs.begin(), {"web", "--listen", "127.0.0.1:0", "--no-discovery"});
        webArgs.push_back(serverId_);
        web_ = std::make_unique<ToolProcess>(webArgs);
        if (!web_->waitFor("\n", 30000)) return;
        std::smatch found;
        const std::string out = web_->result().out;
        if (std::regex_search(out, found, std::regex("http://127\\.0\\.0\\.1:([0-9]+)/")))
            webPort_ = std::stoi(found[1]);
    }

    bool running() const { return webPort_ > 0; }
    const std::string& server() const { return serverId_; }
    httplib::Client client() const { return httplib::Client("127.0.0.1", webPort_); }
    std::string host() const { return "127.0.0.1:" + std::to_string(webPort_); }

    httplib::Result fetch(const std::string& path, const httplib::Params& params) const {
        httplib::Client http = client();
        return http.Get(path.c_str(), params, httplib::Headers{}, httplib::Progress{});
    }
    json get(const std::string& path, const httplib::Params& params, int expected = 200) const {
        const auto result = fetch(path, params);
        EXPECT_TRUE(result) << path;
        if (!result) return json();
        EXPECT_EQ(result->status, expected) << path << ": " << result->body;
        return json::parse(result->body, nullptr, false);
    }
    // The id of the child `name` of node `id`.
    std::string child(const std::string& id, const std::string& name) const {
        const json page = get("/api/children", {{"server", serverId_}, {"id", id}});
        for (const json& row : page["children"])
            if (row["name"] == name) return row["id"];
        ADD_FAILURE() << "no child " << name << " in " << id;
        return "";
    }
    // The id of the node at `path` ("Volume 1/Feature Film/...").
    std::string at(const std::vector<std::string>& path) const {
        std::string id = get("/api/node", {{"server", serverId_}, {"id", ""}})["id"];
        for (const std::string& name : path) id = child(id, name);
        return id;
    }
    httplib::Result post(const std::string& path, const json& body) const {
        httplib::Client http = client();
        return http.Post(path.c_str(), body.dump(), "application/json");
    }

private:
    TempDir dir_{TempDir::IN_MEMORY};
    std::unique_ptr<VantreldProcess> server_;
    std::unique_ptr<ToolProcess> web_;
    std::string serverId_;
    int webPort_ = -1;
};

const std::vector<std::string> BARS{"Volume 1", "Feature Film", "Vault", "Main", "Reel 1",
                                    "Colour Bars"};

// The RGB pixel at (x, y) of the PNG `bytes`.
std::vector<int> pixelOf(const std::string& bytes, int x, int y, int* width = nullptr) {
    TempDir dir;
    std::ofstream(dir / "frame.png", std::ios::binary) << bytes;
    auto input = OIIO::ImageInput::open(dir / "frame.png");
    if (!input) return {};
    const OIIO::ImageSpec spec = input->spec();
    if (width != nullptr) *width = spec.width;
    std::vector<unsigned char> pixels(size_t(spec.width) * spec.height * spec.nchannels);
    input->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::UINT8, pixels.data());
    const unsigned char* p = &pixels[(size_t(y) * spec.width + x) * spec.nchannels];
    return {p[0], p[1], p[2]};
}

// A frame written after its thumbnail was made is shown anew: the clip's event drops the
// cached thumbnails (fetched again until it does, at most 20 s).
TEST(WebView, AFrameWrittenLaterIsNotShownFromTheCache) {
    WebView web({});
    ASSERT_TRUE(web.running());
    const std::string bars = web.at(BARS);
    const httplib::Params frame0 = {
        {"server", web.server()}, {"id", bars}, {"index", "0"}, {"width", "64"}};
    const auto before = web.fetch("/api/frame", frame0);
    ASSERT_TRUE(before && before->status == 200);
    EXPECT_EQ(pixelOf(before->body, 2, 2), (std::vector<int>{191, 191, 191}));

    const TempDir dir;
    std::string red(256 * 144 * 3, '\0');
    for (size_t i = 0; i < red.size(); i += 3) red[i] = '\xff';
    std::ofstream(dir / "red.raw", std::ios::binary) << red;
    std::string path = web.server() + ":";
    for (const std::string& name : BARS) path += "/" + name;
    const tool_testing::ToolResult put = tool_testing::runTool({"put", dir / "red.raw", path});
    ASSERT_EQ(put.status, 0) << put.err;

    std::vector<int> shown;
    for (int tries = 0; tries < 100 && shown != std::vector<int>{255, 0, 0}; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto after = web.fetch("/api/frame", frame0);
        ASSERT_TRUE(after && after->status == 200);
        shown = pixelOf(after->body, 2, 2);
    }
    EXPECT_EQ(shown, (std::vector<int>{255, 0, 0}));
}

// Opens an event stream on the web view at `port` as a page does and reads its status line:
// the socket (to be closed by the caller) and the HTTP status, or -1 and 0.
std::pair<int, int> openEventStream(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(port) + "\r\nAccept: text/event-stream\r\n\r\n";
    char status[13] = {};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()) ||
        ::recv(fd, status, 12, MSG_WAITALL) != 12) {
        ::close(fd);
        return {-1, 0};
    }
    return {fd, std::atoi(status + 9)};  // "HTTP/1.1 200"
}

// Every open page holds an event stream: with as many pages open as the view takes, requests
// are still answered, and a page beyond them is told so (503) instead of waiting for a worker.
TEST(WebView, OpenPagesNeverHoldEveryWorker) {
    WebView web({});
    ASSERT_TRUE(web.running());
    const int port = std::stoi(web.host().substr(web.host().rfind(':') + 1));
    std::vector<int> streams;
    for (int i = 0; i < 32; ++i) {
        const auto [fd, status] = openEventStream(port);
        ASSERT_EQ(status, 200) << "stream " << i;
        streams.push_back(fd);
    }
    EXPECT_EQ(web.get("/api/servers", {})["servers"].size(), 1u);
    const auto [beyond, status] = openEventStream(port);
    EXPECT_EQ(status, 503);
    ::close(beyond);
    EXPECT_TRUE(web.get("/api/node", {{"server", web.server()}, {"id", ""}}).contains("id"));
    for (int fd : streams) ::close(fd);
}

TEST(WebView, DescribesNodesAndScalesFramesOfTheSampleTree) {
    WebView web({});
    ASSERT_TRUE(web.running());
    const json servers = web.get("/api/servers", {})["servers"];
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers[0]["server"], web.server());
    EXPECT_TRUE(servers[0]["reachable"].get<bool>());

    const std::string bars = web.at(BARS);
    const json node = web.get("/api/node", {{"server", web.server()}, {"id", bars}});
    EXPECT_TRUE(node["clip"].get<bool>());
    EXPECT_EQ(node["frames"], 8);
    EXPECT_EQ(node["format"]["width"], 256);
    EXPECT_EQ(node["format"]["frameRate"], 24);
    EXPECT_EQ(node["streams"],
              json::parse(R"([{"name":"comments","text":"colour bars with a moving marker","truncated":false},
                              {"name":"timecode","text":"01:00:00:00","truncated":false}])"));

    const auto frame = web.fetch("/api/frame", {{"server", web.server()}, {"id", bars},
                                                {"index", "0"}, {"width", "128"}});
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->status, 200) << frame->body;
    EXPECT_EQ(frame->get_header_value("Content-Type"), "image/png");
    int width = 0;
    // Half size: the first bar (75% white) and the last (blue), away from their edges.
    EXPECT_EQ(pixelOf(frame->body, 4, 10, &width), (std::vector<int>{191, 191, 191}));
    EXPECT_EQ(pixelOf(frame->body, 124, 10), (std::vector<int>{0, 0, 191}));
    EXPECT_EQ(width, 128);

    const auto jpeg = web.fetch("/api/frame", {{"server", web.server()}, {"id", bars},
                                               {"index", "7"}, {"format", "jpeg"}});
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->status, 200);
    EXPECT_EQ(jpeg->body.substr(0, 3), "\xff\xd8\xff");

    // Wrong requests: clear errors, the view keeps serving.
    web.get("/api/frame", {{"server", web.server()}, {"id", bars}, {"index", "8"}}, 404);
    web.get("/api/node", {{"server", web.server()}, {"id", "clip 999999"}}, 404);
    web.get("/api/node", {{"server", "127.0.0.1:1"}, {"id", ""}}, 404);
    web.get("/api/children", {{"server", web.server()}, {"id", ""}, {"limit", "1001"}}, 400);
    web.get("/api/children", {{"server", web.server()}, {"id", ""}, {"offset", "x"}}, 400);
    EXPECT_EQ(web.get("/api/node", {{"server", web.server()}, {"id", bars}})["id"], bars);
}

TEST(WebView, PagesThroughAHundredThousandChildren) {
    WebView web({}, 100000);
    ASSERT_TRUE(web.running());
    const std::string wide = web.at({"Volume 1", "Wide"});
    const json first = web.get("/api/children", {{"server", web.server()}, {"id", wide}});
    EXPECT_EQ(first["total"], 100000);
    ASSERT_EQ(first["children"].size(), 100u);
    EXPECT_EQ(first["children"][0]["name"], "Item 000000");
    const json last = web.get("/api/children", {{"server", web.server()}, {"id", wide},
                                                {"offset", "99950"}, {"limit", "1000"}});
    ASSERT_EQ(last["children"].size(), 50u);
    EXPECT_EQ(last["children"][0]["name"], "Item 099950");
    EXPECT_EQ(last["children"][49]["name"], "Item 099999");
    EXPECT_EQ(web.get("/api/children", {{"server", web.server()}, {"id", wide},
                                        {"offset", "100000"}})["children"].size(), 0u);
}

TEST(WebView, RefusesChangesUnlessAllowed) {
    WebView readOnly({});
    WebView changing({"--allow-changes"});
    ASSERT_TRUE(readOnly.running() && changing.running());
    const std::string reel = readOnly.at({"Volume 1", "Feature Film", "Vault", "Main", "Reel 1"});
    const std::string main = readOnly.at({"Volume 1", "Feature Film", "Vault", "Main"});
    const std::string opening = readOnly.child(reel, "Opening");
    const std::vector<std::pair<std::string, json>> changes{
        {"/api/create", {{"id", main}, {"name", "New"}}},
        {"/api/rename", {{"id", opening}, {"name", "Renamed"}}},
        {"/api/metadata", {{"id", opening}, {"stream", "comments"}, {"text", "<b>x</b>"}}},
        {"/api/destroy", {{"id", opening}}},
    };
    for (const auto& change : changes) {
        json body = change.second;
        body["server"] = readOnly.server();
        const auto refused = readOnly.post(change.first, body);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 403) << change.first;
    }
    EXPECT_EQ(readOnly.child(reel, "Opening"), opening);  // still there, unchanged

    for (const auto& change : changes) {
        json body = change.second;
        body["server"] = changing.server();
        const auto done = changing.post(change.first, body);
        ASSERT_TRUE(done);
        EXPECT_EQ(done->status, 200) << change.first << ": " << done->body;
    }
    const json left = changing.get("/api/children", {{"server", changing.server()}, {"id", reel}});
    std::set<std::string> names;
    for (const json& row : left["children"]) names.insert(row["name"]);
    EXPECT_EQ(names, (std::set<std::string>{"Colour Bars"}));
    EXPECT_NE(changing.child(main, "New"), "");

    // A form of another site cannot post JSON: a body of any other type is refused.
    httplib::Client http = changing.client();
    const auto form = http.Post("/api/destroy", "server=x&id=y", "application/x-www-form-urlencoded");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->status, 415);
}

TEST(WebView, RefusesForeignHostsAndOrigins) {
    WebView web({"--allow-changes"});
    ASSERT_TRUE(web.running());
    const std::string own = web.host();
    const std::string port = own.substr(own.find(':') + 1);
    struct Case {
        std::string host;
        std::string origin;  // "" for none
        int status;
    };
    const std::vector<Case> cases{
        {own, "", 200},
        {own, "http://" + own, 200},
        {"localhost:" + port, "http://localhost:" + port, 200},
        {"evil.example:" + port, "", 403},          // a rebound name
        {"localhost.evil.example:" + port, "", 403},
        {own, "http://evil.example", 403},          // another site's page
        {own, "null", 403},
        {"127.0.0.1:1", "", 403},
    };
    for (const Case& c : cases)
        for (const char* path : {"/", "/api/servers"}) {
            httplib::Client http = web.client();
            httplib::Headers headers{{"Host", c.host}};
            if (!c.origin.empty()) headers.emplace("Origin", c.origin);
            const auto result = http.Get(path, headers);
            ASSERT_TRUE(result);
            EXPECT_EQ(result->status, c.status) << path << " Host " << c.host << " Origin " << c.origin;
        }
    // A change from another site's page is refused before it is made.
    httplib::Client http = web.client();
    const json body = {{"server", web.server()}, {"id", web.at({"Volume 1"})}};
    const auto refused = http.Post("/api/destroy", httplib::Headers{{"Origin", "http://evil.example"}},
                                   body.dump(), "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    web.at({"Volume 1"});
}

TEST(RequestGuard, AcceptsOnlyAddressesAndLocalhostOnItsPort) {
    const vantrel_web::RequestGuard guard(8080);
    for (const char* host : {"127.0.0.1:8080", "localhost:8080", "[::1]:8080", "192.168.1.4:8080"})
        EXPECT_EQ(guard.refusal(host, std::nullopt), "") << host;
    for (const char* host : {"", "127.0.0.1", "127.0.0.1:80", "localhost:8080x", "[::1:8080",
                             "example.com:8080", "127.0.0.1.nip.io:8080", "[::1]x:8080"})
        EXPECT_NE(guard.refusal(host, std::nullopt), "") << host;
    EXPECT_EQ(guard.refusal("localhost:8080", std::string("http://localhost:8080")), "");
    EXPECT_NE(guard.refusal("localhost:8080", std::string("http://127.0.0.1:8080")), "");
    EXPECT_NE(guard.refusal("localhost:8080", std::string("https://localhost:8080")), "");
}

}  // namespace
