#include "dashboard/access_policy.h"

#include <boost/asio/ip/address.hpp>

#include <random>

namespace kinetra::dashboard {

namespace {

std::string drawToken() {
    std::random_device device;
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (std::size_t i = 0; i < kTokenLength; ++i) token += digits[device() % 16];
    return token;
}

/// Compares without stopping at the first difference, so that the time a refusal
/// takes tells nothing about how much of a guessed token was right.
bool sameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

std::optional<boost::asio::ip::address> addressOf(const std::string& host) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address(host, error);
    if (error) return std::nullopt;
    return address;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

std::string ListenAddress::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    ListenAddress result;
    std::string_view host = text;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            port = rest.substr(1);
            if (port.empty()) return std::nullopt;
        }
    } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        if (text.find(':') != colon) return std::nullopt;  // a bare IPv6 address needs brackets
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (port.empty()) return std::nullopt;
    }
    result.host = host.empty() ? kDefaultListenHost : std::string(host);
    if (!addressOf(result.host)) return std::nullopt;
    if (!port.empty()) {
        if (port.size() > 5) return std::nullopt;
        unsigned value = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 65535) return std::nullopt;
        result.port = value;
    }
    return result;
}

bool isLoopback(const std::string& host) {
    const auto address = addressOf(host);
    return address && address->is_loopback();
}

bool isWildcard(const std::string& host) {
    const auto address = addressOf(host);
    return address && address->is_unspecified();
}

AccessPolicy::AccessPolicy(const ListenAddress& bound, std::string token)
    : bound_(bound), required_(!isLoopback(bound.host)), token_(token.empty() ? drawToken() : std::move(token)) {}

std::string AccessPolicy::url() const {
    // On a wildcard address the URL names this machine as a browser here reaches it.
    ListenAddress shown = bound_;
    if (isWildcard(shown.host)) shown.host = shown.host.find(':') != std::string::npos ? "::1" : "127.0.0.1";
    std::string url = "http://" + shown.text() + "/";
    if (required_) url += "?token=" + token_;
    return url;
}

bool AccessPolicy::hostAllowed(std::string_view host) const {
    // Behind a wildcard address the machine has names and addresses the server
    // cannot list: the token is what keeps strangers out there.
    if (isWildcard(bound_.host)) return !host.empty();
    const std::string port = ":" + std::to_string(bound_.port);
    if (equalNoCase(host, bound_.text())) return true;
    if (isLoopback(bound_.host)) return equalNoCase(host, "localhost" + port);
    return false;
}

std::optional<std::string> AccessPolicy::refusal(std::string_view host, std::string_view origin,
                                                 std::string_view target) const {
    if (!hostAllowed(host)) return std::string("Host header does not name this server");
    if (!origin.empty()) {
        constexpr std::string_view kScheme = "http://";
        if (origin.substr(0, kScheme.size()) != kScheme || !hostAllowed(origin.substr(kScheme.size())) ||
            (!isWildcard(bound_.host) && !equalNoCase(origin.substr(kScheme.size()), host))) {
            return std::string("Origin is not this server");
        }
    }
    if (required_) {
        const auto given = queryValue(target, "token");
        if (!given || !sameSecret(*given, token_)) return std::string("missing or wrong token");
    }
    return std::nullopt;
}

std::optional<std::string> queryValue(std::string_view target, std::string_view name) {
    const auto question = target.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const auto equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return equals == std::string_view::npos ? std::string() : std::string(pair.substr(equals + 1));
        }
        if (amp == std::string_view::npos) break;
        query = query.substr(amp + 1);
    }
    return std::nullopt;
}

std::string_view targetPath(std::string_view target) { return target.substr(0, target.find('?')); }

}  // namespace kinetra::dashboard
