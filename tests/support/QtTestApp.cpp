#include "QtTestApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

void EnsureQtApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "tw_tests";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives until the process ends
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
