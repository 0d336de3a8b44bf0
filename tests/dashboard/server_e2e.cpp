// The dashboard's server through a Beast client, against the bus worker on an
// in-process simulated bus: access checks, upload limits, every message kind,
// several pages, downloads.

#include "dashboard/bus_worker.h"
#include "dashboard/dashboard_server.h"

#include "cli/bus_session.h"
#include "cli/stop_flag.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using nlohmann::json;
using namespace kinetra::dashboard;
using namespace std::chrono_literals;

/// Bounds every wait for a reply or an effect: generous, for sanitizer builds on a loaded machine.
constexpr auto kWait = 30s;
/// The simulator's emergency stop state.
constexpr int kStoppedState = 3;

struct HttpResult {
    unsigned status = 0;
    std::string body;
};

/// One request on a fresh connection; `host` empty means the server's own address.
HttpResult request(unsigned port, http::verb verb, const std::string& target, const std::string& host,
                   const std::string& origin = {}, const std::string& body = {}) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    HttpResult result;
    stream.expires_after(kWait);
    stream.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)),
                         [&](beast::error_code error) {
        if (error) return;
        auto req = std::make_shared<http::request<http::string_body>>(verb, target, 11);
        req->set(http::field::host, host);
        if (!origin.empty()) req->set(http::field::origin, origin);
        if (!body.empty() || verb == http::verb::post) {
            req->body() = body;
            req->prepare_payload();
        }
        http::async_write(stream, *req, [&, req](beast::error_code, std::size_t) {
            // A refusal may come before the whole body was taken: read whatever comes.
            auto buffer = std::make_shared<beast::flat_buffer>();
            auto res = std::make_shared<http::response<http::string_body>>();
            http::async_read(stream, *buffer, *res, [&, buffer, res](beast::error_code error, std::size_t) {
                if (error) return;
                result.status = res->result_int();
                result.body = res->body();
            });
        });
    });
    ioc.run_for(kWait);
    return result;
}

/// A page: a WebSocket client whose reads are bounded.
class PageClient {
public:
    /// Connects with these Host and Origin headers; false when refused.
    bool connect(unsigned port, const std::string& host, const std::string& origin, const std::string& target = "/ws") {
        bool done = false;
        ws_.next_layer().expires_after(kWait);
        ws_.set_option(websocket::stream_base::decorator(
            [origin](websocket::request_type& req) { req.set(http::field::origin, origin); }));
        ws_.next_layer().async_connect(
            tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)),
            [&](beast::error_code error) {
                if (error) return;
                ws_.async_handshake(host, target, [&](beast::error_code error) { done = !error; });
            });
        ioc_.run_for(kWait);
        ioc_.restart();
        ws_.next_layer().expires_never();
        return done;
    }
    void send(const json& message) { sendText(message.dump()); }
    void sendText(const std::string& text, bool binary = false) {
        ws_.binary(binary);
        ws_.write(net::buffer(text));
    }
    /// The next message within `within`, or nullopt.
    std::optional<json> next(std::chrono::steady_clock::duration within) {
        std::optional<json> message;
        buffer_.clear();
        bool ended = false;
        ws_.async_read(buffer_, [&](beast::error_code error, std::size_t) {
            ended = true;
            if (!error) message = json::parse(beast::buffers_to_string(buffer_.data()), nullptr, false);
        });
        ioc_.run_for(within);
        if (!ended) {
            beast::get_lowest_layer(ws_).close();  // the read ends; this page is done
            ioc_.run();
        }
        ioc_.restart();
        return message;
    }
    /// Reads until a message satisfies `wanted` (returned) or kWait passes (null).
    json until(const std::function<bool(const json&)>& wanted) {
        const auto end = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < end) {
            auto message = next(end - std::chrono::steady_clock::now());
            if (!message) break;
            if (wanted(*message)) return *message;
        }
        return nullptr;
    }
    /// Sends a request with `id` and returns its reply.
    json ask(json message, std::int64_t id) {
        message["id"] = id;
        send(message);
        return until([id](const json& m) { return m.value("type", "") == "reply" && m.value("id", -1) == id; });
    }
    void close() { beast::get_lowest_layer(ws_).close(); }

private:
    net::io_context ioc_;
    websocket::stream<beast::tcp_stream> ws_{ioc_};
    beast::flat_buffer buffer_;
};

