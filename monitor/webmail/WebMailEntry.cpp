// The entry points of the web-mail module (WebMailModule.h): the program
// finds them by name once it has loaded the module. Which build the module
// belongs to is not asked here: the program reads the build's marker from
// the file before it loads it (its code must not run in another build).
#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>

#include "untwo.h"

// The engine's own start-up (exported by Qt WebEngine, declared only in its
// private headers). Loaded before the application object, the engine runs it
// from that object's constructor; loaded after it, it only warns.
namespace QtWebEngineCore {
void initialize();
}

namespace {

// Loaded while the program runs (a web-mail account met after the start),
// the module finds the application made and the engine's start-up missed:
// without the GL context the engine shares with the application, its first
// page ends the program. The start-up makes that context now and frees it
// after the engine when the application ends. Before the application exists
// the engine sees to it itself; it may only start on the GUI thread.
void StartEngineInRunningApplication() {
    const QCoreApplication *app = QCoreApplication::instance();
    if (!qobject_cast<const QGuiApplication *>(app) || app->thread() != QThread::currentThread()) return;
    QtWebEngineCore::initialize();
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void TarnwickWebMailInstall() {
    StartEngineInRunningApplication();
    InstallWebMailCalls();
}

__attribute__((visibility("default"))) void TarnwickWebMailFree() { FreeWebForm(); }
}
