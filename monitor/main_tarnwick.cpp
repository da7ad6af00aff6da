// Tarnwick, the mail monitor.
#include <QApplication>

#include "FrmMain.h"
#include "Kel_Files.h"
#include "ProgramLock.h"
#include "ProgramPaths.h"
#include "UpdateFiles.h"
#include "asetukset.h"

TW_FILE_VERSION_RESOURCE(TARNWICK_VERSION_TEXT);

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnwick");
    // The program lives in the tray: closing its windows does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    // Held until the program ends: Fenlow replaces the executable only
    // once every Tarnwick of this folder has let go. Fenlow holds it while it
    // installs; a Tarnwick started then waits for it to finish.
    TProgramLock programLock = AcquireProgramLock(ProgramFolder(), 15000, true);
    ApplyUpdateCAFile();
    auto *main = new TFrmMain(args);
    auto *options = new TFormAsetukset(nullptr);
    int rc = app.exec();
    delete options;
    delete main;
    return rc;
}
