#include "CommandRelay.h"

#include <csignal>

#include "ChildProcess.h"

CommandRelay::CommandRelay(int upstreamPort, const std::string &pattern, const std::string &answer) {
    FPid = StartPeerProcess({PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/command_relay.py",
                             std::to_string(upstreamPort), pattern, answer},
                            "", FPort);
}

CommandRelay::~CommandRelay() { StopPeerProcess(FPid, SIGKILL); }
