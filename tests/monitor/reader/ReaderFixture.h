// The message reader opened as the main window opens it, for tests that
// work on its loaded list.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QTreeWidget>

#include "dialogs/DialogSeam.h"
#include "EventLoopWait.h"
#include "reader/unShowBody.h"
#include "SimpleTimer.h"

// Opens the reader, waits until its list is loaded, hands it to Act and
// closes it. False when the list never finished loading (the reader stayed
// busy or kept waiting for a cycle).
inline bool RunLoadedReader(const std::function<void(TfrmMessBody &)> &Act, int TimeoutMs = 60000) {
    bool loaded = false;
    SetModalHook([&](QDialog &d) {
        if (auto *f = dynamic_cast<TfrmMessBody *>(&d)) {
            loaded = WaitUntil([f] { return !f->Busy && !f->Timer1->Enabled(); }, TimeoutMs);
            if (loaded) Act(*f);
        }
    });
    ShowMessageReader(1200, 900);
    SetModalHook({});
    return loaded;
}

// The subjects of the reader's list, top row first.
inline std::vector<std::string> Subjects(TfrmMessBody &f) {
    std::vector<std::string> out;
    for (int r = 0; r < f.MailList->topLevelItemCount(); ++r)
        out.push_back(f.MailList->topLevelItem(r)->text(1).toStdString());
    return out;
}
