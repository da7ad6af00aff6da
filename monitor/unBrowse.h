// The folder browser: the user picks a folder in a small tree of folders.
#pragma once

#include <string>

// Placed at (Left, Top). Path is the chosen folder, or empty when the user
// cancelled or closed the window (callers then keep their old value).
void ShowBrowseDialog(int Left, int Top, std::string &Path);
