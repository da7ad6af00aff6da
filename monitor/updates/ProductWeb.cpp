#include "ProductWeb.h"

#include <mutex>

#include "UpdateFiles.h"

namespace {
std::mutex gLock;
std::string gLocation;
}  // namespace

std::string ProductWebLocation() {
    {
        std::lock_guard<std::mutex> g(gLock);
        if (!gLocation.empty())
            return gLocation;
    }
    // The update location is the product's one address on the web.
    return UpdateBaseUrl();
}

void SetProductWebLocation(const std::string &url) {
    std::lock_guard<std::mutex> g(gLock);
    gLocation = url;
    if (!gLocation.empty() && gLocation.back() != '/') gLocation += '/';
}
