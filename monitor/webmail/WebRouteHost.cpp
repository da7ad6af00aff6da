#include "WebRouteHost.h"

namespace {
TWebRouteHost &Host() {
    static TWebRouteHost host;
    return host;
}
}  // namespace

void SetWebRouteHost(TWebRouteHost host) { Host() = std::move(host); }

const TWebRouteHost &WebRouteHost() { return Host(); }
