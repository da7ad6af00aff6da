// The abstract base of server-side IO handlers (the TLS unit derives its
// server handler from it).
#pragma once

#include "NetIOHandler.h"

class TNetServerIOHandler : public TNetComponent {
public:
    const char *ClassName() const override { return "TNetServerIOHandler"; }
    // The handler for an accepted connection on the listening socket.
    virtual TNetIOHandler *Accept(int /*listenerSocket*/) { return nullptr; }
    virtual TNetIOHandler *MakeClientIOHandler() { return nullptr; }
    virtual void Init() {}
    virtual void SetScheduler(void *scheduler) { FScheduler = scheduler; }

protected:
    explicit TNetServerIOHandler(TNetInitializerComponent *owner) : TNetComponent(owner) {}
    void *FScheduler = nullptr;
};
