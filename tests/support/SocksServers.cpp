#include "SocksServers.h"

#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
bool Executable(const char *path) { return access(path, X_OK) == 0; }

// True when process pid has a listening TCP socket on port: a port that
// accepts could also belong to another test program's server.
bool ListensOn(pid_t pid, int port) {
    std::vector<std::string> inodes;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code ec2;
        std::string target = fs::read_symlink(e.path(), ec2).string();
        if (!ec2 && target.rfind("socket:[", 0) == 0) inodes.push_back(target.substr(8, target.size() - 9));
    }
    char portHex[8];
    snprintf(portHex, sizeof portHex, ":%04X", port);
    std::istringstream lines(ReadTestFile("/proc/net/tcp"));
    std::string line;
    std::getline(lines, line);  // column titles
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string slot, local, remote, state, queues, timer, retr, uid, timeout, inode;
        f >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
        if (state != "0A" || local.size() < 5 || local.compare(local.size() - 5, 5, portHex) != 0) continue;
        for (const auto &i : inodes)
            if (i == inode) return true;
    }
    return false;
}

int RandomPort() {
    // Below the ephemeral range, so that no outgoing connection holds it.
    static unsigned seed = unsigned(getpid()) ^ unsigned(Clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        int port = 20000 + int(rand_r(&seed) % 12000);
        int fd = ConnectLoopback("127.0.0.1", port);
        if (fd < 0) return port;
        ::close(fd);
    }
    return FreeLoopbackPort();
}
}  // namespace

SocksServer::~SocksServer() { Stop(); }

std::string SocksServer::LogText() const { return ReadTestFile(LogFile()); }

void SocksServer::Start(const std::function<std::vector<std::string>(int)> &argvFor) {
    std::string why;
    for (int attempt = 0; attempt < 5; ++attempt) {
        int port = RandomPort();
        if (StartOnce(argvFor(port), port, why)) return;
    }
    throw std::runtime_error("the SOCKS server did not start: " + why);
}

bool SocksServer::StartOnce(const std::vector<std::string> &argv, int port, std::string &why) {
    std::vector<std::string> args = argv;
    std::vector<char *> cargs;
    for (auto &a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    const std::string log = LogFile();
    pid_t pid = fork();
    if (pid < 0) {
        why = "fork failed";
        return false;
    }
    if (pid == 0) {
        // Its own process group, so that stopping it reaches every process
        // it started; gone with the test program should that die first.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        int nul = ::open("/dev/null", O_RDONLY);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        if (nul >= 0) dup2(nul, 0);
        execvp(cargs[0], cargs.data());
        _exit(127);
    }
    setpgid(pid, pid);
    FPid = pid;
    FPort = port;
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            FPid = -1;
            why = LogText();
            return false;
        }
        if (ListensOn(pid, port)) {
            int fd = ConnectLoopback("127.0.0.1", port);
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    why = "no listener after 20 seconds: " + LogText();
    Stop();
    return false;
}

void SocksServer::Stop() {
    if (FPid <= 0) return;
    kill(-FPid, SIGKILL);
    while (waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
}

// ---------------------------------------------------------------------------
std::string DanteServer::Unavailable(bool userPassword) {
    if (!Executable("/usr/sbin/danted")) return "danted is not installed (scripts/setup.sh)";
    if (userPassword) {
        if (geteuid() != 0) return "dante's user name method needs root for its private password files";
        if (!Executable("/usr/bin/unshare")) return "unshare is not installed";
        if (RunShell("unshare -m true", 20) != 0) return "no mount namespaces here (unshare -m fails)";
    }
    return "";
}

DanteServer::DanteServer(const Options &options) : FOptions(options) {
    std::string why = Unavailable(options.UserPassword);
    if (!why.empty()) throw std::runtime_error(why);
    const std::string dir = Folder();
    if (options.UserPassword) {
        // The machine's accounts (dante drops to "nobody") plus the test user.
        std::string hash;
        if (RunProgram({"openssl", "passwd", "-6", Password()}, &hash) != 0)
            throw std::runtime_error("openssl passwd failed");
        while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
        WriteTestFile(dir + "passwd",
                      ReadTestFile("/etc/passwd") + UserName() + ":x:54321:54321::/nonexistent:/usr/sbin/nologin\n");
        WriteTestFile(dir + "shadow", ReadTestFile("/etc/shadow") + UserName() + ":" + hash + ":19000:0:99999:7:::\n");
        chmod((dir + "shadow").c_str(), 0600);
    }
    Start([&](int port) {
        std::string conf = "logoutput: " + LogFile() + "\n"
                           "internal: 127.0.0.1 port = " + std::to_string(port) + "\n"
                           "external: 127.0.0.1\n"
                           "clientmethod: none\n"
                           "socksmethod: " + std::string(FOptions.UserPassword ? "username" : "none") + "\n";
        if (geteuid() == 0) conf += "user.privileged: root\nuser.unprivileged: nobody\n";
        conf += "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n"
                "  command: connect bind udpassociate bindreply udpreply\n  log: error connect\n}\n";
        WriteTestFile(dir + "danted.conf", conf);
        std::string run = "exec /usr/sbin/danted -f " + dir + "danted.conf -p " + dir + "danted.pid -N 1";
        if (!FOptions.UserPassword) return std::vector<std::string>{"/bin/sh", "-c", run};
        return std::vector<std::string>{"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                                        "mount --bind " + dir + "passwd /etc/passwd && mount --bind " + dir +
                                            "shadow /etc/shadow && " + run};
    });
}

// ---------------------------------------------------------------------------
std::string MicrosocksServer::Unavailable() {
    if (!Executable("/usr/bin/microsocks")) return "microsocks is not installed (scripts/setup.sh)";
    return "";
}

MicrosocksServer::MicrosocksServer(const std::string &user, const std::string &password) {
    std::string why = Unavailable();
    if (!why.empty()) throw std::runtime_error(why);
    Start([&](int port) {
        std::vector<std::string> argv{"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)};
        if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
        return argv;
    });
}
