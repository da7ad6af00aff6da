// Fenlow, the updater of Tarnwick.
#include <QApplication>
#include <QTimer>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Fenlow");
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
