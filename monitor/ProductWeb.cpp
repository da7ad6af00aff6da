#include "ProductWeb.h"

#include <mutex>

namespace {
// The product has no public server of its own yet: this reserved name never
// answers, so downloads fail cleanly until a release sets the real address.
constexpr const char *kBuiltIn = "https://tarnwick.example.org/";
std::mutex gLock;
std::string gLocation;
}  // namespace

std::string ProductWebLocation() {
    std::lock_guard<std::mutex> g(gLock);
    return gLocation.empty() ? std::string(kBuiltIn) : gLocation;
}

void SetProductWebLocation(const std::string &url) {
    std::lock_guard<std::mutex> g(gLock);
    gLocation = url;
    if (!gLocation.empty() && gLocation.back() != '/') gLocation += '/';
}
