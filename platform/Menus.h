// The popup menu the program's windows and its tray icon open.
#pragma once

#include <QAction>
#include <QMenu>

// A QMenu that knows whether it opens by itself on a right click
// (AutoPopup) and which component opened it last (PopupComponent). Its
// default item is QMenu's defaultAction().
class TPopupMenu : public QMenu {
public:
    explicit TPopupMenu(QWidget *parent = nullptr) : QMenu(parent) {}
    bool AutoPopup() const { return FAutoPopup; }
    void SetAutoPopup(bool v) { FAutoPopup = v; }
    QObject *PopupComponent() const { return FPopupComponent; }
    void SetPopupComponent(QObject *c) { FPopupComponent = c; }

private:
    bool FAutoPopup = true;
    QObject *FPopupComponent = nullptr;
};

// A menu item that carries a number of the program's own, as the exit item
// carries the request to stop a running check.
class TMenuItem : public QAction {
public:
    using QAction::QAction;
    int Tag = 0;
};
