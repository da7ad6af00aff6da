#include "TarnwickVersion.h"

#ifndef TARNWICK_VERSION_TEXT
#error "TARNWICK_VERSION_TEXT comes from the build (monitor/CMakeLists.txt)"
#endif

const char TarnwickVersion[] = TARNWICK_VERSION_TEXT;
