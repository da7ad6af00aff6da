// Fenlow, the updater of Tarnwick.
#include <QApplication>

#include <string>
#include <vector>

#include "updates/Kel_Files.h"
#include "SysUtils.h"
#include "updates/UpdateFiles.h"
#include "unFenlow.h"

TW_FILE_VERSION_RESOURCE(FENLOW_VERSION_TEXT);

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Fenlow");
    ApplyUpdateCAFile();
    std::vector<std::string> args(argv + 1, argv + argc);
    TfrmFenlow form(args, ApplicationFolder());
    form.show();
    int rc = app.exec();
    return rc != 0 ? rc : form.ExitCode();
}
