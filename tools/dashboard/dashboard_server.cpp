#include "dashboard/dashboard_server.h"

#include "dashboard/page_assets.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <deque>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>

namespace kinetra::dashboard {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

/// How long a peer may take to send a request or take a response.
constexpr std::chrono::seconds kHttpTimeout{30};
/// The path of the pages' WebSocket.
constexpr std::string_view kSocketPath = "/ws";
/// The prefix of the paths a backend answers.
constexpr std::string_view kApiPrefix = "/api/";
/// What the server calls itself in its replies.
constexpr const char* kServerName = "kinetra-dashboard";

/// A page may run its own scripts and talk to this server, and nothing else;
/// no other site may frame it (a framed emergency stop or confirmation could be
/// clicked for the user).
constexpr const char* kContentSecurity =
    "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; frame-ancestors 'none'";

std::string errorJson(std::int64_t id, const std::string& error) {
    return nlohmann::json{{"type", "reply"}, {"id", id}, {"ok", false}, {"error", error}}.dump();
}

}  // namespace

class PageSession;

struct DashboardServer::Impl {
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    PageBackend& backend;
    ListenAddress bound;
    std::optional<AccessPolicy> policy;
    std::set<std::shared_ptr<PageSession>> pages;  ///< touched on the I/O thread only
    std::atomic<std::size_t> page_count{0};
    std::thread thread;

    explicit Impl(PageBackend& b) : backend(b) {}
    void accept();
    void added(const std::shared_ptr<PageSession>& page);
    void removed(const std::shared_ptr<PageSession>& page);
};

/// One page's WebSocket: the messages for the page queue here and go out one
/// at a time; the page's messages are parsed and handed to the backend.
class PageSession : public std::enable_shared_from_this<PageSession> {
public:
    PageSession(tcp::socket socket, DashboardServer::Impl& server) : ws_(std::move(socket)), server_(server) {}

    void start(http::request<http::string_body> request) {
        ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& response) { response.set(http::field::server, kServerName); }));
        ws_.read_message_max(kMaxPageMessageBytes);
        ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) {
            if (error) return;
            self->server_.added(self);
            self->send(std::make_shared<const std::string>(self->server_.backend.welcome()));
            self->read();
        });
    }

    /// Queues a message for the page (on the I/O thread).
    void send(std::shared_ptr<const std::string> message) {
        if (closed_) return;
        if (queue_.size() >= kMaxPendingPageMessages) {
            // A page that does not keep up would only see ever older data.
            close();
            return;
        }
        queue_.push_back(std::move(message));
        if (queue_.size() == 1) write();
    }

    /// A sender for the backend: posts to the I/O thread, a no-op once the page is gone.
    PageSend sender() {
        return [weak = std::weak_ptr<PageSession>(shared_from_this()), &ioc = server_.ioc](std::string message) {
            net::post(ioc, [weak, text = std::make_shared<const std::string>(std::move(message))] {
                if (auto self = weak.lock()) self->send(text);
            });
        };
    }

    void close() {
        if (closed_) return;
        closed_ = true;
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).close();
    }

private:
    void read() {
        ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) {
                self->closed_ = true;
                self->server_.removed(self);
                return;
            }
            self->handle();
            self->read();
        });
    }

    void handle() {
        const std::string text = beast::buffers_to_string(buffer_.data());
        buffer_.consume(buffer_.size());
        if (!ws_.got_text()) {
            send(std::make_shared<const std::string>(errorJson(0, "binary messages are not understood")));
            return;
        }
        ParseResult parsed = parsePageMessage(text);
        if (!parsed.message) {
            send(std::make_shared<const std::string>(errorJson(parsed.id, parsed.error)));
            return;
        }
        const PageMessage& message = *parsed.message;
        if (std::holds_alternative<Arm>(message.request)) {
            armed_ = true;
            send(std::make_shared<const std::string>(
                nlohmann::json{{"type", "reply"}, {"id", message.id}, {"ok", true}}.dump()));
            return;
        }
        if (needsArming(message.request) && !armed_) {
            send(std::make_shared<const std::string>(
                errorJson(message.id, "confirm that this page may move motors first")));
            return;
        }
        server_.backend.request(message, sender());
    }

    static bool needsArming(const PageRequest& request) {
        if (const auto* command = std::get_if<MotorCommand>(&request)) return moves(command->action);
        return std::holds_alternative<ConfigWrite>(request) || std::holds_alternative<ConfigSave>(request) ||
               std::holds_alternative<Calibrate>(request);
    }

    void write() {
        ws_.text(true);
        ws_.async_write(net::buffer(*queue_.front()), [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) {
                self->close();
                return;
            }
            self->queue_.pop_front();
            if (!self->queue_.empty()) self->write();
        });
    }

    websocket::stream<beast::tcp_stream> ws_;
    DashboardServer::Impl& server_;
    beast::flat_buffer buffer_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    bool armed_ = false;
    bool closed_ = false;
};

