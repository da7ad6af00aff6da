#include "WebMailCalls.h"

const char *const WebMailUnavailableText = "Web mail is not available in this build of Tarnwick.";

namespace {

TWebMailCalls GCalls;
bool (*GLoader)() = nullptr;
bool GLoading = false;
int GUses = 0;

bool Complete(const TWebMailCalls &c) {
    return c.CreateWebForm && c.WebHostLogin && c.WebHostLogout && c.WebHostNewMailCount && c.WebHostReadList &&
           c.WebHostReadBody && c.WebHostLocateMessage && c.WebHostDeleteMessage;
}

}  // namespace

void SetWebMailCalls(const TWebMailCalls &Calls) { GCalls = Calls; }

const TWebMailCalls &WebMailCalls() { return GCalls; }

bool WebMailAvailable() {
    if (!Complete(GCalls) && GLoader && !GLoading) {
        // A loader that asks whether the route is there must not load again.
        GLoading = true;
        try {
            GLoader();
        } catch (...) {
        }
        GLoading = false;
    }
    return Complete(GCalls);
}

void SetWebMailLoader(bool (*Loader)()) { GLoader = Loader; }

TWebRouteUse::TWebRouteUse() { ++GUses; }
TWebRouteUse::~TWebRouteUse() { --GUses; }
bool WebRouteInUse() { return GUses > 0; }
