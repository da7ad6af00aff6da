#include "DovecotServer.h"

#include "OpenSSLServer.h"
#include "PythonPeer.h"
#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <grp.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void ReplaceAll(std::string &s, const std::string &from, const std::string &to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

bool CanConnect(const std::string &host, int port) {
    int fd = ConnectLoopback(host, port);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// True when process `pid` (a child of ours) has a listening TCP socket on
// `port`: a port that accepts could also belong to another test program's
// server that bound it first.
bool ProcessListensOn(pid_t pid, int port) {
    std::vector<std::string> inodes;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code ec2;
        std::string target = fs::read_symlink(e.path(), ec2).string();
        if (!ec2 && target.rfind("socket:[", 0) == 0)
            inodes.push_back(target.substr(8, target.size() - 9));
    }
    char portHex[8];
    snprintf(portHex, sizeof portHex, "%04X", port);
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(ReadTestFile(table));
        std::string line;
        std::getline(lines, line);  // column titles
        while (std::getline(lines, line)) {
            std::istringstream f(line);
            std::string sl, local, remote, state, queues, timer, retr, uid, timeout, inode;
            f >> sl >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
            if (state != "0A") continue;  // LISTEN
            if (local.substr(local.find(':') + 1) != portHex) continue;
            for (const auto &i : inodes)
                if (i == inode) return true;
        }
    }
    return false;
}

std::string ScriptDir() { return std::string(TW_SOURCE_DIR) + "/tests/support/"; }

}  // namespace

int LiveProcessesInGroup(pid_t pgid) {
    int n = 0;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/proc", ec)) {
        std::string name = e.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        // "pid (comm) state ppid pgrp ...": comm may hold blanks and parentheses.
        std::string stat = ReadTestFile(e.path().string() + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream f(stat.substr(close + 1));
        std::string state;
        long ppid = 0, pgrp = 0;
        f >> state >> ppid >> pgrp;
        if (pgrp == pgid && state != "Z" && state != "X") ++n;
    }
    return n;
}

std::string DovecotServer::Unavailable() {
    if (access("/usr/sbin/dovecot", X_OK) != 0) return "dovecot is not installed (scripts/setup.sh)";
    if (geteuid() == 0 && !getpwnam("dovecot")) return "no \"dovecot\" account";
    if (geteuid() == 0 && !getpwnam("dovenull")) return "no \"dovenull\" account";
    return "";
}

DovecotServer::DovecotServer() : DovecotServer(Options{}) {}

DovecotServer::DovecotServer(const Options &options) : FOptions(options) {
    std::string why = Unavailable();
    if (!why.empty()) throw std::runtime_error(why);
    FUsers = options.Users;
    if (FUsers.empty()) FUsers = {{"tester", "secret1"}, {"other", "secret2"}};
    for (const auto &u : FUsers)
        if (u.Name.find_first_of(":\r\n/ ") != std::string::npos ||
            u.Password.find_first_of(":\r\n") != std::string::npos || u.Name.empty())
            throw std::runtime_error("user names and passwords of the test server may hold no ':' or line breaks");

    if (geteuid() == 0) {
        const passwd *pw = getpwnam("dovecot");
        FMailUid = pw->pw_uid;
        FMailGid = pw->pw_gid;
    } else {
        FMailUid = geteuid();
        FMailGid = getegid();
    }

    // Under /tmp rather than the build tree: the mail user must be able to
    // walk down to its Maildir, and Dovecot's unix sockets need short paths.
    const char *tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp && strlen(tmp) < 40 ? tmp : "/tmp") + "/twdc.XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    FFolder = tmpl + "/";
    chmod(tmpl.c_str(), 0755);
    try {
        FBaseDir = FFolder + "run";
        fs::create_directories(FFolder + "state");
        FCaFile = FFolder + "ca.pem";
        MakeCertificates();

        std::string users;
        for (const auto &u : FUsers) {
            std::string home = UserHome(u.Name);
            fs::create_directories(home + "Maildir");
            Chown(home);
            Chown(home + "Maildir");
            users += u.Name + ":{PLAIN}" + u.Password + ":" + std::to_string(FMailUid) + ":" +
                     std::to_string(FMailGid) + "::" + home.substr(0, home.size() - 1) + "::\n";
        }
        fs::create_directories(FFolder + "home");
        WriteTestFile(FFolder + "users", users);
        chmod((FFolder + "users").c_str(), 0640);
        ::chown((FFolder + "users").c_str(), FMailUid, FMailGid);

        std::string why;
        bool started = false;
        for (int attempt = 0; attempt < 8 && !started; ++attempt) started = StartOnce(why);
        if (!started) throw std::runtime_error("Dovecot did not start: " + why);
    } catch (...) {
        Stop();
        std::error_code ec;
        fs::remove_all(FFolder, ec);
        throw;
    }
}

