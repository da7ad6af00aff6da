#include "POP3STLSPeer.h"

#include "DovecotServer.h"

#include <csignal>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

POP3STLSPeer::POP3STLSPeer(const std::string &cert, const std::string &key) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args = {PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/pop3_stls_peer.py",
                                     "--cert", cert, "--key", key};
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    FPid = pid;
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buf[64];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, size_t(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) != 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
        throw std::runtime_error("pop3_stls_peer.py did not start: " + line);
    }
    FPort = std::stoi(line.substr(5));
}

POP3STLSPeer::~POP3STLSPeer() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
}
