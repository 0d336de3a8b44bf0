#pragma once
// Who may reach the dashboard. A page that can drive motors must not be open to
// whoever is on the network, nor to a web site the user happens to visit: the
// server listens on loopback unless told otherwise; on any other address every
// request must carry the token printed at start; the Host header must name the
// listen address (a rebound DNS name does not) and an Origin, when sent, must be
// the dashboard's own.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kinetra::dashboard {

/// The address the server listens on, as given by --listen HOST:PORT.
struct ListenAddress {
    std::string host;    ///< an IP literal, without brackets
    unsigned port = 0;   ///< 0: any free port

    /// "127.0.0.1:8080", "[::1]:8080".
    std::string text() const;
};

/// The default: loopback, any free port.
constexpr const char* kDefaultListenHost = "127.0.0.1";

/// Reads "HOST:PORT", "[V6]:PORT", "HOST" or ":PORT" (the default host); the
/// host must be an IP literal. Nullopt when malformed.
std::optional<ListenAddress> parseListenAddress(std::string_view text);
/// Whether an IP literal is a loopback address (127.0.0.0/8, ::1).
bool isLoopback(const std::string& host);
/// Whether an IP literal is the wildcard (0.0.0.0, ::).
bool isWildcard(const std::string& host);

/// The most an upload of a firmware image may hold.
constexpr std::size_t kMaxHexUpload = 4 * 1024 * 1024;
/// The most an uploaded configuration document may hold.
constexpr std::size_t kMaxJsonUpload = 1024 * 1024;
/// The most a request's header may hold.
constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
/// The length of the token: 128 random bits in hexadecimal.
constexpr std::size_t kTokenLength = 32;

/// The checks every HTTP request and WebSocket upgrade passes.
class AccessPolicy {
public:
    /// For a server bound to `bound` (its actual port): a token is required
    /// unless the address is loopback; `token` is used as it is when not empty
    /// (tests), else one is drawn.
    AccessPolicy(const ListenAddress& bound, std::string token = {});

    /// Whether requests must carry the token.
    bool tokenRequired() const { return required_; }
    const std::string& token() const { return token_; }
    /// The URL to print: with the token when one is required.
    std::string url() const;

    /// Nullopt when a request may pass, else why it may not. `host` and `origin`
    /// are the header values (empty when absent), `target` the request target
    /// with its query.
    std::optional<std::string> refusal(std::string_view host, std::string_view origin, std::string_view target) const;

private:
    bool hostAllowed(std::string_view host) const;

    ListenAddress bound_;
    bool required_;
    std::string token_;
};

/// The value of `name` in the query of `target` ("/x?a=1&token=ab"), or nullopt.
std::optional<std::string> queryValue(std::string_view target, std::string_view name);
/// The path of `target` without its query.
std::string_view targetPath(std::string_view target);

}  // namespace kinetra::dashboard
