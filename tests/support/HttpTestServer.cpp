#include "HttpTestServer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

HttpTestServer::HttpTestServer(const std::string &root, const std::string &certFile,
                               const std::string &keyFile)
    : FTls(!certFile.empty()) {
    // A proxy named in the environment must not see loopback test traffic.
    ::setenv("no_proxy", "127.0.0.1,::1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,::1,localhost", 1);
    std::string script = std::string(TW_SOURCE_DIR) + "/tests/support/http_peer.py";
    std::vector<std::string> args = {"python3", script, "--root", root};
    if (FTls) {
        args.insert(args.end(), {"--cert", certFile, "--key", keyFile});
    }
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    int rc = posix_spawnp(&FPid, "python3", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        FPid = -1;
        throw std::runtime_error("cannot start python3 for the HTTP test peer");
    }

    // The peer binds a free port itself and names it, so no other process
    // can take the port between choosing and binding it.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[128];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, size_t(n));
    }
    ::close(out[0]);
    if (line.rfind("PORT ", 0) == 0) FPort = std::atoi(line.c_str() + 5);
    if (FPort <= 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
        throw std::runtime_error("the HTTP test peer did not start: " + line);
    }
}

HttpTestServer::~HttpTestServer() {
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        int status = 0;
        while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string HttpTestServer::Url(const std::string &path) const {
    return std::string(FTls ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string HttpPatternBytes(size_t count, size_t offset) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) s[i] = char((offset + i) % 251);
    return s;
}
