#include "CommandRelay.h"

#include <csignal>

#include "ChildProcess.h"

CommandRelay::CommandRelay(int upstreamPort, const std::string &pattern, const std::string &answer,
                           const std::string &expungeAs) {
    FPid = StartPeerProcess({PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/command_relay.py",
                             std::to_string(upstreamPort), pattern, answer, expungeAs},
                            "", FPort);
}

CommandRelay::~CommandRelay() { StopPeerProcess(FPid, SIGKILL); }
