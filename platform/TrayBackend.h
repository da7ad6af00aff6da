// The notification area ("system tray") as the tray icon component sees it:
// one call that adds, changes or removes an icon with its tool-tip and
// balloon, the shell's notifications coming back for an icon, and the few
// desktop facts the component reads (cursor, modifier keys, double-click
// time). TQtTrayBackend puts the icons on the desktop through
// QSystemTrayIcon; TRecordingTrayBackend keeps every call for tests, since
// the headless test platform has no tray.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "GuiTypes.h"

class QMenu;
class QSystemTrayIcon;
class QTimer;

// Which members of TNotifyIconData a call carries.
enum TNotifyIconFlag : unsigned {
    NIF_MESSAGE = 0x01,
    NIF_ICON = 0x02,
    NIF_TIP = 0x04,
    NIF_INFO = 0x10,
};

enum TNotifyIconMessage : unsigned {
    NIM_ADD = 0,
    NIM_MODIFY = 1,
    NIM_DELETE = 2,
    NIM_SETVERSION = 4,
};

// The picture of a balloon.
enum TNotifyIconInfoFlag : unsigned {
    NIIF_NONE = 0,
    NIIF_INFO = 1,
    NIIF_WARNING = 2,
    NIIF_ERROR = 3,
};

// What the shell reports about an icon: mouse activity over it and the life
// of its balloon.
enum TTrayNotification : unsigned {
    tnContextMenu = 0x007B,
    tnMouseMove = 0x0200,
    tnLButtonDown = 0x0201,
    tnLButtonUp = 0x0202,
    tnLButtonDblClk = 0x0203,
    tnRButtonDown = 0x0204,
    tnRButtonUp = 0x0205,
    tnMButtonDown = 0x0207,
    tnMButtonUp = 0x0208,
    tnSelect = 0x0400,
    tnKeySelect = 0x0401,
    tnBalloonShow = 0x0402,
    tnBalloonHide = 0x0403,
    tnBalloonTimeout = 0x0404,
    tnBalloonUserClick = 0x0405,
};

// The message number under which the icons' notifications arrive.
constexpr unsigned TrayCallbackMessage = 0x800;

// Longest tool-tip, balloon text and balloon title, in characters.
constexpr int TrayTipMaxChars = 127;
constexpr int TrayInfoMaxChars = 255;
constexpr int TrayInfoTitleMaxChars = 63;

// One icon's state as sent to the notification area.
struct TNotifyIconData {
    uintptr_t uID = 0;                         // the icon's identity
    unsigned uFlags = 0;                       // TNotifyIconFlag bits
    unsigned uCallbackMessage = 0;
    QIcon hIcon;                               // a null icon when there is none
    std::string szTip;                         // at most TrayTipMaxChars
    std::string szInfo;                        // balloon text, at most TrayInfoMaxChars
    unsigned uTimeout = 0;                     // balloon time-out in ms; the version for NIM_SETVERSION
    std::string szInfoTitle;                   // at most TrayInfoTitleMaxChars
    unsigned dwInfoFlags = 0;                  // TNotifyIconInfoFlag
};

// The first maxChars characters of UTF-8 text; never splits a character.
std::string CopyChars(std::string_view s, int maxChars);

class TTrayBackend {
public:
    virtual ~TTrayBackend();
    // Adds, modifies or deletes the icon data.uID; true when the shell took it.
    virtual bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData &data) = 0;
    virtual QPoint CursorPos() = 0;
    // Shift, Alt and Ctrl as they are held right now.
    virtual TShiftState KeyShiftState() = 0;
    virtual unsigned DoubleClickTime() = 0;
    // Opens a menu at a screen position (the menu closes by itself).
    virtual void PopupMenu(QMenu *menu, QPoint at) = 0;
    // Where the icon stands on the screen; empty when that is unknown.
    virtual QRect IconGeometry(uintptr_t /*id*/) { return {}; }

    // Set by the tray icon component: where the shell's notifications go.
    std::function<void(uintptr_t id, unsigned notification)> OnNotification;
    // The notification area was recreated; icons must be added again.
    std::function<void()> OnShellRestarted;

protected:
    void Deliver(uintptr_t id, unsigned notification);
    void DeliverShellRestarted();
};

// The back-end the tray icons of this process use: the one last set, else a
// TQtTrayBackend made on first use.
TTrayBackend &TrayBackend();
// Makes backend current (nullptr: back to the desktop one); answers the
// previous one. The caller keeps ownership.
TTrayBackend *SetTrayBackend(TTrayBackend *backend);

// Icons on the desktop's tray through QSystemTrayIcon (a StatusNotifierItem
// on current desktops, an XEmbed icon under older panels). Clicks come back
// as button-down/up pairs (two triggers within the double-click time as a
// double click, since StatusNotifierItem hosts report nothing else); balloons
// become showMessage, and their show, hide
// and time-out notifications are produced here, since Qt reports only the
// user's click on a balloon.
class TQtTrayBackend : public TTrayBackend {
public:
    TQtTrayBackend();
    ~TQtTrayBackend() override;
    bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData &data) override;
    QPoint CursorPos() override;
    TShiftState KeyShiftState() override;
    unsigned DoubleClickTime() override;
    void PopupMenu(QMenu *menu, QPoint at) override;
    QRect IconGeometry(uintptr_t id) override;
    // The Qt icon behind an id (nullptr when absent); lets tests play the
    // desktop's part through its signals.
    QSystemTrayIcon *TrayIconOf(uintptr_t id) const;

private:
    struct TEntry {
        QSystemTrayIcon *Icon = nullptr;
        QTimer *BalloonTimer = nullptr;
        bool BalloonUp = false;
        // When the last lone trigger came (for telling a double click on
        // hosts that report only triggers); invalid after a double click.
        QElapsedTimer LastTrigger;
    };
    void Apply(uintptr_t id, TEntry &e, const TNotifyIconData &data);
    void Post(uintptr_t id, unsigned notification);
    QObject FContext;
    std::map<uintptr_t, TEntry> FIcons;
};

// Keeps every call, answers like the shell does (adding an icon twice or
// changing a missing one fails), and lets a test play the shell's part.
class TRecordingTrayBackend : public TTrayBackend {
public:
    struct TCall {
        TNotifyIconMessage Message;
        TNotifyIconData Data;
        bool Answer;
    };
    struct TPopup {
        QMenu *Menu;
        QPoint At;
    };

    bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData &data) override;
    QPoint CursorPos() override { return Cursor; }
    TShiftState KeyShiftState() override { return Shift; }
    unsigned DoubleClickTime() override { return DblClickTime; }
    void PopupMenu(QMenu *menu, QPoint at) override { Popups.push_back({menu, at}); }

    // The shell's side.
    void Send(uintptr_t id, unsigned notification) { Deliver(id, notification); }
    void RestartShell();

    const TCall &Last() const { return Calls.back(); }
    bool Shown(uintptr_t id) const { return FIcons.count(id) != 0; }
    // The state the shell holds for an icon (empty data when absent).
    TNotifyIconData Current(uintptr_t id) const;

    std::vector<TCall> Calls;
    std::vector<TPopup> Popups;
    bool Refuse = false;  // the shell turns every call down
    QPoint Cursor;
    TShiftState Shift = 0;
    unsigned DblClickTime = 500;

private:
    std::map<uintptr_t, TNotifyIconData> FIcons;
};
