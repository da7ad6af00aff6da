#include "QtTestApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>

QApplication &EnsureQApplication() {
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return *app;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tarnwick-tests";
    static char *argv[] = {name, nullptr};
    return *new QApplication(argc, argv);
}

bool WaitUntil(const std::function<bool()> &cond, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void ProcessEventsFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}
