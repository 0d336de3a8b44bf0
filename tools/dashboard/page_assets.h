#pragma once
// The page and its scripts, built into the executable.

#include <string_view>

namespace kinetra::dashboard {

/// One embedded file.
struct PageAsset {
    std::string_view path;          ///< "/", "/dashboard.js", ...
    std::string_view content_type;  ///< "text/html; charset=utf-8", ...
    std::string_view body;
};

/// The asset served at `path`, or nullptr.
const PageAsset* findAsset(std::string_view path);

}  // namespace kinetra::dashboard
