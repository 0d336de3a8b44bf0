#pragma once
// The dashboard's bus thread: the only thread that talks to the devices. It
// gathers telemetry at the chosen rate and pushes it to the pages in batches,
// follows nodes as they come and go, and carries out the pages' commands from
// one queue between telemetry rounds.

#include "dashboard/page_backend.h"

#include <functional>
#include <memory>
#include <string>

namespace kinetra::cli {
class BusSession;
class StopFlag;
}  // namespace kinetra::cli

namespace kinetra::dashboard {

/// The telemetry rate unless the user sets one, in Hz.
constexpr double kDefaultSampleRate = 100.0;

struct BusWorkerOptions {
    double rate_hz = kDefaultSampleRate;
    /// Idle every driver when the last page disconnects.
    bool stop_on_disconnect = false;
};

class BusWorker : public PageBackend {
public:
    /// Works on the open `session`; both must outlive the worker.
    BusWorker(cli::BusSession& session, cli::StopFlag& stop, BusWorkerOptions options);
    /// Stops the thread.
    ~BusWorker() override;
    BusWorker(const BusWorker&) = delete;
    BusWorker& operator=(const BusWorker&) = delete;

    /// Starts the thread; `publish` sends a message to every page.
    void start(std::function<void(std::string)> publish);
    /// Ends the thread (after the command under way) and drops queued commands.
    void stop();

    std::string welcome() override;
    void request(const PageMessage& message, PageSend reply) override;
    void http(bool post, std::string_view path, std::string_view target, std::string body,
              HttpRespond respond) override;
    void pagesChanged(std::size_t count) override;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kinetra::dashboard
