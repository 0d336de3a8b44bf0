#include "dashboard/page_assets.h"

#include <cstddef>

namespace kinetra::dashboard {

// Defined in the source generated from the page's files.
extern const PageAsset kPageAssets[];
extern const std::size_t kPageAssetCount;

const PageAsset* findAsset(std::string_view path) {
    for (std::size_t i = 0; i < kPageAssetCount; ++i) {
        if (kPageAssets[i].path == path) return &kPageAssets[i];
    }
    return nullptr;
}

}  // namespace kinetra::dashboard
