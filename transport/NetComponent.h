// The construction scheme, ownership and free-notification of the suite's
// components, and TNetComponent's status and work events.
//
// Every suite class puts its set-up into InitComponent, which must run after
// the whole object is built (a virtual call from a C++ constructor would reach
// only the base). Components are therefore made through NetCreate, which
// constructs and then initialises; their constructors are protected.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "NetGlobal.h"

enum TOperation { opInsert, opRemove };

class TNetInitializerComponent {
public:
    virtual ~TNetInitializerComponent();
    TNetInitializerComponent(const TNetInitializerComponent &) = delete;
    TNetInitializerComponent &operator=(const TNetInitializerComponent &) = delete;

    virtual const char *ClassName() const { return "TNetInitializerComponent"; }
    TNetInitializerComponent *Owner() const { return FOwner; }
    int ComponentCount() const { return int(FComponents.size()); }
    std::string Name;

    // Asks to be told (through Notification) when comp is freed; the link is
    // mutual, as either side may go first.
    void FreeNotification(TNetInitializerComponent *comp);
    void RemoveFreeNotification(TNetInitializerComponent *comp);
    // Called on every component that asked for it when comp is freed.
    virtual void Notification(TNetInitializerComponent *comp, TOperation operation);

    // The suite's own set-up step, run once by NetCreate after construction.
    // Overrides call the inherited one first.
    virtual void InitComponent() {}
    bool IsLoading() const { return false; }
    bool IsDesigning() const { return false; }

protected:
    explicit TNetInitializerComponent(TNetInitializerComponent *owner);

private:
    TNetInitializerComponent *FOwner;
    std::vector<TNetInitializerComponent *> FComponents;
    std::vector<TNetInitializerComponent *> FFreeNotifies;
};

class TNetBaseComponent : public TNetInitializerComponent {
public:
    const char *ClassName() const override { return "TNetBaseComponent"; }

protected:
    explicit TNetBaseComponent(TNetInitializerComponent *owner) : TNetInitializerComponent(owner) {}
};

namespace NetDetail {
// Gives NetCreate access to the protected constructors.
template <class T>
struct Maker final : T {
    template <class... A>
    explicit Maker(A &&...args) : T(std::forward<A>(args)...) {}
};
}  // namespace NetDetail

// Constructs a component, then runs its InitComponent. With an owner the owner
// frees it; without one the caller deletes it (or holds it in a unique_ptr).
// A failing InitComponent frees the half-made component again.
template <class T, class... A>
T *NetCreate(TNetInitializerComponent *owner, A &&...args) {
    std::unique_ptr<T> obj(new NetDetail::Maker<T>(owner, std::forward<A>(args)...));
    obj->InitComponent();
    return obj.release();
}

template <class T, class... A>
std::unique_ptr<T> NetCreateNoOwner(A &&...args) {
    return std::unique_ptr<T>(NetCreate<T>(nullptr, std::forward<A>(args)...));
}

enum TNetStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum TWorkMode { wmRead, wmWrite };

class TNetComponent;
using TNetStatusEvent = std::function<void(TNetComponent *sender, TNetStatus status, const std::string &text)>;
using TWorkEvent = std::function<void(TNetComponent *sender, TWorkMode mode, int count)>;
using TWorkBeginEvent = std::function<void(TNetComponent *sender, TWorkMode mode, int countMax)>;
using TWorkEndEvent = std::function<void(TNetComponent *sender, TWorkMode mode)>;
using TNetNotifyEvent = std::function<void(TNetInitializerComponent *sender)>;

// The status text of a status with its arguments ("Connecting to %s.").
std::string NetStatusText(TNetStatus status, const std::string &arg = std::string());

class TNetComponent : public TNetBaseComponent {
public:
    ~TNetComponent() override;
    const char *ClassName() const override { return "TNetComponent"; }
    void InitComponent() override;

    TNetStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

    virtual void BeginWork(TWorkMode mode, int64_t size = 0);
    virtual void DoWork(TWorkMode mode, int64_t count);
    virtual void EndWork(TWorkMode mode);

    // The component that receives this one's work calls instead (the
    // connection of an IO handler).
    TNetComponent *WorkTarget() const { return FWorkTarget; }
    void SetWorkTarget(TNetComponent *target) { FWorkTarget = target; }

    void DoStatus(TNetStatus status);
    void DoStatusText(TNetStatus status, const std::string &arg);

protected:
    explicit TNetComponent(TNetInitializerComponent *owner) : TNetBaseComponent(owner) {}

private:
    struct WorkState {
        int64_t Count = 0;
        int64_t CountMax = 0;
        int Level = 0;
    };
    WorkState FWork[2];
    TNetComponent *FWorkTarget = nullptr;
    bool FHasStackRef = false;
};
