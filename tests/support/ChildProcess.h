// Child processes of the tests: tools run to their end with their output
// collected, and peers that run beside a test, listen on a loopback port
// and name it on the first line they print.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Runs a program (found on PATH) with extra "NAME=value" environment
// entries, feeding it `input` on stdin; collects stdout (and stderr, when
// `error` is null, into `output` as well). Returns the exit status, or -1
// when it died by a signal or could not start. Stops it after `timeoutSec`.
int RunProgram(const std::vector<std::string> &argv, std::string *output = nullptr,
               std::string *error = nullptr, const std::vector<std::string> &env = {},
               const std::string &input = "", int timeoutSec = 120);

// Runs a shell command line with "/bin/sh -c"; its output is dropped.
// Returns the exit status, or -1 as RunProgram.
int RunShell(const std::string &command, int timeoutSec = 600);

// The Python 3 interpreter the tests use ($TW_PYTHON, else /usr/bin/python3).
std::string PythonProgram();

// Runs a Python 3 script given as text with arguments; as RunProgram.
int RunPython(const std::string &script, const std::vector<std::string> &args,
              std::string *output = nullptr, std::string *error = nullptr,
              const std::vector<std::string> &env = {});

// Starts a peer (argv[0] found on PATH) whose first line of output is
// `prefix` followed by the port it listens on, and returns its process id
// with `port` set. A peer that says nothing else within `timeoutMs`, or
// exits, is stopped and std::runtime_error raised.
pid_t StartPeerProcess(const std::vector<std::string> &argv, const std::string &prefix, int &port,
                       int timeoutMs = 10000);

// Sends the signal (SIGKILL when 0) to a peer and reaps it.
void StopPeerProcess(pid_t pid, int signal = 0);
