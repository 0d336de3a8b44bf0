#pragma once
// What the server asks of the rest of the dashboard: the state a new page
// starts from, the checked requests of pages, the downloads and uploads.

#include "dashboard/page_message.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kinetra::dashboard {

/// An answer to an HTTP request under /api/.
struct HttpReply {
    unsigned status = 200;
    std::string content_type = "application/json";
    std::string body;
    /// When not empty, the body is offered as a download under this name.
    std::string filename;
};

/// Sends one text message to one page; callable from any thread, a no-op once
/// the page is gone.
using PageSend = std::function<void(std::string)>;
/// Answers one HTTP request; callable once, from any thread.
using HttpRespond = std::function<void(HttpReply)>;

class PageBackend {
public:
    virtual ~PageBackend() = default;
    /// The first message a page gets: the nodes, their channels, the state.
    virtual std::string welcome() = 0;
    /// A page's request, parsed and checked (a motion only from a page that
    /// confirmed); `reply` answers that page.
    virtual void request(const PageMessage& message, PageSend reply) = 0;
    /// A GET (`post` false) or POST under /api/, its access already checked and
    /// its body within the limit of its path.
    virtual void http(bool post, std::string_view path, std::string_view target, std::string body,
                      HttpRespond respond) = 0;
    /// The number of connected pages changed to `count`.
    virtual void pagesChanged(std::size_t count) = 0;
};

/// The limit of a POST body under `path`; 0 when the path takes none.
std::size_t uploadLimit(std::string_view path);

/// The paths that take uploads.
constexpr const char* kFlashPath = "/api/flash";
constexpr const char* kConfigPath = "/api/config";

}  // namespace kinetra::dashboard