/// Whether a status message shows node `node` in `state`.
bool inState(const json& message, unsigned node, int state) {
    if (message.value("type", "") != "status") return false;
    for (const json& entry : message["nodes"]) {
        if (entry["node"] == node && entry["answered"] == true && entry["state_code"] == state) return true;
    }
    return false;
}

/// The latest value of a channel of `node` in a telemetry message, NaN when absent.
double channelValue(const json& message, unsigned node, std::size_t channel) {
    double value = NAN;
    if (message.value("type", "") != "telemetry") return value;
    for (const json& row : message["rows"]) {
        if (row[2] == node && row[3 + channel].is_number()) value = row[3 + channel].get<double>();
    }
    return value;
}

class DashboardServerTest : public ::testing::Test {
protected:
    void start(const std::string& host = "127.0.0.1", bool stop_on_disconnect = false) {
        choice_.sim = true;
        stop_.clear();  // the last worker's stop raised it
        session_ = std::make_unique<kinetra::cli::BusSession>(choice_, stop_);
        session_->open();
        for (unsigned node = 1; node <= 4; ++node) session_->waitForNode(node);
        worker_ = std::make_unique<BusWorker>(*session_, stop_, BusWorkerOptions{100.0, stop_on_disconnect});
        server_ = std::make_unique<DashboardServer>(ListenAddress{host, 0}, *worker_, "0123456789abcdef0123456789abcdef");
        worker_->start([this](std::string message) { server_->broadcast(std::move(message)); });
    }
    void TearDown() override {
        if (worker_) worker_->stop();
        server_.reset();
        worker_.reset();
        session_.reset();
    }
    unsigned port() const { return server_->bound().port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port()); }
    std::string origin() const { return "http://" + host(); }
    /// A page that got its welcome and the first telemetry.
    std::unique_ptr<PageClient> page() {
        auto client = std::make_unique<PageClient>();
        EXPECT_TRUE(client->connect(port(), host(), origin()));
        EXPECT_FALSE(client->until([](const json& m) { return m.value("type", "") == "telemetry"; }).is_null());
        return client;
    }

    kinetra::cli::StopFlag stop_;
    kinetra::cli::BusChoice choice_;
    std::unique_ptr<kinetra::cli::BusSession> session_;
    std::unique_ptr<BusWorker> worker_;
    std::unique_ptr<DashboardServer> server_;
};

TEST_F(DashboardServerTest, LoopbackChecksHostOriginMethodAndPath) {
    start();
    const std::string own = host(), local = "localhost:" + std::to_string(port());
    struct Case {
        const char* what;
        http::verb verb;
        std::string target, host, origin, body;
        unsigned status;
    } cases[] = {
        {"the page", http::verb::get, "/", own, "", "", 200},
        {"the plotting script", http::verb::get, "/dygraph.min.js", own, "", "", 200},
        {"localhost names loopback", http::verb::get, "/", local, "", "", 200},
        {"a rebound DNS name", http::verb::get, "/", "evil.example:" + std::to_string(port()), "", "", 403},
        {"another port", http::verb::get, "/", "127.0.0.1:1", "", "", 403},
        {"no Host", http::verb::get, "/", "", "", "", 403},
        {"a foreign Origin", http::verb::get, "/api/record.csv", own, "http://evil.example", "", 403},
        {"an Origin naming another port", http::verb::get, "/", own, "http://127.0.0.1:1", "", 403},
        {"its own Origin", http::verb::get, "/api/record.csv", own, "http://" + own, "", 200},
        {"an unknown path", http::verb::get, "/etc/passwd", own, "", "", 404},
        {"an unknown API path", http::verb::get, "/api/nothing", own, "", "", 404},
        {"a method not served", http::verb::delete_, "/", own, "", "", 405},
        {"a GET with a body", http::verb::get, "/", own, "", "x", 400},
        {"a POST where nothing uploads", http::verb::post, "/", own, "", "x", 404},
        {"config without a node", http::verb::get, "/api/config", own, "", "", 400},
        {"config of a node id out of range", http::verb::get, "/api/config?node=999999", own, "", "", 400},
        {"config of an IMU", http::verb::get, "/api/config?node=3", own, "", "", 409},
        {"a WebSocket elsewhere", http::verb::get, "/api/record.csv", own, "", "", 200},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(request(port(), c.verb, c.target, c.host, c.origin, c.body).status, c.status) << c.what;
    }
    PageClient foreign, without, elsewhere;
    EXPECT_FALSE(foreign.connect(port(), own, "http://evil.example")) << "a WebSocket from another site";
    EXPECT_FALSE(without.connect(port(), "evil.example", origin())) << "a WebSocket to a rebound name";
    EXPECT_FALSE(elsewhere.connect(port(), own, origin(), "/other")) << "a WebSocket on another path";
}

