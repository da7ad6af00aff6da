#include "QtTestApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>

QApplication &EnsureQApplication() {
    static int argc = 1;
    static char name[] = "tarnwick-test";
    static char *argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

bool ProcessEventsUntil(const std::function<bool()> &cond, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() >= timeoutMs) return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void ProcessEventsFor(int ms) {
    ProcessEventsUntil([] { return false; }, ms);
}
