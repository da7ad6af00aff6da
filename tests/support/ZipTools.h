// Building zip archives for tests with real tools (Info-ZIP zip, 7z, Python's
// zipfile) and checking what an extraction left behind.
#pragma once

#include <string>

// Runs a shell command with its output discarded; returns the exit status.
int RunTool(const std::string &command);
// Runs a Python 3 script; returns the exit status.
int RunPython(const std::string &script);
// Shell-quotes a text for RunTool.
std::string ShellQuote(const std::string &s);
// Bytes that deflate well (text) or not at all (pseudo-random), reproducible.
std::string TextBytes(size_t n, unsigned seed = 1);
std::string RandomBytes(size_t n, unsigned seed = 1);
// True when the tool is on the PATH.
bool HaveTool(const std::string &name);
// Mode bits of a file (0 when absent).
unsigned FileMode(const std::string &path);
