#include "TrayIcon.h"

#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <exception>
#include <map>

namespace {

// Routes the notification area's notifications to the icon they are for.
// Shared by every tray icon of the process; an identity that names no live
// icon (a notification racing with the icon's removal) is dropped.
struct TTrayIconHandler {
    std::map<uintptr_t, TTrayIcon *> Icons;

    void Attach(TTrayBackend &backend);
};

TTrayIconHandler *GHandler = nullptr;

// The callbacks look the handler up each time, so a back-end that outlives
// every icon of its own never calls into a freed handler.
void TTrayIconHandler::Attach(TTrayBackend &backend) {
    backend.OnNotification = [](uintptr_t id, unsigned n) {
        if (!GHandler)
            return;
        auto it = GHandler->Icons.find(id);
        if (it != GHandler->Icons.end())
            it->second->HandleNotification(n);
    };
    backend.OnShellRestarted = [] {
        if (!GHandler)
            return;
        // Copy first: re-adding may run handlers that free icons.
        std::vector<uintptr_t> ids;
        for (auto &[id, icon] : GHandler->Icons)
            ids.push_back(id);
        for (uintptr_t id : ids) {
            if (!GHandler)
                return;
            auto it = GHandler->Icons.find(id);
            if (it != GHandler->Icons.end())
                it->second->ShellRestarted();
        }
    };
}

}  // namespace

TTrayIcon::TTrayIcon(QObject *Owner)
    : QObject(Owner), FBackend(&TrayBackend()),
      FCycleTimer(1000, [this](QObject *) { CycleTimerTick(); }),
      FClickTimer(1000, [this](QObject *) { ClickTimerTick(); }),
      FExitTimer(20, [this](QObject *) { ExitTimerTick(); }) {
    if (!GHandler)
        GHandler = new TTrayIconHandler;
    GHandler->Attach(*FBackend);
    FData.uID = reinterpret_cast<uintptr_t>(this);
    GHandler->Icons[FData.uID] = this;
    FData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    FData.uCallbackMessage = TrayCallbackMessage;
    if (QWidget *w = OwnerWidget())
        w->installEventFilter(this);
}

TTrayIcon::~TTrayIcon() {
    SetIconVisible(false);
    FCycleTimer.SetEnabled(false);
    FClickTimer.SetEnabled(false);
    FExitTimer.SetEnabled(false);
    if (GHandler) {
        GHandler->Icons.erase(FData.uID);
        if (GHandler->Icons.empty()) {
            delete GHandler;
            GHandler = nullptr;
            FBackend->OnNotification = nullptr;
            FBackend->OnShellRestarted = nullptr;
        }
    }
}

QWidget *TTrayIcon::OwnerWidget() const { return qobject_cast<QWidget *>(parent()); }

QWidget *TTrayIcon::MainForm() const {
    QWidget *w = OwnerWidget();
    return w ? w->window() : nullptr;
}

void TTrayIcon::Fire(const TNotifyEvent &event) {
    if (event)
        event(this);
}

void TTrayIcon::Loaded() {
    if (OwnerWidget()) {
        bool show = true;
        if (OnStartup)
            OnStartup(this, show);
        if (!show) {
            FStartupShowMainForm = false;
            HideMainForm();
        }
    }
    NotifyModify();
    SetIconVisible(FIconAdded);
    SetCycleIcons(FCycleIcons);
    SetWantEnterExitEvents(FWantEnterExitEvents);
    SetNotifyVersion(FNotifyVersion);
}

// --- the record and the notification area -----------------------------

void TTrayIcon::PrepareData() {
    FData.hIcon = FIcon;
    if (!FHint.empty() && FShowHint)
        FData.szTip = CopyChars(FHint, TrayTipMaxChars);
    else
        FData.szTip.clear();
}

bool TTrayIcon::NotifyAdd() {
    PrepareData();
    // Set before the call: a refused add still counts as added, so that
    // the icon comes back when the notification area restarts.
    FIconAdded = true;
    return FBackend->NotifyIcon(NIM_ADD, FData);
}

bool TTrayIcon::NotifyDelete() {
    PrepareData();
    FIconAdded = false;
    return FBackend->NotifyIcon(NIM_DELETE, FData);
}

bool TTrayIcon::NotifyModify() {
    PrepareData();
    return FBackend->NotifyIcon(NIM_MODIFY, FData);
}

void TTrayIcon::SetNotifyVersion(bool Value) {
    FNotifyVersion = Value;
    TNotifyIconData d = FData;
    d.uTimeout = Value ? 3 : 0;
    FBackend->NotifyIcon(NIM_SETVERSION, d);
}

// --- property setters --------------------------------------------------

void TTrayIcon::SetIconList(TImageList *Value) {
    if (FIconList)
        disconnect(FIconList, &QObject::destroyed, this, nullptr);
    FIconList = Value;
    if (Value)
        connect(Value, &QObject::destroyed, this, [this] {
            // The list is going away under us: forget it, as if unset.
            FIconList = nullptr;
            FIconIndex = 0;
        });
    SetIconIndex(0);
}