/// One HTTP connection: checks each request, reads a body only up to the limit
/// of its path, serves the page or hands the request to the backend, or turns
/// into a page's WebSocket.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, DashboardServer::Impl& server) : stream_(std::move(socket)), server_(server) {}

    void read() {
        parser_.emplace();
        parser_->header_limit(kMaxHeaderBytes);
        // The largest any path takes: a declared length beyond it fails the header read.
        parser_->body_limit(std::max(kMaxHexUpload, kMaxJsonUpload));
        stream_.expires_after(kHttpTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                    self->onHeader(error);
                                });
    }

private:
    using Request = http::request<http::string_body>;

    void onHeader(beast::error_code error) {
        if (error == http::error::end_of_stream || error == beast::error::timeout) return close();
        if (error == http::error::body_limit) return fail(http::status::payload_too_large, "upload too large", false);
        if (error) return fail(http::status::bad_request, "malformed request: " + error.message(), false);
        const Request& request = parser_->get();
        const std::string_view target(request.target().data(), request.target().size());
        const std::string_view path = targetPath(target);
        if (request.method() != http::verb::get && request.method() != http::verb::post) {
            return fail(http::status::method_not_allowed, "only GET and POST", false);
        }
        const auto header = [&](http::field field) {
            const auto found = request.find(field);
            return found == request.end() ? std::string_view() : std::string_view(found->value().data(), found->value().size());
        };
        if (const auto refusal = server_.policy->refusal(header(http::field::host), header(http::field::origin), target)) {
            return fail(http::status::forbidden, *refusal, false);
        }
        if (request.method() == http::verb::get) {
            if (parser_->content_length().value_or(0) > 0 || parser_->chunked()) {
                return fail(http::status::bad_request, "a GET takes no body", false);
            }
            if (websocket::is_upgrade(request)) {
                if (path != kSocketPath) return fail(http::status::not_found, "no WebSocket here", false);
                // Browsers always send an Origin with a WebSocket: one without is no page of ours.
                if (header(http::field::origin).empty()) return fail(http::status::forbidden, "Origin missing", false);
                auto page = std::make_shared<PageSession>(stream_.release_socket(), server_);
                page->start(parser_->release());
                return;
            }
            return dispatch();
        }
        const std::size_t limit = uploadLimit(path);
        if (limit == 0) return fail(http::status::not_found, "nothing to upload to here", false);
        if (parser_->content_length().value_or(0) > limit) {
            return fail(http::status::payload_too_large, "upload larger than " + std::to_string(limit) + " bytes", false);
        }
        parser_->body_limit(limit);
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error == http::error::body_limit) {
                return self->fail(http::status::payload_too_large, "upload too large", false);
            }
            if (error) return self->close();
            self->dispatch();
        });
    }

    void dispatch() {
        const Request& request = parser_->get();
        const std::string target(request.target());
        const std::string path(targetPath(target));
        keep_alive_ = request.keep_alive();
        if (path.compare(0, kApiPrefix.size(), kApiPrefix) == 0) {
            const bool post = request.method() == http::verb::post;
            // The answer holds the session: nothing else does while the backend works.
            server_.backend.http(post, path, target, parser_->release().body(),
                                 [self = shared_from_this(), &ioc = server_.ioc](HttpReply reply) {
                                     net::post(ioc, [self, reply = std::move(reply)]() mutable {
                                         self->answer(std::move(reply));
                                     });
                                 });
            return;
        }
        const PageAsset* asset = findAsset(path);
        if (asset == nullptr || request.method() != http::verb::get) {
            return fail(http::status::not_found, "not found", keep_alive_);
        }
        answer({200, std::string(asset->content_type), std::string(asset->body), {}});
    }

    void answer(HttpReply reply) {
        auto response = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(reply.status), 11);
        response->set(http::field::server, kServerName);
        response->set(http::field::content_type, reply.content_type);
        response->set(http::field::cache_control, "no-store");
        response->set("X-Content-Type-Options", "nosniff");
        response->set("Content-Security-Policy", kContentSecurity);
        if (!reply.filename.empty()) {
            response->set(http::field::content_disposition, "attachment; filename=\"" + reply.filename + "\"");
        }
        response->keep_alive(keep_alive_);
        response->body() = std::move(reply.body);
        response->prepare_payload();
        stream_.expires_after(kHttpTimeout);
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                              if (error || !response->keep_alive()) return self->close();
                              self->read();
                          });
    }

    void fail(http::status status, const std::string& why, bool keep_alive) {
        keep_alive_ = keep_alive;
        answer({static_cast<unsigned>(status), "text/plain; charset=utf-8", why + "\n", {}});
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream stream_;
    DashboardServer::Impl& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    bool keep_alive_ = false;
};

