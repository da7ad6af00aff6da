#include "ScriptedPeer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TestSupport.h"

namespace {
std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}
}  // namespace

std::string ScriptedPeer::Send(const std::string &bytes) { return "send:" + Hex(bytes); }

std::string ScriptedPeer::SendRepeated(long long times, const std::string &bytes) {
    return "sendrep:" + std::to_string(times) + ":" + Hex(bytes);
}

ScriptedPeer::ScriptedPeer(const std::vector<std::string> &steps) {
    char tmpl[] = "/tmp/tw_peer_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) throw std::runtime_error("cannot make the peer log");
    close(fd);
    FLogPath = tmpl;

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    std::string script = std::string(TW_SOURCE_DIR) + "/tests/support/scripted_peer.py";
    std::vector<std::string> args = {"python3", script, FLogPath};
    args.insert(args.end(), steps.begin(), steps.end());
    FPid = fork();
    if (FPid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp("python3", argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    FPort = atoi(line.c_str());
    if (FPort <= 0) {
        // No destructor runs for a constructor that throws: clean up here.
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
        unlink(FLogPath.c_str());
        throw std::runtime_error("the scripted peer did not start");
    }
}

ScriptedPeer::~ScriptedPeer() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
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
    std::ifstream f(FLogPath, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
