// traydemo: the tray icon on a real desktop. It shows an icon with a hint,
// cycles three pictures, raises a balloon and prints every event, so the
// component can be watched under a panel (scripts/traydemo.sh runs it on a
// virtual display with tint2).
//
//   traydemo [--screenshots PREFIX] [--hint TEXT]
//
// With --screenshots it takes two pictures of the screen, PREFIX-balloon.png
// while the balloon is up and PREFIX-hint.png with the cursor resting on the
// icon, and then ends.
#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <string>

#include "TrayIcon.h"

namespace {

// A 22-pixel envelope in the given colour.
QIcon Envelope(QColor colour) {
    QPixmap pm(22, 22);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(colour);
    p.drawRect(QRectF(2.5, 5.5, 17, 12));
    p.drawLine(QPointF(2.5, 5.5), QPointF(11, 12.5));
    p.drawLine(QPointF(19.5, 5.5), QPointF(11, 12.5));
    return QIcon(pm);
}

void Say(const char *what) {
    std::printf("traydemo: %s\n", what);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("traydemo");
    QApplication::setQuitOnLastWindowClosed(false);
    std::string shots, hint = "Tarnwick / You got 2 new mails";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--screenshots" && i + 1 < argc)
            shots = argv[++i];
        else if (a == "--hint" && i + 1 < argc)
            hint = argv[++i];
    }

    QWidget form;  // the main form the icon hides and shows
    form.resize(273, 153);
    form.setWindowTitle("traydemo");
    TImageList pictures(&form);
    pictures.Add(Envelope(QColor(240, 240, 240)));
    pictures.Add(Envelope(QColor(250, 200, 40)));
    pictures.Add(Envelope(QColor(80, 160, 255)));
    TPopupMenu menu;
    QAction *balloon = menu.addAction("Show balloon");
    QAction *cycle = menu.addAction("Cycle icons");
    QAction *window = menu.addAction("Show window");
    QAction *exitItem = menu.addAction("Exit");
    menu.setDefaultAction(window);

    auto *tray = new TTrayIcon(&form);
    tray->SetHint(hint);
    tray->SetIconList(&pictures);
    tray->SetPopupMenu(&menu);
    tray->SetMinimizeToTray(true);
    tray->OnStartup = [](QObject *, bool &show) { show = false; };
    tray->OnClick = [](QObject *) { Say("click"); };
    tray->OnDblClick = [](QObject *) { Say("double click"); };
    tray->OnMouseDown = [](QObject *, TMouseButton b, TShiftState, int x, int y) {
        std::printf("traydemo: mouse down %s at %d,%d\n", b == mbLeft ? "left" : b == mbRight ? "right" : "middle", x, y);
        std::fflush(stdout);
    };
    tray->OnCycle = [](QObject *, int next) { std::printf("traydemo: cycle, next %d\n", next); std::fflush(stdout); };
    tray->OnBalloonHintShow = [](QObject *) { Say("balloon shown"); };
    tray->OnBalloonHintTimeout = [](QObject *) { Say("balloon timed out"); };
    tray->OnBalloonHintClick = [](QObject *) { Say("balloon clicked"); };
    tray->OnMinimizeToTray = [](QObject *) { Say("minimised to the tray"); };
    tray->SetIconVisible(true);
    tray->Loaded();

    QObject::connect(balloon, &QAction::triggered, [tray] {
        tray->ShowBalloonTip("Tarnwick", "You got 2 new mails", biInfo, 10);
    });
    QObject::connect(cycle, &QAction::triggered, [tray] {
        tray->SetCycleInterval(400);
        tray->SetCycleIcons(!tray->CycleIcons());
    });
    QObject::connect(window, &QAction::triggered, [tray] { tray->ShowMainForm(); });
    QObject::connect(exitItem, &QAction::triggered, &app, &QApplication::quit);

    // Under a panel that starts with us, Qt puts the icon into the tray
    // as soon as the panel takes it.
    QTimer::singleShot(1000, [] {
        std::printf("traydemo: tray %s, balloons %s\n",
                    QSystemTrayIcon::isSystemTrayAvailable() ? "available" : "not (yet) available",
                    QSystemTrayIcon::supportsMessages() ? "supported" : "not supported");
        std::fflush(stdout);
    });

    auto grab = [](const std::string &file) {
        QScreen *screen = QGuiApplication::primaryScreen();
        if (screen && screen->grabWindow(0).save(QString::fromStdString(file)))
            std::printf("traydemo: saved %s\n", file.c_str());
        else
            std::printf("traydemo: could not save %s\n", file.c_str());
        std::fflush(stdout);
    };
    if (!shots.empty()) {
        QTimer::singleShot(1500, [tray] {
            tray->ShowBalloonTip("Tarnwick", "You got 2 new mails", biInfo, 3);
        });
        QTimer::singleShot(2500, [&] { grab(shots + "-balloon.png"); });
        QTimer::singleShot(6000, [tray] {
            QRect r = TrayBackend().IconGeometry(tray->Id());
            std::printf("traydemo: icon at %d,%d size %dx%d\n", r.x(), r.y(), r.width(), r.height());
            QCursor::setPos(r.isValid() ? r.center() : QPoint(0, 0));
        });
        QTimer::singleShot(6300, [tray] {
            // A small move over the icon, as a hand would make.
            QRect r = TrayBackend().IconGeometry(tray->Id());
            if (r.isValid())
                QCursor::setPos(r.center() + QPoint(1, 1));
        });
        QTimer::singleShot(8500, [&] {
            grab(shots + "-hint.png");
            app.quit();
        });
    } else {
        tray->SetCycleInterval(400);
        tray->SetCycleIcons(true);
        QTimer::singleShot(3000, [tray] {
            tray->SetCycleIcons(false);
            tray->SetIconIndex(1);
            tray->ShowBalloonTip("Tarnwick", "You got 2 new mails", biInfo, 10);
        });
    }
    int rc = app.exec();
    tray->SetIconVisible(false);
    return rc;
}
