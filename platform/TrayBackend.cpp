#include "TrayBackend.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTimer>

std::string CopyChars(std::string_view s, int maxChars) {
    if (maxChars <= 0)
        return {};
    size_t i = 0;
    int chars = 0;
    while (i < s.size() && chars < maxChars) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        if (i + len > s.size())
            len = s.size() - i;  // a cut-off sequence at the end: keep its bytes
        // A stray continuation byte counts as one character of its own.
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                len = k;
                break;
            }
        i += len;
        ++chars;
    }
    return std::string(s.substr(0, i));
}

TTrayBackend::~TTrayBackend() = default;

void TTrayBackend::Deliver(uintptr_t id, unsigned notification) {
    if (OnNotification)
        OnNotification(id, notification);
}

void TTrayBackend::DeliverShellRestarted() {
    if (OnShellRestarted)
        OnShellRestarted();
}

namespace {
TTrayBackend *GCurrentBackend = nullptr;
TTrayBackend *GDesktopBackend = nullptr;
}  // namespace

TTrayBackend &TrayBackend() {
    if (GCurrentBackend)
        return *GCurrentBackend;
    // Made once and kept to the end of the process: its icons must not
    // outlive the application object in a static destructor.
    if (!GDesktopBackend)
        GDesktopBackend = new TQtTrayBackend;
    return *GDesktopBackend;
}

TTrayBackend *SetTrayBackend(TTrayBackend *backend) {
    TTrayBackend *previous = GCurrentBackend;
    GCurrentBackend = backend;
    return previous;
}

// ---------------------------------------------------------------------------

TQtTrayBackend::TQtTrayBackend() = default;

TQtTrayBackend::~TQtTrayBackend() {
    for (auto &[id, e] : FIcons) {
        delete e.BalloonTimer;
        delete e.Icon;
    }
}

void TQtTrayBackend::Post(uintptr_t id, unsigned notification) {
    // The shell announces balloons after the call that made them returns.
    QMetaObject::invokeMethod(
        &FContext, [this, id, notification] { Deliver(id, notification); }, Qt::QueuedConnection);
}

bool TQtTrayBackend::NotifyIcon(TNotifyIconMessage message, const TNotifyIconData &data) {
    auto it = FIcons.find(data.uID);
    switch (message) {
    case NIM_ADD: {
        if (it != FIcons.end())
            return false;
        TEntry e;
        uintptr_t id = data.uID;
        e.Icon = new QSystemTrayIcon(&FContext);
        e.BalloonTimer = new QTimer(&FContext);
        e.BalloonTimer->setSingleShot(true);
        QObject::connect(e.BalloonTimer, &QTimer::timeout, &FContext, [this, id] {
            auto f = FIcons.find(id);
            if (f != FIcons.end() && f->second.BalloonUp) {
                f->second.BalloonUp = false;
                Deliver(id, tnBalloonTimeout);
            }
        });
        QObject::connect(e.Icon, &QSystemTrayIcon::activated, &FContext,
                         [this, id](QSystemTrayIcon::ActivationReason reason) {
                             // Qt reports whole clicks; the icon expects the
                             // button transitions.
                             // A StatusNotifierItem host reports each click
                             // of a double click as a trigger; an XEmbed tray
                             // reports trigger, then double click.
                             auto f = FIcons.find(id);
                             if (f == FIcons.end())
                                 return;
                             QElapsedTimer &last = f->second.LastTrigger;
                             switch (reason) {
                             case QSystemTrayIcon::Trigger:
                                 if (last.isValid() && last.elapsed() < qint64(DoubleClickTime())) {
                                     last.invalidate();
                                     Deliver(id, tnLButtonDblClk);
                                 } else {
                                     last.start();
                                     Deliver(id, tnLButtonDown);
                                 }
                                 Deliver(id, tnLButtonUp);
                                 break;
                             case QSystemTrayIcon::DoubleClick:
                                 last.invalidate();
                                 Deliver(id, tnLButtonDblClk);
                                 Deliver(id, tnLButtonUp);
                                 break;
                             case QSystemTrayIcon::Context:
                                 last.invalidate();
                                 Deliver(id, tnRButtonDown);
                                 Deliver(id, tnRButtonUp);
                                 break;
                             case QSystemTrayIcon::MiddleClick:
                                 last.invalidate();
                                 Deliver(id, tnMButtonDown);
                                 Deliver(id, tnMButtonUp);
                                 break;
                             default:
                                 break;
                             }
                         });
        QObject::connect(e.Icon, &QSystemTrayIcon::messageClicked, &FContext, [this, id] {
            auto f = FIcons.find(id);
            if (f != FIcons.end()) {
                f->second.BalloonUp = false;
                f->second.BalloonTimer->stop();
            }
            Deliver(id, tnBalloonUserClick);
        });
        auto &entry = FIcons[id] = e;
        Apply(id, entry, data);
        entry.Icon->show();
        return QSystemTrayIcon::isSystemTrayAvailable();
    }
    case NIM_MODIFY:
        if (it == FIcons.end())
            return false;
        Apply(it->first, it->second, data);
        return true;
    case NIM_DELETE:
        if (it == FIcons.end())
            return false;
        it->second.Icon->hide();
        // The icon may be deleted from inside one of its own signals.
        it->second.Icon->deleteLater();
        it->second.BalloonTimer->deleteLater();
        FIcons.erase(it);
        return true;
    case NIM_SETVERSION:
        return it != FIcons.end();
    }
    return false;
}

