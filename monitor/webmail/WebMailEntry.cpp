// The entry points of the web-mail module (WebMailModule.h): the program
// finds them by name once it has loaded the module. Which build the module
// belongs to is not asked here: the program reads the build's marker from
// the file before it loads it (its code must not run in another build).
#include "untwo.h"

extern "C" {

__attribute__((visibility("default"))) void TarnwickWebMailInstall() { InstallWebMailCalls(); }

__attribute__((visibility("default"))) void TarnwickWebMailFree() { FreeWebForm(); }
}
