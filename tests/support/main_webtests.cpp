// The main of a test program whose browser tests live in a library beside
// it (tests/CMakeLists.txt). The library runs on the web-mail module, which
// is loaded here as Tarnwick loads it: before the application object (a
// web-mail account in the settings), or with TW_WEBMAIL_LOAD=late after it
// (an account met later), and only then the library.
#include <dlfcn.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <gmock/gmock.h>
#include <string>

#include "webmail/WebMailCalls.h"
#include "webmail/WebMailModule.h"
#include "WebMailSite.h"

int main(int argc, char **argv) {
    const char *load = std::getenv("TW_WEBMAIL_LOAD");
    const bool late = load && std::string(load) == "late";
    SetWebMailModulePath(TW_WEBMAIL_MODULE);
    if (late)
        PrepareBrowserTests();  // makes the application
    else
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (!LoadWebMailModule()) {
        std::fprintf(stderr, "the web-mail module did not load: %s\n", WebMailModuleError().c_str());
        return 1;
    }
    // Each test brings the route in as the program does, or leaves it out.
    SetWebMailCalls({});
    if (!dlopen(TW_WEB_TESTS, RTLD_NOW | RTLD_GLOBAL)) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    testing::InitGoogleMock(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    // Ends as Tarnwick ends: the engine stops its threads when the
    // application object goes. Left running, they would go on working while
    // exit() frees the engine's globals under them.
    FreeWebMailForm();
    delete QCoreApplication::instance();
    return rc;
}