void DashboardServer::Impl::accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted) return;
        if (!error) std::make_shared<HttpSession>(std::move(socket), *this)->read();
        accept();
    });
}

void DashboardServer::Impl::added(const std::shared_ptr<PageSession>& page) {
    pages.insert(page);
    page_count = pages.size();
    backend.pagesChanged(pages.size());
}

void DashboardServer::Impl::removed(const std::shared_ptr<PageSession>& page) {
    if (pages.erase(page) == 0) return;
    page_count = pages.size();
    backend.pagesChanged(pages.size());
}

DashboardServer::DashboardServer(const ListenAddress& address, PageBackend& backend, std::string token)
    : impl_(std::make_unique<Impl>(backend)) {
    Impl& s = *impl_;
    beast::error_code error;
    const tcp::endpoint endpoint(net::ip::make_address(address.host, error), static_cast<unsigned short>(address.port));
    if (error) throw std::runtime_error("cannot listen on " + address.text() + ": " + error.message());
    s.acceptor.open(endpoint.protocol(), error);
    if (!error) s.acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error) s.acceptor.bind(endpoint, error);
    if (!error) s.acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) throw std::runtime_error("cannot listen on " + address.text() + ": " + error.message());
    s.bound = address;
    s.bound.port = s.acceptor.local_endpoint().port();
    s.policy.emplace(s.bound, std::move(token));
    s.accept();
    s.thread = std::thread([&s] { s.ioc.run(); });
}

DashboardServer::~DashboardServer() {
    Impl& s = *impl_;
    net::post(s.ioc, [&s] {
        beast::error_code ignored;
        s.acceptor.close(ignored);
        for (const auto& page : s.pages) page->close();
        s.pages.clear();
        s.ioc.stop();
    });
    s.thread.join();
}

const ListenAddress& DashboardServer::bound() const { return impl_->bound; }
const AccessPolicy& DashboardServer::policy() const { return *impl_->policy; }
std::size_t DashboardServer::pages() const { return impl_->page_count; }

void DashboardServer::broadcast(std::string message) {
    Impl& s = *impl_;
    net::post(s.ioc, [&s, text = std::make_shared<const std::string>(std::move(message))] {
        for (const auto& page : s.pages) page->send(text);
    });
}

std::size_t uploadLimit(std::string_view path) {
    if (path == kFlashPath) return kMaxHexUpload;
    if (path == kConfigPath) return kMaxJsonUpload;
    return 0;
}

}  // namespace kinetra::dashboard