void TTrayIcon::SetCycleIcons(bool Value) {
    FCycleIcons = Value;
    if (Value) {
        SetIconIndex(0);
        FCycleTimer.SetInterval(FCycleInterval);
        FCycleTimer.SetEnabled(true);
    } else {
        FCycleTimer.SetEnabled(false);
    }
}

void TTrayIcon::SetCycleInterval(unsigned Value) {
    FCycleInterval = Value;
    SetCycleIcons(FCycleIcons);
}

void TTrayIcon::SetHint(const std::string &Value) {
    FHint = Value;
    NotifyModify();
}

void TTrayIcon::SetShowHint(bool Value) {
    FShowHint = Value;
    NotifyModify();
}

void TTrayIcon::SetIcon(const QIcon &Value) {
    FIcon = Value;
    NotifyModify();
}

void TTrayIcon::SetIconVisible(bool Value) {
    if (Value)
        NotifyAdd();
    else
        NotifyDelete();
}

void TTrayIcon::SetIconIndex(int Value) {
    if (FIconList) {
        int count = FIconList->Count();
        if (Value > count - 1)
            Value = count - 1;
        if (Value < 0)
            Value = 0;
        FIconIndex = Value;
        FIconList->GetIcon(Value, FIcon);  // an empty list leaves the icon as it is
    } else {
        FIconIndex = 0;
    }
    NotifyModify();
}

void TTrayIcon::SetPopupMenu(TPopupMenu *Value) { FPopupMenu = Value; }

void TTrayIcon::SetWantEnterExitEvents(bool Value) {
    FWantEnterExitEvents = Value;
    FExitTimer.SetEnabled(Value);
}

// --- balloons ----------------------------------------------------------

bool TTrayIcon::ShowBalloonTip(const std::string &Title, const std::string &Text, uint8_t IconKind,
                               uint8_t TimeoutSeconds) {
    HideBalloonTip();
    PrepareData();
    FData.uFlags |= NIF_INFO;
    FData.szInfo = CopyChars(Text, TrayInfoMaxChars);
    FData.szInfoTitle = CopyChars(Title, TrayInfoTitleMaxChars);
    FData.uTimeout = unsigned(TimeoutSeconds) * 1000;
    FData.dwInfoFlags = IconKind <= biError ? IconKind : unsigned(NIIF_NONE);
    bool answer = FBackend->NotifyIcon(NIM_MODIFY, FData);
    FData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    return answer;
}

bool TTrayIcon::HideBalloonTip() {
    PrepareData();
    FData.uFlags |= NIF_INFO;
    FData.szInfo.clear();
    // The flag stays until the next balloon, so the next modify also
    // carries the empty balloon text.
    return FBackend->NotifyIcon(NIM_MODIFY, FData);
}

// --- main form ----------------------------------------------------------

void TTrayIcon::HideTaskbarButton() {
    // A hidden Qt window takes its taskbar entry with it; there is no
    // separate application window to hide.
}

void TTrayIcon::ShowMainForm() {
    QWidget *form = MainForm();
    if (!form)
        return;
    if (form->isMinimized())
        form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    form->show();
    form->raise();
    form->activateWindow();
}

void TTrayIcon::HideMainForm() {
    QWidget *form = MainForm();
    if (!form)
        return;
    form->hide();
    HideTaskbarButton();
}

bool TTrayIcon::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == parent()) {
        QWidget *w = OwnerWidget();
        try {
            if (Event->type() == QEvent::WindowStateChange && w && w->isMinimized() &&
                FMinimizeToTray) {
                // Hidden once the minimise has finished: hiding inside the
                // state change would be undone by the show that follows it.
                QPointer<QWidget> form = w;
                QMetaObject::invokeMethod(
                    this,
                    [this, form] {
                        if (!form || !form->isVisible() || !form->isMinimized() || !FMinimizeToTray)
                            return;
                        try {
                            Fire(OnMinimizeToTray);
                            DoMinimizeToTray();
                        } catch (const std::exception &e) {
                            std::fprintf(stderr, "tray icon event failed: %s\n", e.what());
                        } catch (...) {
                            std::fprintf(stderr, "tray icon event failed\n");
                        }
                    },
                    Qt::QueuedConnection);
            } else if (Event->type() == QEvent::Show && w) {
                FFirstShowPending = false;
                w->raise();
                w->activateWindow();
            }
        } catch (const std::exception &e) {
            std::fprintf(stderr, "tray icon event failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "tray icon event failed\n");
        }
    }
    return QObject::eventFilter(Watched, Event);
}

// --- notifications from the notification area --------------------------

