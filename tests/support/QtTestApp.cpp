#include "QtTestApp.h"

#include <QApplication>
#include <cstdlib>

QApplication &EnsureQApplication() {
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return *app;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tarnwick-tests";
    static char *argv[] = {name, nullptr};
    return *new QApplication(argc, argv);  // lives until the process ends
}
