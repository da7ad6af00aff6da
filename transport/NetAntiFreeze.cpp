#include "NetAntiFreeze.h"

#include <atomic>

#include "NetGlobal.h"

namespace {
std::atomic<TNetAntiFreezeBase *> GAntiFreeze{nullptr};
TNetProcessMessagesHook GHook;
std::atomic<uint64_t> GPumped{0};
std::atomic<int> GLongestPause{0};
std::atomic<uint32_t> GLastProcess{0};
}  // namespace

TNetAntiFreezeBase::~TNetAntiFreezeBase() {
    if (FInstalled) GAntiFreeze = nullptr;
}

void TNetAntiFreezeBase::InitComponent() {
    TNetBaseComponent::InitComponent();
    if (!IsDesigning()) {
        TNetAntiFreezeBase *expected = nullptr;
        if (!GAntiFreeze.compare_exchange_strong(expected, this))
            ENetException::Toss("Only one TNetAntiFreeze can exist per application.");
        FInstalled = true;
    }
    Active = true;
    ApplicationHasPriority = true;
    OnlyWhenIdle = true;
    IdleTimeOut = 250;
}

TNetAntiFreezeBase *TNetAntiFreezeBase::Installed() { return GAntiFreeze; }

bool TNetAntiFreezeBase::ShouldUse() {
    TNetAntiFreezeBase *af = GAntiFreeze;
    return af && InMainThread() && af->Active;
}

void TNetAntiFreezeBase::DoProcess(bool idle, bool override) {
    if (!ShouldUse()) return;
    TNetAntiFreezeBase *af = GAntiFreeze;
    if ((!af->OnlyWhenIdle || idle || override) && af->Active) {
        const uint32_t start = TicksNow();
        try {
            af->Process();
        } catch (...) {
            GPumped += TicksDiff(start, TicksNow());
            GLastProcess = TicksNow();
            throw;
        }
        GPumped += TicksDiff(start, TicksNow());
        GLastProcess = TicksNow();
    }
}

bool TNetAntiFreezeBase::Starved() {
    if (!ShouldUse()) return false;
    const int slice = NetAntiFreezeSlice();
    return TicksDiff(GLastProcess.load(), TicksNow()) >= uint32_t(slice);
}

uint64_t TNetAntiFreezeBase::PumpedMilliseconds() { return GPumped.load(); }

void TNetAntiFreeze::Process() {
    if (GHook) GHook(ApplicationHasPriority);
}

void TNetAntiFreeze::SetProcessMessagesHook(TNetProcessMessagesHook hook) { GHook = std::move(hook); }

bool TNetAntiFreeze::HasProcessMessagesHook() { return bool(GHook); }

void TNetAntiFreeze::SetLongestPause(int milliseconds) { GLongestPause = milliseconds > 0 ? milliseconds : 0; }

int TNetAntiFreeze::LongestPause() { return GLongestPause.load(); }

int NetAntiFreezeSlice() {
    if (!TNetAntiFreezeBase::ShouldUse()) return -1;
    int idle = TNetAntiFreezeBase::Installed()->IdleTimeOut;
    const int pause = GLongestPause.load();
    if (pause > 0 && (idle < 1 || pause < idle)) idle = pause;
    return idle < 1 ? 1 : idle;
}
