#include "DialogSeam.h"

#include <QDialog>
#include <QWidget>

namespace {
TModalHook gModalHook;
}  // namespace

void SetModalHook(TModalHook hook) { gModalHook = std::move(hook); }

int ShowModal(QDialog &dialog) {
    if (!gModalHook) return dialog.exec();
    // A copy: the hook may install another one for a nested dialog.
    TModalHook hook = gModalHook;
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    hook(dialog);
    if (dialog.isVisible()) dialog.close();
    return dialog.result();
}

QSize FitWindowSize(QSize Size, QSize Least, const QRect &Area) {
    if (Area.isEmpty()) return Size;
    QSize room(Area.width() - kWindowFrameAllowance, Area.height() - kTitleBarAllowance);
    return Size.boundedTo(room).expandedTo(Least);
}

QSize ExpectedFrameSize(const QWidget &Window) {
    const QSize frame = Window.frameGeometry().size();
    if (frame != Window.size()) return frame;
    return Window.size() + QSize(0, kTitleBarAllowance);
}