void TTrayIcon::HandleNotification(unsigned Notification) {
    // A handler may free the icon (closing the form that owns it): after
    // each event nothing of it is touched unless it is still there.
    QPointer<TTrayIcon> self(this);
    try {
        switch (Notification) {
        case tnBalloonShow: Fire(OnBalloonHintShow); return;
        case tnBalloonHide: Fire(OnBalloonHintHide); return;
        case tnBalloonTimeout: Fire(OnBalloonHintTimeout); return;
        case tnBalloonUserClick: Fire(OnBalloonHintClick); return;
        default: break;
        }
        if (!FEnabled)
            return;
        QPoint p = FBackend->CursorPos();
        TShiftState shift = FBackend->KeyShiftState();
        switch (Notification) {
        case tnMouseMove:
            if (FWantEnterExitEvents && FCursorOutside) {
                FCursorOutside = false;
                MouseEnter();
                if (!self)
                    return;
            }
            FLastPos = p;
            MouseMove(shift, p.x(), p.y());
            break;
        case tnLButtonDown:
            if (OnDblClick) {
                FClickTimer.SetInterval(FBackend->DoubleClickTime());
                FClickTimer.SetEnabled(true);
            }
            FLeftDown = true;
            MouseDown(mbLeft, shift | ssLeft, p.x(), p.y());
            if (self && FLeftPopup)
                PopupAtCursor();
            break;
        case tnLButtonUp: {
            bool wasDown = FLeftDown;
            FLeftDown = false;
            if (wasDown) {
                FClickPending = true;
                if (!FClickTimer.Enabled()) {
                    FClickPending = false;
                    FDblClickSeen = false;
                    Click();
                    if (!self)
                        return;
                }
            }
            MouseUp(mbLeft, shift | ssLeft, p.x(), p.y());
            break;
        }
        case tnLButtonDblClk:
            FClickPending = false;
            FDblClickSeen = true;
            DblClick();
            if (self && FPopupMenu && FPopupMenu->AutoPopup() && !FLeftPopup)
                if (QAction *item = FPopupMenu->defaultAction())
                    if (item->isEnabled())
                        item->trigger();
            break;
        case tnRButtonDown:
            MouseDown(mbRight, shift | ssRight, p.x(), p.y());
            if (self)
                PopupAtCursor();
            break;
        case tnRButtonUp:
            if (!FNotifyVersion)
                MouseUp(mbRight, shift | ssRight, p.x(), p.y());
            break;
        case tnContextMenu:
        case tnSelect:
        case tnKeySelect:
            if (FNotifyVersion)
                MouseUp(mbRight, shift | ssRight, p.x(), p.y());
            break;
        case tnMButtonDown:
            MouseDown(mbMiddle, shift | ssMiddle, p.x(), p.y());
            break;
        case tnMButtonUp:
            MouseUp(mbMiddle, shift | ssMiddle, p.x(), p.y());
            break;
        default:
            break;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tray icon event failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tray icon event failed\n");
    }
}

void TTrayIcon::ShellRestarted() {
    // Only an icon that was up comes back.
    if (FIconAdded)
        NotifyAdd();
}

void TTrayIcon::PopupAtCursor() {
    if (!FPopupMenu || !FPopupMenu->AutoPopup())
        return;
    QPoint at = FBackend->CursorPos();
    FPopupMenu->SetPopupComponent(this);
    FBackend->PopupMenu(FPopupMenu, at);
}

// --- timers --------------------------------------------------------------

void TTrayIcon::ClickTimerTick() {
    FClickTimer.SetEnabled(false);
    bool click = !FDblClickSeen && FClickPending;
    FClickPending = false;
    FDblClickSeen = false;
    if (click)
        Click();
}

void TTrayIcon::ExitTimerTick() {
    if (!FCursorOutside && FBackend->CursorPos() != FLastPos) {
        FCursorOutside = true;
        MouseExit();
    }
}

void TTrayIcon::CycleTimerTick() {
    if (!FIconList)
        return;
    if (FIconList->GetIcon(FIconIndex, FIcon))
        NotifyModify();
    QPointer<TTrayIcon> self(this);
    Cycle();
    // The handler may have freed the icon or changed its list.
    if (!self || !FIconList)
        return;
    if (FIconIndex >= FIconList->Count() - 1)
        SetIconIndex(0);
    else
        SetIconIndex(FIconIndex + 1);
}

// --- event firers ----------------------------------------------------------

void TTrayIcon::Click() {
    if (FEnabled)
        Fire(OnClick);
}

void TTrayIcon::DblClick() {
    if (FEnabled)
        Fire(OnDblClick);
}

void TTrayIcon::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseDown)
        OnMouseDown(this, Button, Shift, X, Y);
}

void TTrayIcon::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseUp)
        OnMouseUp(this, Button, Shift, X, Y);
}

void TTrayIcon::MouseMove(TShiftState Shift, int X, int Y) {
    if (OnMouseMove)
        OnMouseMove(this, Shift, X, Y);
}

void TTrayIcon::MouseEnter() { Fire(OnMouseEnter); }

void TTrayIcon::MouseExit() {
    if (FEnabled)
        Fire(OnMouseExit);
}

void TTrayIcon::Cycle() {
    if (!OnCycle)
        return;
    int next = 0;
    if (FIconList && FIconIndex < FIconList->Count() - 1)
        next = FIconIndex + 1;
    OnCycle(this, next);
}

void TTrayIcon::DoMinimizeToTray() {
    HideMainForm();
    SetIconVisible(true);
}
