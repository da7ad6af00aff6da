#include "unScr.h"

namespace {
bool GShown = false;
}

bool ScreenSaverShown() { return GShown; }
void ShowScreenSaver() {}
void DrawSaverStatus(const std::string &, bool) {}
