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
    std::vector<std::string> args = argv;
    std::vector<std::string> envStrings = ChildEnvironment(env);
    std::vector<char *> cargs = CArray(args), cenv = CArray(envStrings);

    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    auto closeAll = [&] {
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            if (fd >= 0) ::close(fd);
    };
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        closeAll();
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        closeAll();
        return -1;
    }
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(error ? errPipe[1] : outPipe[1], 2);
        execvpe(cargs[0], cargs.data(), cenv.data());
        _exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    std::string out, err;
    size_t written = 0;
    int inFd = inPipe[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    int outFd = outPipe[0], errFd = errPipe[0];
    auto deadline = Clock::now() + std::chrono::seconds(timeoutSec);
    bool killed = false;
    while (outFd >= 0 || errFd >= 0) {
        pollfd p[3];
        int n = 0;
        if (outFd >= 0) p[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) p[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0) p[n++] = {inFd, POLLOUT, 0};
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(p, nfds_t(n), left) < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i) {
            if (!p[i].revents) continue;
            if (p[i].fd == inFd) {
                ssize_t w = ::write(inFd, input.data() + written, input.size() - written);
                if (w > 0) written += size_t(w);
                if (w < 0 && errno != EAGAIN) written = input.size();
                if (written >= input.size()) {
                    ::close(inFd);
                    inFd = -1;
                }
                continue;
            }
            char buf[65536];
            ssize_t r = ::read(p[i].fd, buf, sizeof buf);
            if (r > 0) {
                (p[i].fd == outFd ? out : err).append(buf, size_t(r));
            } else if (r == 0 || errno != EINTR) {
                ::close(p[i].fd);
                (p[i].fd == outFd ? outFd : errFd) = -1;
            }
        }
    }
    if (inFd >= 0) ::close(inFd);
    if (outFd >= 0) ::close(outFd);
    if (errFd >= 0) ::close(errFd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output) *output = out;
    if (error) *error = err;
    if (killed || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
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