DovecotServer::~DovecotServer() {
    Stop();
    std::error_code ec;
    fs::remove_all(FFolder, ec);
}

void DovecotServer::MakeCertificates() {
    // The test authority's localhost certificate (127.0.0.1 and ::1 too),
    // copied so that everything the server reads lies in its own folder.
    const TestPKI &pki = TestPKI::Get();
    fs::copy_file(pki.CAFile, FCaFile);
    fs::copy_file(pki.ServerCert, FFolder + "server.pem");
    fs::copy_file(pki.Key, FFolder + "server.key");
}

std::string DovecotServer::UserHome(const std::string &user) const { return FFolder + "home/" + user + "/"; }

void DovecotServer::Chown(const std::string &path) const {
    if (geteuid() == 0) ::chown(path.c_str(), FMailUid, FMailGid);
}

void DovecotServer::WriteConfig() {
    std::string conf = ReadTestFile(ScriptDir() + "dovecot.conf.in");
    if (conf.empty()) throw std::runtime_error("missing tests/support/dovecot.conf.in");
    bool root = geteuid() == 0;
    std::string self = root ? "" : std::string(getpwuid(geteuid())->pw_name);
    ReplaceAll(conf, "@LISTEN@", FOptions.ListenIPv6 ? "127.0.0.1, ::1" : "127.0.0.1");
    ReplaceAll(conf, "@BASE_DIR@", FBaseDir);
    ReplaceAll(conf, "@STATE_DIR@", FFolder + "state");
    ReplaceAll(conf, "@INSTANCE@", "tw" + std::to_string(getpid()) + "_" + FFolder.substr(FFolder.size() - 7, 6));
    ReplaceAll(conf, "@FOLDER@", FFolder);
    ReplaceAll(conf, "@LOGIN_USER@", root ? "dovenull" : self);
    ReplaceAll(conf, "@INTERNAL_USER@", root ? "dovecot" : self);
    const group *gr = root ? nullptr : getgrgid(getegid());
    ReplaceAll(conf, "@INTERNAL_GROUP@", root ? "dovecot" : gr ? std::string(gr->gr_name) : std::to_string(getegid()));
    // Without root the login and anvil processes cannot be locked into a
    // chroot.
    ReplaceAll(conf, "@LOGIN_CHROOT@", root ? "" : "chroot =");
    ReplaceAll(conf, "@GREETING@", FOptions.Greeting);
    ReplaceAll(conf, "@POP3_PORT@", std::to_string(FPop3Port));
    ReplaceAll(conf, "@POP3S_PORT@", std::to_string(FPop3sPort));
    ReplaceAll(conf, "@IMAP_PORT@", std::to_string(FImapPort));
    ReplaceAll(conf, "@IMAPS_PORT@", std::to_string(FImapsPort));
    WriteTestFile(ConfigFile(), conf);
}

