#include "NetComponent.h"

#include <algorithm>

#include "NetStack.h"

TNetInitializerComponent::TNetInitializerComponent(TNetInitializerComponent *owner) : FOwner(owner) {
    if (FOwner) FOwner->FComponents.push_back(this);
}

TNetInitializerComponent::~TNetInitializerComponent() {
    // Tell every watcher first, while the owned components still exist.
    while (!FFreeNotifies.empty()) {
        TNetInitializerComponent *other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        auto &theirs = other->FFreeNotifies;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        other->Notification(this, opRemove);
    }
    // Owned components go last to first; each removes itself from the list.
    while (!FComponents.empty()) delete FComponents.back();
    if (FOwner) {
        auto &list = FOwner->FComponents;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        FOwner = nullptr;
    }
}

void TNetInitializerComponent::FreeNotification(TNetInitializerComponent *comp) {
    if (!comp || comp == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), comp) == FFreeNotifies.end())
        FFreeNotifies.push_back(comp);
    if (std::find(comp->FFreeNotifies.begin(), comp->FFreeNotifies.end(), this) == comp->FFreeNotifies.end())
        comp->FFreeNotifies.push_back(this);
}

void TNetInitializerComponent::RemoveFreeNotification(TNetInitializerComponent *comp) {
    if (!comp) return;
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), comp), FFreeNotifies.end());
    auto &theirs = comp->FFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TNetInitializerComponent::Notification(TNetInitializerComponent *, TOperation) {}

// ---------------------------------------------------------------------------
std::string NetStatusText(TNetStatus status, const std::string &arg) {
    switch (status) {
    case hsResolving: return Format("Resolving hostname %s.", arg.c_str());
    case hsConnecting: return Format("Connecting to %s.", arg.c_str());
    case hsConnected: return "Connected.";
    case hsDisconnecting: return "Disconnecting.";
    case hsDisconnected: return "Disconnected.";
    default: return arg;
    }
}

TNetComponent::~TNetComponent() {
    if (FHasStackRef) TNetStack::DecUsage();
}

void TNetComponent::InitComponent() {
    TNetBaseComponent::InitComponent();
    TNetStack::IncUsage();
    FHasStackRef = true;
}

void TNetComponent::DoStatus(TNetStatus status) { DoStatusText(status, std::string()); }

void TNetComponent::DoStatusText(TNetStatus status, const std::string &arg) {
    if (OnStatus) OnStatus(this, status, NetStatusText(status, arg));
}

void TNetComponent::BeginWork(TWorkMode mode, int64_t size) {
    if (FWorkTarget) {
        FWorkTarget->BeginWork(mode, size);
        return;
    }
    WorkState &w = FWork[mode];
    if (++w.Level == 1) {
        w.CountMax = size;
        w.Count = 0;
        if (OnWorkBegin) OnWorkBegin(this, mode, int(size));
    }
}

void TNetComponent::DoWork(TWorkMode mode, int64_t count) {
    if (FWorkTarget) {
        FWorkTarget->DoWork(mode, count);
        return;
    }
    WorkState &w = FWork[mode];
    if (w.Level > 0) {
        w.Count += count;
        if (OnWork) OnWork(this, mode, int(w.Count));
    }
}

void TNetComponent::EndWork(TWorkMode mode) {
    if (FWorkTarget) {
        FWorkTarget->EndWork(mode);
        return;
    }
    WorkState &w = FWork[mode];
    if (w.Level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
    if (w.Level > 0) --w.Level;
}
