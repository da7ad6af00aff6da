// Tarnwick, the mail monitor.
#include <QApplication>
#include <QTimer>

#include "Kel_Files.h"

TW_FILE_VERSION_RESOURCE("0.8.2.5");

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnwick");
    // The forms arrive with the monitor's start-up; until then the program
    // starts its event loop and leaves it at once.
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