bool DovecotServer::StartOnce(std::string &why) {
    std::vector<int> ports;
    while (ports.size() < 4)
        if (int p = FreeLoopbackPort(); std::find(ports.begin(), ports.end(), p) == ports.end()) ports.push_back(p);
    FPop3Port = ports[0];
    FPop3sPort = ports[1];
    FImapPort = ports[2];
    FImapsPort = ports[3];
    WriteConfig();
    std::error_code ec;
    fs::remove(FFolder + "dovecot.log", ec);

    std::string conf = ConfigFile();
    char *cargs[] = {const_cast<char *>("/usr/sbin/dovecot"), const_cast<char *>("-F"), const_cast<char *>("-c"),
                     conf.data(), nullptr};
    std::string errPath = FFolder + "dovecot.stderr";
    pid_t pid = fork();
    if (pid < 0) {
        why = "fork failed";
        return false;
    }
    if (pid == 0) {
        // Its own process group, so that stopping it can reach every process
        // it started and nothing else; and gone with the test program should
        // that die first (its children follow their master on their own).
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int nul = ::open("/dev/null", O_RDONLY);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        if (nul >= 0) dup2(nul, 0);
        execv(cargs[0], cargs);
        _exit(127);
    }
    setpgid(pid, pid);
    FPid = pid;

    std::vector<std::string> hosts{"127.0.0.1"};
    if (FOptions.ListenIPv6) hosts.push_back("::1");
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            FPid = -1;
            why = ReadTestFile(errPath) + ReadTestFile(FFolder + "dovecot.log");
            return false;
        }
        bool ready = true;
        for (int port : ports) {
            ready = ready && ProcessListensOn(pid, port);
            for (const auto &h : hosts) ready = ready && CanConnect(h, port);
        }
        if (ready) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    why = "no listener after 20 seconds: " + ReadTestFile(errPath) + ReadTestFile(FFolder + "dovecot.log");
    Stop();
    return false;
}

