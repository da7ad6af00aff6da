// The entry points of the web-mail module (WebMailModule.h): the program
// finds them by name once it has loaded the module.
#include "untwo.h"

extern "C" {

// The version the module was built for; the program refuses another.
__attribute__((visibility("default"))) const char *TarnwickWebMailVersion() { return TARNWICK_VERSION_TEXT; }

__attribute__((visibility("default"))) void TarnwickWebMailInstall() { InstallWebMailCalls(); }

__attribute__((visibility("default"))) void TarnwickWebMailFree() { FreeWebForm(); }
}