TEST_F(DashboardServerTest, AnyOtherAddressTakesTheToken) {
    start("0.0.0.0");
    EXPECT_TRUE(server_->policy().tokenRequired());
    EXPECT_NE(server_->policy().url().find("?token=0123456789abcdef0123456789abcdef"), std::string::npos);
    struct Case {
        const char* what;
        std::string target;
        unsigned status;
    } cases[] = {
        {"no token", "/", 403},
        {"a wrong token", "/?token=0123456789abcdef0123456789abcdee", 403},
        {"a token's prefix", "/?token=0123456789abcdef", 403},
        {"an empty token", "/?token=", 403},
        {"the token", "/?token=0123456789abcdef0123456789abcdef", 200},
        {"the token on a download", "/api/record.log?token=0123456789abcdef0123456789abcdef", 200},
    };
    for (const Case& c : cases) EXPECT_EQ(request(port(), http::verb::get, c.target, host()).status, c.status) << c.what;
    PageClient without, with;
    EXPECT_FALSE(without.connect(port(), host(), origin())) << "a WebSocket without the token";
    EXPECT_TRUE(with.connect(port(), host(), origin(), "/ws?token=0123456789abcdef0123456789abcdef"));
}

TEST_F(DashboardServerTest, UploadsAreBoundedAndCheckedBeforeAnythingIsSent) {
    start();
    struct Case {
        const char* what;
        std::string target;
        std::string body;
        unsigned status;
    } cases[] = {
        {"an image over 4 MiB", "/api/flash?node=1", std::string(kMaxHexUpload + 1, ':'), 413},
        {"a document over 1 MiB", "/api/config?node=1", std::string(kMaxJsonUpload + 1, ' '), 413},
        {"an image that is no HEX", "/api/flash?node=1", "\x7f" "ELF\x01\x02", 400},
        {"a HEX without its end record", "/api/flash?node=1", ":0400000001020304F2\n", 400},
        {"a document that is no JSON", "/api/config?node=1", "{\"Tarvex K3\": ", 400},
        {"a document that is no object", "/api/config?node=1", "[1, 2]", 400},
        {"a document of wrong types", "/api/config?node=1", R"({"Tarvex K3": {"gear_ratio": "four"}})", 400},
        {"an image for no node", "/api/flash", ":00000001FF\n", 400},
        {"an image for an IMU", "/api/flash?node=3", ":0400000001020304F2\n:00000001FF\n", 409},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(request(port(), http::verb::post, c.target, host(), "", c.body).status, c.status) << c.what;
    }
    // The driver is as it was: the refused document changed nothing.
    const HttpResult config = request(port(), http::verb::get, "/api/config?node=1", host());
    ASSERT_EQ(config.status, 200u);
    EXPECT_EQ(json::parse(config.body)["Tarvex K3"]["gear_ratio"], 1.0);
}

