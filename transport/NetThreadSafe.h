// Values shared between threads, each guarded by its own lock.
#pragma once

#include "NetGlobal.h"

class TNetThreadSafe {
public:
    virtual ~TNetThreadSafe() = default;
    void Lock() { FCriticalSection.Enter(); }
    void Unlock() { FCriticalSection.Leave(); }

protected:
    TNetCriticalSection FCriticalSection;
};

class TNetThreadSafeInteger : public TNetThreadSafe {
public:
    int Value() {
        Lock();
        int v = FValue;
        Unlock();
        return v;
    }
    void SetValue(int v) {
        Lock();
        FValue = v;
        Unlock();
    }
    int Increment() {
        Lock();
        int v = ++FValue;
        Unlock();
        return v;
    }
    int Decrement() {
        Lock();
        int v = --FValue;
        Unlock();
        return v;
    }

private:
    int FValue = 0;
};

// The process-wide counter the thread unit keeps.
TNetThreadSafeInteger &GNetThreadCount();
