// The program's own screen saver: banners of the accounts with new mail
// drifting over a black screen until the user moves.
#pragma once

#include <string>

void ShowScreenSaver();
bool ScreenSaverShown();
// The progress line of a running check on the shown saver.
void DrawSaverStatus(const std::string &Text, bool Visible);
