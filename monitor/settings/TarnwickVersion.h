// Tarnwick's own version, four dotted numbers ("0.8.2.5"). The build writes
// it in one place (the top CMakeLists.txt); the About page, the settings
// file's TWVerini and the update check read it here, and the program's
// version marker (TarnwickMarker.cpp) is made from the same value.
#pragma once

extern const char TarnwickVersion[];
