// Tarnwick, the mail monitor.
#include <QApplication>

#include "FrmMain.h"
#include "Kel_Files.h"
#include "asetukset.h"

TW_FILE_VERSION_RESOURCE("0.8.2.5");

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnwick");
    // The program lives in the tray: closing its windows does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    auto *main = new TFrmMain(args);
    auto *options = new TFormAsetukset(nullptr);
    int rc = app.exec();
    delete options;
    delete main;
    return rc;
}