TEST_F(DashboardServerTest, EveryMessageKindIsAnsweredAndBadOnesChangeNothing) {
    start();
    auto client = page();
    struct Case {
        const char* what;
        std::string message;  ///< sent as text, an id added when it is an object
        const char* error;    ///< nullptr: answered ok; else a part of the error
    } cases[] = {
        {"a move before the confirmation", R"({"type":"motor","action":"position","node":1,"value":1})", "confirm"},
        {"config written before the confirmation", R"({"type":"config_write","node":1,"member":"gear_ratio","value":2})",
         "confirm"},
        {"the confirmation", R"({"type":"arm"})", nullptr},
        {"an unknown type", R"({"type":"launch"})", "unknown message type"},
        {"an unknown action", R"({"type":"motor","action":"spin","node":1})", "unknown \"action\""},
        {"no node", R"({"type":"motor","action":"idle"})", "missing \"node\""},
        {"node 0", R"({"type":"motor","action":"idle","node":0})", "\"node\""},
        {"a node that is a string", R"({"type":"motor","action":"idle","node":"1"})", "\"node\""},
        {"a set point that is text", R"({"type":"motor","action":"torque","node":1,"value":"0.1"})", "number"},
        {"a set point beyond the default limit", R"({"type":"motor","action":"position","node":1,"value":1000})",
         "limit"},
        {"a motion of an IMU", R"({"type":"motor","action":"position","node":3,"value":1})", "not a driver"},
        {"a node not on the bus", R"({"type":"motor","action":"idle","node":9})", "not on the bus"},
        {"a rate too high", R"({"type":"rate","hz":1000})", "\"hz\""},
        {"a negative limit", R"({"type":"limit","action":"torque","node":1,"limit":-1})", "negative"},
        {"a limit of no set point", R"({"type":"limit","action":"idle","node":1,"limit":1})", "limit"},
        {"record without on", R"({"type":"record"})", "missing \"on\""},
        {"an unknown setting", R"({"type":"config_write","node":1,"member":"warp","value":2})", "no setting"},
        {"a fraction for an integer", R"({"type":"config_write","node":1,"member":"motor_pole_pairs","value":7.5})",
         "integer"},
        {"an integer beyond any field", R"({"type":"config_write","node":1,"member":"motor_pole_pairs","value":1e300})",
         "integer"},
        {"an integer beyond its field", R"({"type":"config_write","node":1,"member":"motor_pole_pairs","value":4096})",
         "pole"},
        {"config of an encoder", R"({"type":"config_read","node":4})", "not a driver"},
        {"a calibration of a driver", R"({"type":"calibrate","node":1,"speed":360})", "not an encoder"},
        {"a calibration too fast", R"({"type":"calibrate","node":4,"speed":9000})", "\"speed\""},
        {"a limit", R"({"type":"limit","action":"position","node":1,"limit":5})", nullptr},
        {"a set point beyond the user's limit", R"({"type":"motor","action":"position","node":1,"value":6})", "limit"},
        {"a rate", R"({"type":"rate","hz":50})", nullptr},
        {"recording on", R"({"type":"record","on":true})", nullptr},
        {"recording off", R"({"type":"record","on":false})", nullptr},
        {"a config read", R"({"type":"config_read","node":1})", nullptr},
        {"a config write", R"({"type":"config_write","node":1,"member":"gear_ratio","value":2})", nullptr},
        {"a config save", R"({"type":"config_save","node":1})", nullptr},
        {"active", R"({"type":"motor","action":"active","node":1})", nullptr},
        {"a position", R"({"type":"motor","action":"position","node":1,"value":2})", nullptr},
    };
    std::int64_t id = 100;
    for (const Case& c : cases) {
        const json reply = client->ask(json::parse(c.message), ++id);
        ASSERT_FALSE(reply.is_null()) << c.what;
        EXPECT_EQ(reply["ok"], c.error == nullptr) << c.what << ": " << reply.dump();
        if (c.error != nullptr) {
            EXPECT_NE(reply.value("error", "").find(c.error), std::string::npos) << c.what;
        }
    }
    // Messages that are not requests at all: a reply with an error, nothing else.
    for (const auto& [text, binary] : {std::pair<std::string, bool>{"{\"type\": ", false}, {"[1,2]", false},
                                       {R"({"type":"motor","action":"position","node":1,"value":1e999})", false},
                                       {R"({"type":"motor","action":"position","node":1,"value":NaN})", false},
                                       {"\x01\x02\x03", true}, {std::string(kMaxPageMessageBytes / 2, ' '), false}}) {
        client->sendText(text, binary);
        const json reply = client->until([](const json& m) { return m.value("type", "") == "reply"; });
        EXPECT_EQ(reply["ok"], false) << text.substr(0, 10);
    }
    // The position moves the driver, the written value reads back, the stop stops both motors.
    EXPECT_FALSE(client->until([](const json& m) { return std::fabs(channelValue(m, 1, 0) - 2.0) < 0.05; }).is_null());
    EXPECT_EQ(client->ask({{"type", "config_read"}, {"node", 1}}, ++id)["document"]["Tarvex K3"]["gear_ratio"], 2.0);
    const json stopped = client->ask({{"type", "stop_all"}}, ++id);
    EXPECT_EQ(stopped["stopped"], 2);
    EXPECT_FALSE(client->until([](const json& m) { return inState(m, 1, kStoppedState) && inState(m, 2, kStoppedState); })
                     .is_null());
}

