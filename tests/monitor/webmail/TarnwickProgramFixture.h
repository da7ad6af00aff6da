// The real Tarnwick of the build in a program folder of its own, laid out
// as a delivered one: the executable, the web-mail module beside it (or
// not, a damaged one, or one of another build), the English language file,
// the host data and the settings the caller writes. It runs as a child
// process on the platform of QT_QPA_PLATFORM (offscreen unless set), with a
// home folder in the program folder; its first check comes a second after
// start. What it holds is read from /proc.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mainwindow/MainWindowFixture.h"
#include "TestSupport.h"
#include "webmail/WebMailModule.h"

class TarnwickProgram {
public:
    // mdOtherBuild: the build's module with another build's token, as a
    // module of another commit would carry (and otherwise sound).
    enum TModule { mdInstalled, mdMissing, mdDamaged, mdOtherBuild };

    explicit TarnwickProgram(TModule module = mdInstalled) {
        const std::string build = std::string(TW_BINARY_DIR) + "/monitor/";
        Place(build + "tarnwick", Dir.File("tarnwick"));
        if (module == mdInstalled) Place(build + WebMailModuleFileName, Dir.File(WebMailModuleFileName));
        if (module == mdDamaged) WriteTestFile(Dir.File(WebMailModuleFileName), "not a shared library\n");
        if (module == mdOtherBuild)
            WriteTestFile(Dir.File(WebMailModuleFileName), OtherBuild(ReadTestFile(build + WebMailModuleFileName)));
        WriteTestFile(Dir.File("Lang/english.lng"), ReadTestFile(std::string(TW_SOURCE_DIR) + "/Lang/english.lng"));
        WriteTestFile(Dir.File("home/.keep"), "");
    }
    ~TarnwickProgram() { Stop(); }
    TarnwickProgram(const TarnwickProgram &) = delete;
    TarnwickProgram &operator=(const TarnwickProgram &) = delete;

    // The check starts a second after the program; at its end the list of
    // new mail for an external skin (temp/mails.dat) is written.
    static std::vector<std::string> QuickCheck() {
        return {"CheckOnStart=True", "DelayTime=1",    "CheckTime=1000",  "LogValue=1000",
                "ShowBallTip=False", "PlaySound=False", "UseExeSkins=True", "UsedSkin=external"};
    }
    void WriteSettings(const std::vector<TTestAccount> &accounts, const std::vector<std::string> &options) {
        WriteTestFile(Dir.File("Tarnwick.ini"), TestSettingsText(accounts, options));
    }
    void WriteHostData(const std::string &text) { WriteTestFile(Dir.File("host_data.dat"), text); }
    // A variable of the program's environment, beside the test's own.
    void SetEnvironment(const std::string &name, const std::string &value) { Environment.emplace_back(name, value); }

    // The same bytes with the build's token changed (its first digit).
    static std::string OtherBuild(std::string module) {
        const size_t at = module.find("TW-BUILD:");
        if (at == std::string::npos || at + 9 >= module.size())
            throw std::runtime_error("the module carries no build marker");
        char &digit = module[at + 9];
        digit = digit == '0' ? '1' : '0';
        return module;
    }

    void Start() {
        const std::string exe = Dir.File("tarnwick"), home = Dir.File("home");
        Started = std::chrono::steady_clock::now();
        // What the caller printed goes out once, not again from the child.
        std::fflush(nullptr);
        FPid = fork();
        if (FPid < 0) throw std::runtime_error("fork failed");
        if (FPid == 0) {
            setenv("HOME", home.c_str(), 1);
            setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
            if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
            // The engine will not start its sandbox for root.
            if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
            for (const auto &[name, value] : Environment) setenv(name.c_str(), value.c_str(), 1);
            const std::string log = Dir.File("stderr.txt");
            freopen(log.c_str(), "w", stderr);
            freopen("/dev/null", "w", stdout);
            execl(exe.c_str(), exe.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    // Waits until the first check is done (its list of new mail is
    // written), or the next one after ForgetCheck; false after timeoutMs
    // or when the program ended.
    bool WaitFirstCheck(int timeoutMs = 60000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (!Running()) return false;
            if (FileExists(Dir.File("temp/mails.dat"))) {
                CheckDone = std::chrono::steady_clock::now();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void ForgetCheck() { ::unlink(Dir.File("temp/mails.dat").c_str()); }
    pid_t Pid() const { return FPid; }
    double SecondsToFirstCheck() const { return std::chrono::duration<double>(CheckDone - Started).count(); }
    bool Running() {
        if (FPid <= 0) return false;
        int status;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return false;
        }
        return true;
    }
    void Stop() {
        if (!Running()) return;
        kill(FPid, SIGTERM);
        for (int i = 0; i < 500 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (Running()) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        FPid = -1;
    }

    // The log as the program saves it when it ends.
    std::string Log() const { return ReadTestFile(Dir.File("log.rtf")); }
    std::string Stderr() const { return ReadTestFile(Dir.File("stderr.txt")); }
    // A value of /proc/<pid>/status in its first number ("VmRSS" in kB).
    long Status(const std::string &key) const {
        std::istringstream in(ReadTestFile(Proc("status")));
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
        return -1;
    }
    // Threads whose name begins with prefix ("llvmpipe").
    int ThreadsNamed(const std::string &prefix) const {
        int n = 0;
        if (DIR *d = opendir(Proc("task").c_str())) {
            while (dirent *e = readdir(d)) {
                if (e->d_name[0] == '.') continue;
                if (ReadTestFile(Proc("task/") + e->d_name + "/comm").rfind(prefix, 0) == 0) ++n;
            }
            closedir(d);
        }
        return n;
    }
    // Whether a file whose name holds part is mapped ("libQt6WebEngineCore").
    bool Maps(const std::string &part) const { return Contains(ReadTestFile(Proc("maps")), part); }

    TempDir Dir;
    std::chrono::steady_clock::time_point Started, CheckDone;

private:
    std::string Proc(const std::string &what) const { return "/proc/" + std::to_string(FPid) + "/" + what; }
    // A hard link where the file system allows one: the executable is large.
    static void Place(const std::string &from, const std::string &to) {
        if (link(from.c_str(), to.c_str()) == 0) return;
        WriteTestFile(to, ReadTestFile(from));
        chmod(to.c_str(), 0755);
    }
    std::vector<std::pair<std::string, std::string>> Environment;
    pid_t FPid = -1;
};
