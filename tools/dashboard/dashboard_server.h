#pragma once
// The dashboard's HTTP and WebSocket server: the embedded page, the API a
// backend answers, and one WebSocket per page for telemetry and commands. Every
// request passes the access policy first; every body and message is bounded.
// One thread runs all of its I/O.

#include "dashboard/access_policy.h"
#include "dashboard/page_backend.h"

#include <memory>
#include <string>

namespace kinetra::dashboard {

/// How many messages may wait for a slow page before it is dropped.
constexpr std::size_t kMaxPendingPageMessages = 1024;

class DashboardServer {
public:
    /// Binds `address` (throws std::runtime_error when it cannot) and starts
    /// serving on a thread of its own. `token` replaces the drawn one (tests).
    DashboardServer(const ListenAddress& address, PageBackend& backend, std::string token = {});
    /// Closes every connection and ends the thread.
    ~DashboardServer();
    DashboardServer(const DashboardServer&) = delete;
    DashboardServer& operator=(const DashboardServer&) = delete;

    /// The address bound, with the port chosen when 0 was asked for.
    const ListenAddress& bound() const;
    /// The checks requests pass; its url() is the one to print.
    const AccessPolicy& policy() const;
    /// Sends `message` to every connected page; callable from any thread.
    void broadcast(std::string message);
    /// The number of connected pages.
    std::size_t pages() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kinetra::dashboard
