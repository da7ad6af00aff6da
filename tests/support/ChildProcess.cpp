#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Environment for a child: ours, with the given "NAME=value" entries
// replacing or adding to it.
std::vector<std::string> ChildEnvironment(const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    for (char **e = environ; e && *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const auto &x : extra)
            if (x.substr(0, x.find('=')) == name) overridden = true;
        if (!overridden) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char *> CArray(std::vector<std::string> &v) {
    std::vector<char *> out;
    for (auto &s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

int RunProgram(const std::vector<std::string> &argv, std::string *output, std::string *error,
               const std::vector<std::string> &env, const std::string &input, int timeoutSec) {
    if (argv.empty()) return -1;
    std::vector<std::string> args = argv, envStrings = ChildEnvironment(env);
    std::vector<char *> cargs = CArray(args), cenv = CArray(envStrings);
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    pid_t pid = -1;
    if (pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0) pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(error ? err[1] : out[1], 2);
        execvpe(cargs[0], cargs.data(), cenv.data());
        _exit(127);
    }
    for (int fd : {in[0], out[1], err[1]})
        if (fd >= 0) ::close(fd);
    if (pid < 0 || input.empty()) {
        ::close(in[1]);
        in[1] = -1;
    }
    if (pid < 0) {
        for (int fd : {out[0], err[0]})
            if (fd >= 0) ::close(fd);
        return -1;
    }
    if (in[1] >= 0) fcntl(in[1], F_SETFL, O_NONBLOCK);

    // fds: the child's stdin (written), stdout and stderr (read).
    int fds[3] = {in[1], out[0], err[0]};
    std::string text[3];
    size_t written = 0;
    auto deadline = Clock::now() + std::chrono::seconds(timeoutSec);
    bool killed = false;
    while (fds[1] >= 0 || fds[2] >= 0) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd p[3] = {{fds[0], POLLOUT, 0}, {fds[1], POLLIN, 0}, {fds[2], POLLIN, 0}};
        if (poll(p, 3, left) < 0 && errno != EINTR) break;
        if (p[0].revents) {
            ssize_t w = ::write(fds[0], input.data() + written, input.size() - written);
            written = w > 0 ? written + size_t(w) : w < 0 && errno != EAGAIN ? input.size() : written;
            if (written >= input.size()) {
                ::close(fds[0]);
                fds[0] = -1;
            }
        }
        for (int i : {1, 2}) {
            if (!p[i].revents) continue;
            char buf[65536];
            ssize_t r = ::read(fds[i], buf, sizeof buf);
            if (r > 0) {
                text[i].append(buf, size_t(r));
            } else if (r == 0 || errno != EINTR) {
                ::close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    for (int fd : fds)
        if (fd >= 0) ::close(fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output) *output = text[1];
    if (error) *error = text[2];
    return killed || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

std::string PythonProgram() {
    // The system's interpreter (the one the setup script installs) unless
    // TW_PYTHON names another: version-manager shims add a tenth of a second
    // to every start.
    const char *chosen = getenv("TW_PYTHON");
    if (chosen && *chosen) return chosen;
    if (access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
    return "python3";
}

int RunPython(const std::string &script, const std::vector<std::string> &args, std::string *output,
              std::string *error, const std::vector<std::string> &env) {
    std::vector<std::string> argv{PythonProgram(), "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, output, error, env);
}

int RunShell(const std::string &command, int timeoutSec) {
    std::string ignored;
    return RunProgram({"/bin/sh", "-c", command}, &ignored, nullptr, {}, "", timeoutSec);
}

pid_t StartPeerProcess(const std::vector<std::string> &argv, const std::string &prefix, int &port, int timeoutMs) {
    if (argv.empty()) throw std::runtime_error("no peer program");
    std::vector<std::string> args = argv;
    std::vector<char *> cargs = CArray(args);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a crashed test leaves no peer behind
        dup2(out[1], 1);
        execvp(cargs[0], cargs.data());
        _exit(127);
    }
    ::close(out[1]);
    std::string line;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (line.find('\n') == std::string::npos) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        pollfd p{out[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) break;
        char buf[64];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, size_t(n));
    }
    ::close(out[0]);
    port = 0;
    if (line.compare(0, prefix.size(), prefix) == 0) port = atoi(line.c_str() + prefix.size());
    if (port <= 0) {
        StopPeerProcess(pid);
        throw std::runtime_error(argv.back() + ": the peer did not start: " + line);
    }
    return pid;
}

void StopPeerProcess(pid_t pid, int signal) {
    if (pid <= 0) return;
    kill(pid, signal ? signal : SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}
