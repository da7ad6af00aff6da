#include "ScriptedPeer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace {
std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) s.append({digits[c >> 4], digits[c & 15]});
    return s;
}
}  // namespace

std::string ScriptedPeer::Send(const std::string &bytes) { return "send:" + Hex(bytes); }

std::string ScriptedPeer::SendRepeated(long long times, const std::string &bytes) {
    return "sendrep:" + std::to_string(times) + ":" + Hex(bytes);
}

std::vector<std::string> ScriptedPeer::Talk(std::initializer_list<std::string> items) {
    std::vector<std::string> steps;
    for (const std::string &i : items) {
        if (i == "<")
            steps.push_back("readline");
        else if (!i.empty() && i[0] == '!')
            steps.push_back(i.substr(1));
        else
            steps.push_back(Send(i + "\r\n"));
    }
    return steps;
}

ScriptedPeer::ScriptedPeer(const std::vector<std::string> &steps) {
    char tmpl[] = "/tmp/tw_peer_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) throw std::runtime_error("cannot make the peer log");
    close(fd);
    FLogPath = tmpl;
    std::vector<std::string> args = {PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/scripted_peer.py",
                                     FLogPath};
    args.insert(args.end(), steps.begin(), steps.end());
    try {
        FPid = StartPeerProcess(args, "", FPort);
    } catch (...) {
        // No destructor runs for a constructor that throws.
        unlink(FLogPath.c_str());
        throw;
    }
}

ScriptedPeer::~ScriptedPeer() {
    StopPeerProcess(FPid, SIGTERM);
    unlink(FLogPath.c_str());
}

std::string ScriptedPeer::Received(int timeoutMs) {
    if (FPid > 0) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
                FPid = -1;
                break;
            }
            usleep(10000);
        }
    }
    return ReadTestFile(FLogPath);
}