TEST_F(DashboardServerTest, SeveralPagesSeeEveryRoundAndEachOthersChanges) {
    start();
    auto first = page();
    auto second = page();
    // Sequence numbers of node 1's rows follow each other on both pages.
    for (PageClient* client : {first.get(), second.get()}) {
        std::int64_t last = -1;
        int rows = 0;
        client->until([&](const json& m) {
            if (m.value("type", "") != "telemetry") return false;
            for (const json& row : m["rows"]) {
                if (row[2] != 1) continue;
                if (last >= 0) {
                    EXPECT_EQ(row[0].get<std::int64_t>(), last + 1);
                }
                last = row[0].get<std::int64_t>();
                ++rows;
            }
            return rows >= 50;
        });
        EXPECT_GE(rows, 50);
    }
    EXPECT_TRUE(first->ask({{"type", "record"}, {"on", true}}, 1)["ok"]);
    EXPECT_FALSE(second->until([](const json& m) { return m.value("type", "") == "recording" && m["on"] == true; })
                     .is_null());
    EXPECT_EQ(server_->pages(), 2u);
}

// Regression: a slow reading wired to the wrong channel, or refused by its cycle, left that channel empty for good.
TEST_F(DashboardServerTest, EveryChannelOfEveryNodeCarriesValues) {
    start();
    auto client = page();
    const std::map<unsigned, std::size_t> channels = {{1, 8}, {2, 8}, {3, 6}, {4, 3}};
    std::map<unsigned, std::set<std::size_t>> seen;
    client->until([&](const json& m) {
        bool all = true;
        for (const auto& [node, count] : channels) {
            for (std::size_t channel = 0; channel < count; ++channel) {
                if (std::isfinite(channelValue(m, node, channel))) seen[node].insert(channel);
            }
            all = all && seen[node].size() == count;
        }
        return all;
    });
    for (const auto& [node, count] : channels) EXPECT_EQ(seen[node].size(), count) << "node " << node;
}

TEST_F(DashboardServerTest, RecordingDownloadsAsCsvJsonLinesAndCandump) {
    start();
    auto client = page();
    ASSERT_TRUE(client->ask({{"type", "record"}, {"on", true}}, 1)["ok"]);
    int batches = 0;
    client->until([&](const json& m) { return m.value("type", "") == "telemetry" && ++batches >= 10; });
    ASSERT_TRUE(client->ask({{"type", "record"}, {"on", false}}, 2)["ok"]);

    std::istringstream csv(request(port(), http::verb::get, "/api/record.csv", host()).body);
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "time,sequence,node,channel,value");
    double last = -1;
    int lines = 0;
    while (std::getline(csv, line)) {
        const double time = std::stod(line.substr(0, line.find(',')));
        EXPECT_GE(time, last) << line;
        last = time;
        ++lines;
    }
    EXPECT_GT(lines, 0);
    std::istringstream jsonl(request(port(), http::verb::get, "/api/record.jsonl", host()).body);
    lines = 0;
    while (std::getline(jsonl, line)) {
        const json row = json::parse(line, nullptr, false);
        ASSERT_TRUE(row.is_object()) << line;
        EXPECT_TRUE(row["values"].is_object());
        ++lines;
    }
    EXPECT_GT(lines, 0);
    const std::string candump = request(port(), http::verb::get, "/api/record.log", host()).body;
    EXPECT_EQ(candump.rfind("(", 0), 0u) << candump.substr(0, 80);
    EXPECT_NE(candump.find(" can0 "), std::string::npos);
}

TEST_F(DashboardServerTest, TheLastPageLeavingIdlesTheMotorsOnlyWhenAsked) {
    for (const bool stop_on_disconnect : {false, true}) {
        SCOPED_TRACE(stop_on_disconnect ? "--stop-on-disconnect" : "default");
        start("127.0.0.1", stop_on_disconnect);
        auto leaving = page();
        ASSERT_TRUE(leaving->ask({{"type", "arm"}}, 1)["ok"]);
        ASSERT_TRUE(leaving->ask({{"type", "motor"}, {"action", "active"}, {"node", 1}}, 2)["ok"]);
        ASSERT_FALSE(leaving->until([](const json& m) { return inState(m, 1, 1); }).is_null());
        leaving->close();
        leaving.reset();
        auto watching = page();
        EXPECT_FALSE(watching->until([&](const json& m) { return inState(m, 1, stop_on_disconnect ? 0 : 1); })
                         .is_null());
        TearDown();
    }
}

}  // namespace
