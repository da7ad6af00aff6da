#include "QtTestApp.h"

#include <QApplication>
#include <cstdlib>

QApplication &EnsureQApplication() {
    static int argc = 1;
    static char name[] = "tarnwick-test";
    static char *argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}
