// Opening a document, link or "mailto:" address with the desktop's handler.
// Tests replace the handler with a hook that records what was asked.
#pragma once

#include <functional>
#include <string>

// A path or URL; a text without a scheme is taken as a local path when it
// exists, else as a web address. True when the desktop accepted it.
bool ShellOpen(const std::string &target);
// An empty hook restores the desktop's handler.
void SetShellOpenHook(std::function<bool(const std::string &)> hook);