void TQtTrayBackend::Apply(uintptr_t id, TEntry &e, const TNotifyIconData &data) {
    if (data.uFlags & NIF_ICON)
        e.Icon->setIcon(data.hIcon);
    if (data.uFlags & NIF_TIP)
        e.Icon->setToolTip(QString::fromStdString(data.szTip));
    if (data.uFlags & NIF_INFO) {
        if (e.BalloonUp) {
            e.BalloonUp = false;
            e.BalloonTimer->stop();
            Post(id, tnBalloonHide);
        }
        // An empty text only takes the balloon down; Qt offers no way to
        // withdraw a message already shown, so it runs out by itself.
        if (!data.szInfo.empty()) {
            QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::NoIcon;
            switch (data.dwInfoFlags) {
            case NIIF_INFO: kind = QSystemTrayIcon::Information; break;
            case NIIF_WARNING: kind = QSystemTrayIcon::Warning; break;
            case NIIF_ERROR: kind = QSystemTrayIcon::Critical; break;
            default: break;
            }
            int ms = data.uTimeout ? int(data.uTimeout) : 10000;
            e.Icon->showMessage(QString::fromStdString(data.szInfoTitle),
                                QString::fromStdString(data.szInfo), kind, ms);
            if (QSystemTrayIcon::supportsMessages()) {
                e.BalloonUp = true;
                e.BalloonTimer->start(ms);
                Post(id, tnBalloonShow);
            }
        }
    }
}

QPoint TQtTrayBackend::CursorPos() { return QCursor::pos(); }

TShiftState TQtTrayBackend::KeyShiftState() {
    Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
    TShiftState s = 0;
    if (m & Qt::ShiftModifier)
        s |= ssShift;
    if (m & Qt::AltModifier)
        s |= ssAlt;
    if (m & Qt::ControlModifier)
        s |= ssCtrl;
    return s;
}

unsigned TQtTrayBackend::DoubleClickTime() {
    return unsigned(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

void TQtTrayBackend::PopupMenu(QMenu *menu, QPoint at) {
    if (menu)
        menu->popup(at);
}

QRect TQtTrayBackend::IconGeometry(uintptr_t id) {
    auto it = FIcons.find(id);
    return it == FIcons.end() ? QRect() : it->second.Icon->geometry();
}

QSystemTrayIcon *TQtTrayBackend::TrayIconOf(uintptr_t id) const {
    auto it = FIcons.find(id);
    return it == FIcons.end() ? nullptr : it->second.Icon;
}

// ---------------------------------------------------------------------------

bool TRecordingTrayBackend::NotifyIcon(TNotifyIconMessage message, const TNotifyIconData &data) {
    bool answer = !Refuse;
    auto it = FIcons.find(data.uID);
    if (answer) {
        switch (message) {
        case NIM_ADD:
            if (it != FIcons.end())
                answer = false;
            else
                FIcons[data.uID] = data;
            break;
        case NIM_MODIFY:
            if (it == FIcons.end())
                answer = false;
            else
                it->second = data;
            break;
        case NIM_DELETE:
            if (it == FIcons.end())
                answer = false;
            else
                FIcons.erase(it);
            break;
        case NIM_SETVERSION:
            answer = it != FIcons.end();
            break;
        }
    }
    Calls.push_back({message, data, answer});
    return answer;
}

void TRecordingTrayBackend::RestartShell() {
    FIcons.clear();
    DeliverShellRestarted();
}

TNotifyIconData TRecordingTrayBackend::Current(uintptr_t id) const {
    auto it = FIcons.find(id);
    return it == FIcons.end() ? TNotifyIconData{} : it->second;
}
