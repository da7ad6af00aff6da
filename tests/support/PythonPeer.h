// Python 3's standard library as a reference peer: runs a function over many
// inputs in one interpreter start.
#pragma once

#include <string>
#include <vector>

// True when python3 can be started.
bool PythonAvailable();
// code defines "def f(b: bytes) -> bytes"; each input is passed to f and
// the results come back in order. Raises std::runtime_error when Python
// fails.
std::vector<std::string> PythonMap(const std::string &code, const std::vector<std::string> &inputs);
// Runs a whole script with the given arguments; returns its standard output.
std::string PythonRun(const std::string &script, const std::vector<std::string> &args = {});
