// Tarnwick's version marker, made from the same version as TarnwickVersion.
// Every program that is Tarnwick (and the tests that stand in for it) links
// this object; Fenlow, which links the monitor's code too, carries its own
// marker instead.
#include "Kel_Files.h"

#ifndef TARNWICK_VERSION_TEXT
#error "TARNWICK_VERSION_TEXT comes from the build (monitor/CMakeLists.txt)"
#endif

TW_FILE_VERSION_RESOURCE(TARNWICK_VERSION_TEXT);
