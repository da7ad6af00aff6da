// The program's icon in the desktop's notification area: tool-tip, balloon
// tips, icon cycling through an image list, mouse and click events, and
// hiding the owner window to the tray when it is minimised.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>

#include "GuiTypes.h"
#include "ImgList.h"
#include "Menus.h"
#include "SimpleTimer.h"
#include "TrayBackend.h"

class QWidget;

using TMouseEvent = std::function<void(QObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject *Sender, TShiftState Shift, int X, int Y)>;
using TCycleEvent = std::function<void(QObject *Sender, int NextIndex)>;
using TStartupEvent = std::function<void(QObject *Sender, bool &ShowMainForm)>;

enum TBalloonIcon : uint8_t { biNone = 0, biInfo = 1, biWarning = 2, biError = 3 };

class TTrayIcon : public QObject {
public:
    // Owner frees the component. When the owner is a widget, it is the form
    // the icon hides and shows (the main form).
    explicit TTrayIcon(QObject *Owner);
    ~TTrayIcon() override;
    TTrayIcon(const TTrayIcon &) = delete;
    TTrayIcon &operator=(const TTrayIcon &) = delete;

    // Call once the owner has set the properties: asks OnStartup whether the
    // main form is to be shown, then puts the icon up as configured.
    void Loaded();

    // --- properties ------------------------------------------------------
    bool DesignPreview() const { return FDesignPreview; }
    void SetDesignPreview(bool Value) { FDesignPreview = Value; }  // no designer here
    TImageList *IconList() const { return FIconList; }
    void SetIconList(TImageList *Value);
    bool CycleIcons() const { return FCycleIcons; }
    void SetCycleIcons(bool Value);
    unsigned CycleInterval() const { return FCycleInterval; }
    void SetCycleInterval(unsigned Value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value) { FEnabled = Value; }
    const std::string &Hint() const { return FHint; }
    void SetHint(const std::string &Value);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool Value);
    const QIcon &Icon() const { return FIcon; }
    void SetIcon(const QIcon &Value);
    bool IconVisible() const { return FIconAdded; }
    void SetIconVisible(bool Value);
    int IconIndex() const { return FIconIndex; }
    void SetIconIndex(int Value);
    TPopupMenu *PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(TPopupMenu *Value);
    bool LeftPopup() const { return FLeftPopup; }
    void SetLeftPopup(bool Value) { FLeftPopup = Value; }
    bool WantEnterExitEvents() const { return FWantEnterExitEvents; }
    void SetWantEnterExitEvents(bool Value);
    bool MinimizeToTray() const { return FMinimizeToTray; }
    void SetMinimizeToTray(bool Value) { FMinimizeToTray = Value; }
    // The newer notification protocol: the right button's release then
    // arrives as a context-menu or select notification.
    bool NotifyVersion() const { return FNotifyVersion; }
    void SetNotifyVersion(bool Value);

    // --- events ----------------------------------------------------------
    TNotifyEvent OnClick, OnDblClick, OnMouseEnter, OnMouseExit, OnMinimizeToTray;
    TNotifyEvent OnBalloonHintShow, OnBalloonHintHide, OnBalloonHintTimeout, OnBalloonHintClick;
    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TCycleEvent OnCycle;
    TStartupEvent OnStartup;

    // --- routines --------------------------------------------------------
    // Title is cut to 63 and Text to 255 characters; the balloon stays
    // TimeoutSeconds. Answers whether the notification area took it.
    bool ShowBalloonTip(const std::string &Title, const std::string &Text, uint8_t IconKind,
                        uint8_t TimeoutSeconds);
    bool HideBalloonTip();
    bool RefreshIcon() { return NotifyModify(); }
    void HideTaskbarButton();
    void ShowMainForm();
    void HideMainForm();

    // False once OnStartup has kept the main form hidden; the program shows
    // its main form at start only while this is true.
    bool StartupShowMainForm() const { return FStartupShowMainForm; }
    // The identity under which the notification area knows this icon.
    uintptr_t Id() const { return FData.uID; }
    // What was last prepared for the notification area.
    const TNotifyIconData &IconData() const { return FData; }

    // A notification from the notification area about this icon.
    void HandleNotification(unsigned Notification);
    // The notification area was recreated and has forgotten its icons.
    void ShellRestarted();

protected:
    virtual bool LoadDefaultIcon() { return true; }
    virtual bool NotifyAdd();
    virtual bool NotifyDelete();
    virtual bool NotifyModify();

    // The event firers; each calls its event only when it is assigned.
    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseEnter();
    virtual void MouseExit();
    virtual void Cycle();
    virtual void DoMinimizeToTray();

    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void PrepareData();
    void PopupAtCursor();
    void CycleTimerTick();
    void ClickTimerTick();
    void ExitTimerTick();
    QWidget *OwnerWidget() const;
    QWidget *MainForm() const;
    void Fire(const TNotifyEvent &event);

    TTrayBackend *FBackend;
    QPointer<TImageList> FIconList;
    QPointer<TPopupMenu> FPopupMenu;
    QIcon FIcon;
    std::string FHint;
    unsigned FCycleInterval = 0;
    int FIconIndex = 0;
    bool FDesignPreview = false;
    bool FCycleIcons = false;
    bool FEnabled = true;
    bool FShowHint = true;
    bool FLeftPopup = false;
    bool FWantEnterExitEvents = false;
    bool FMinimizeToTray = false;
    bool FNotifyVersion = false;

    bool FIconAdded = false;
    bool FFirstShowPending = true;
    bool FLeftDown = false;
    bool FClickPending = false;
    bool FDblClickSeen = false;
    bool FCursorOutside = true;
    QPoint FLastPos;
    bool FStartupShowMainForm = true;

    TNotifyIconData FData;
    TSimpleTimer FCycleTimer;
    TSimpleTimer FClickTimer;
    TSimpleTimer FExitTimer;
};
