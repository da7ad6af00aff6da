// Every modal dialog of the monitor is shown through ShowModal. Without a
// hook it runs the dialog's own event loop (exec). Tests install a hook that
// stands in for the user: it receives the dialog, already shown but with no
// event loop of its own, may read its texts, click its buttons or close it;
// a dialog still open after the hook is closed as by its close box. The
// dialog's result is what ShowModal returns.
#pragma once

#include <functional>

#include <QRect>
#include <QSize>

class QDialog;
class QWidget;

using TModalHook = std::function<void(QDialog &)>;
void SetModalHook(TModalHook hook);  // empty: back to exec()
int ShowModal(QDialog &dialog);

// The size a window may take on a screen's work area: no larger than the
// area leaves beside the frame and title bar a desktop adds, and no smaller
// than the window's least size.
QSize FitWindowSize(QSize Size, QSize Least, const QRect &Area);
constexpr int kWindowFrameAllowance = 8, kTitleBarAllowance = 32;
// The outer size of a window with its frame. Until the desktop has framed
// it (just after show on X11) the frame is not known: the title bar is
// then reckoned in, so a window placed by its bottom-right corner does not
// run under the panel by the height of its title.
QSize ExpectedFrameSize(const QWidget &Window);