void DovecotServer::Stop() {
    if (FPid <= 0) return;
    // Killed outright: a graceful stop costs Dovecot's master over a second,
    // and nothing in the private folder needs to outlive the test.
    kill(-FPid, SIGKILL);
    int status;
    while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    // Its children are orphans now, reaped by init whenever init gets to
    // it; wait only until none of them runs any more, so that no test sees
    // a stray process or a port still held.
    auto end = Clock::now() + std::chrono::seconds(5);
    while (LiveProcessesInGroup(FPid) > 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    FPid = -1;
}

std::string DovecotServer::LogText() const {
    return ReadTestFile(FFolder + "dovecot.stderr") + ReadTestFile(FFolder + "dovecot.log");
}

bool DovecotServer::WaitForLog(const std::string &text, int count, int timeoutMs) const {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string log = LogText();
        int found = 0;
        for (size_t at = log.find(text); at != std::string::npos && !text.empty(); at = log.find(text, at + 1))
            ++found;
        if (found >= count) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void DovecotServer::CreateMailbox(const std::string &user, const std::string &mailbox) {
    std::string out;
    int rc = RunProgram({"doveadm", "-c", ConfigFile(), "mailbox", "create", "-u", user, mailbox}, &out);
    if (rc != 0 && out.find("already exists") == std::string::npos)
        throw std::runtime_error("doveadm mailbox create failed: " + out);
}

std::string DovecotServer::MailboxPath(const std::string &user, const std::string &mailbox) {
    if (mailbox == "INBOX") return UserHome(user) + "Maildir/";
    std::string out, err;
    int rc = RunProgram({"doveadm", "-c", ConfigFile(), "mailbox", "path", "-u", user, mailbox}, &out, &err);
    if (rc != 0 || out.empty() || !fs::exists(out.substr(0, out.find('\n')))) {
        CreateMailbox(user, mailbox);
        rc = RunProgram({"doveadm", "-c", ConfigFile(), "mailbox", "path", "-u", user, mailbox}, &out, &err);
        if (rc != 0 || out.empty()) throw std::runtime_error("doveadm mailbox path failed: " + out + err);
    }
    std::string path = out.substr(0, out.find('\n'));
    fs::create_directories(path);
    Chown(path);
    return path + "/";
}

void DovecotServer::FillMailbox(const std::string &user, int count, const std::string &mailbox, int first,
                                bool seen, int bodyLines) {
    std::string dir = MailboxPath(user, mailbox);
    std::vector<std::string> argv{PythonProgram(), ScriptDir() + "make_messages.py", dir,
                                  "--count", std::to_string(count), "--first", std::to_string(first),
                                  "--body-lines", std::to_string(bodyLines)};
    if (seen) argv.push_back("--seen");
    if (geteuid() == 0) {
        argv.insert(argv.end(), {"--uid", std::to_string(FMailUid), "--gid", std::to_string(FMailGid)});
    }
    std::string out;
    if (RunProgram(argv, &out) != 0) throw std::runtime_error("make_messages.py failed: " + out);
}

void DovecotServer::AddMessage(const std::string &user, const std::string &bytes, const std::string &mailbox,
                               bool seen) {
    std::string dir = MailboxPath(user, mailbox);
    for (const char *sub : {"cur", "new", "tmp"}) {
        fs::create_directories(dir + sub);
        Chown(dir + sub);
    }
    // Sorts after every file make_messages.py writes, in the order added.
    char name[64];
    snprintf(name, sizeof name, "1800000000.M%07dP2.tarnwick", ++FMessageSerial);
    std::string tmp = dir + "tmp/" + name;
    WriteTestFile(tmp, bytes);
    Chown(tmp);
    fs::rename(tmp, dir + "cur/" + name + (seen ? ":2,S" : ":2,"));
}

void DovecotServer::DeliverMessage(const std::string &user, const std::string &bytes, const std::string &sender) {
    MailboxPath(user);  // the Maildir exists and belongs to the mail user
    std::string out, err;
    int rc = RunProgram({"/usr/lib/dovecot/dovecot-lda", "-c", ConfigFile(), "-d", user, "-f", sender}, &out, &err,
                        {}, bytes, 60);
    if (rc != 0) throw std::runtime_error("dovecot-lda failed (" + std::to_string(rc) + "): " + out + err);
}

std::string DovecotServer::InboxMessageIds(const std::string &user) const {
    auto u = std::find_if(FUsers.begin(), FUsers.end(), [&](const auto &x) { return x.Name == user; });
    if (u == FUsers.end()) throw std::runtime_error("no such user: " + user);
    std::string ids = PythonRun(R"PY(
import imaplib, sys, email
m = imaplib.IMAP4(sys.argv[1], int(sys.argv[2]), timeout=20)
m.login(sys.argv[3], sys.argv[4])
n = int(m.select("INBOX", readonly=True)[1][0])
ids = [email.message_from_bytes(m.fetch(str(k), "(BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])")[1][0][1])["Message-ID"]
       for k in range(1, n + 1)]
m.logout()
print(" ".join(ids))
)PY",
                                {Host(), std::to_string(ImapPort()), u->Name, u->Password});
    while (!ids.empty() && (ids.back() == '\n' || ids.back() == ' ')) ids.pop_back();
    return ids;
}

void DovecotServer::ExpungeInbox(const std::string &user) const {
    auto u = std::find_if(FUsers.begin(), FUsers.end(), [&](const auto &x) { return x.Name == user; });
    if (u == FUsers.end()) throw std::runtime_error("no such user: " + user);
    PythonRun(R"PY(
import imaplib, sys
m = imaplib.IMAP4(sys.argv[1], int(sys.argv[2]), timeout=20)
m.login(sys.argv[3], sys.argv[4])
m.select("INBOX")
m.expunge()
m.logout()
)PY",
              {Host(), std::to_string(ImapPort()), u->Name, u->Password});
}

int DovecotServer::StoredMessageCount(const std::string &user, const std::string &mailbox) {
    std::string dir = MailboxPath(user, mailbox);
    int n = 0;
    std::error_code ec;
    for (const char *sub : {"cur", "new"})
        for (const auto &e : fs::directory_iterator(dir + sub, ec))
            if (e.is_regular_file()) ++n;
    return n;
}
