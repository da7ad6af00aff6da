// Every modal dialog of the monitor is shown through ShowModal. Without a
// hook it runs the dialog's own event loop (exec). Tests install a hook that
// stands in for the user: it receives the dialog, already shown but with no
// event loop of its own, may read its texts, click its buttons or close it;
// a dialog still open after the hook is closed as by its close box. The
// dialog's result is what ShowModal returns.
#pragma once

#include <functional>

class QDialog;

using TModalHook = std::function<void(QDialog &)>;
void SetModalHook(TModalHook hook);  // empty: back to exec()
int ShowModal(QDialog &dialog);
