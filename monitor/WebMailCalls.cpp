#include "WebMailCalls.h"

const char *const WebMailUnavailableText = "Web mail is not available in this build of Tarnwick.";

namespace {
TWebMailCalls GCalls;
int GUses = 0;
}  // namespace

void SetWebMailCalls(const TWebMailCalls &Calls) { GCalls = Calls; }

const TWebMailCalls &WebMailCalls() { return GCalls; }

bool WebMailAvailable() {
    const TWebMailCalls &c = GCalls;
    return c.CreateWebForm && c.WebHostLogin && c.WebHostLogout && c.WebHostNewMailCount && c.WebHostReadList &&
           c.WebHostReadBody && c.WebHostLocateMessage && c.WebHostDeleteMessage;
}

TWebRouteUse::TWebRouteUse() { ++GUses; }
TWebRouteUse::~TWebRouteUse() { --GUses; }
bool WebRouteInUse() { return GUses > 0; }
