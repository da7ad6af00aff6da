#include "OpenSSLServer.h"

#include "ChildProcess.h"
#include "SysUtils.h"
#include "TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs the openssl command in the folder (its configuration names files
// relative to it); throws with its output when it fails.
void MustRun(const std::string &folder, const std::vector<std::string> &args)
{
    std::vector<std::string> argv{"/bin/sh", "-c", "cd \"$0\" && exec openssl \"$@\"", folder};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (RunProgram(argv, &out) != 0)
        throw std::runtime_error("test PKI: openssl " + args[0] + " failed in " + folder + ": " + out);
}

// Signs a request for "name" with the test authority, valid between the
// two dates (YYYYMMDDHHMMSSZ), with the given subjectAltName.
void IssueCert(const std::string &dir, const std::string &name, const std::string &cn,
               const std::string &san, const std::string &start, const std::string &end)
{
    WriteTestFile(dir + name + ".ext", "[ext]\nsubjectAltName = " + san +
                                           "\nbasicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n");
    MustRun(dir, {"req", "-new", "-key", "server.key", "-out", name + ".csr", "-subj", "/CN=" + cn});
    MustRun(dir, {"ca", "-batch", "-config", "ca.cnf", "-in", name + ".csr", "-out", name + ".pem",
                  "-startdate", start, "-enddate", end, "-extfile", name + ".ext", "-extensions",
                  "ext", "-notext"});
}

std::unique_ptr<TempDir> gPKIFolder;

// Starts the openssl command with the arguments beside the test: its stdin
// a pipe whose writing end goes to stdinFd, its stdout and stderr the file
// outFile. It dies with the test process, so a crashed test leaves none
// behind.
pid_t StartOpenSSL(std::vector<std::string> args, const std::string &outFile, int &stdinFd)
{
    int in[2];
    if (pipe(in) != 0)
        throw std::runtime_error("pipe failed");
    args.insert(args.begin(), "openssl");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in[0], 0);
        dup2(out, 1);
        dup2(out, 2);
        close(in[1]);
        execvp("openssl", argv.data());
        _exit(127);
    }
    close(in[0]);
    if (pid < 0) {
        close(in[1]);
        throw std::runtime_error("fork failed");
    }
    stdinFd = in[1];
    return pid;
}

void StopOpenSSL(int stdinFd, pid_t pid)
{
    if (stdinFd >= 0)
        close(stdinFd);
    StopPeerProcess(pid);
}

// A fresh output file of the process's own: a log left by an earlier server
// on the same port already says "ACCEPT".
std::string OutputFile(const char *kind)
{
    static int serial = 0;
    std::string path = TestPKI::Get().Folder + kind + "." + std::to_string(getpid()) + "." +
                       std::to_string(++serial) + ".out";
    WriteTestFile(path, "");
    return path;
}

}  // namespace

const TestPKI &TestPKI::Get()
{
    static TestPKI pki = [] {
        gPKIFolder = std::make_unique<TempDir>();
        TestPKI p;
        p.Folder = gPKIFolder->Path();
        const std::string &d = p.Folder;
        WriteTestFile(d + "index.txt", "");
        WriteTestFile(d + "serial", "1000\n");
        WriteTestFile(d + "ca.cnf",
                      "[ca]\ndefault_ca = testca\n"
                      "[testca]\ndatabase = index.txt\nnew_certs_dir = .\n"
                      "certificate = ca.pem\nprivate_key = ca.key\nserial = serial\n"
                      "default_md = sha256\npolicy = anything\nunique_subject = no\n"
                      "[anything]\ncommonName = supplied\n");
        // EC keys: an RSA key would take most of a second to make.
        MustRun(d, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "30", "-subj",
                    "/CN=Tarnwick Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
        MustRun(d, {"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-out", "server.key"});
        // Dates around now, computed here so the certificates are valid
        // whenever the tests run.
        auto stamp = [](std::time_t t) {
            char buf[32];
            std::tm tm{};
            gmtime_r(&t, &tm);
            std::strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", &tm);
            return std::string(buf);
        };
        std::time_t now = std::time(nullptr);
        std::string from = stamp(now - 86400), to = stamp(now + 30 * 86400);
        IssueCert(d, "server", "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1", from, to);
        IssueCert(d, "wronghost", "wrong.example", "DNS:wrong.example", from, to);
        IssueCert(d, "expired", "localhost", "DNS:localhost,IP:127.0.0.1", "20200101000000Z",
                  "20200201000000Z");
        MustRun(d, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", "selfsigned.key", "-out", "selfsigned.pem", "-days", "30",
                    "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=DNS:localhost,IP:127.0.0.1"});
        p.CAFile = d + "ca.pem";
        p.Key = d + "server.key";
        p.ServerCert = d + "server.pem";
        p.WrongHostCert = d + "wronghost.pem";
        p.ExpiredCert = d + "expired.pem";
        p.SelfSignedCert = d + "selfsigned.pem";
        p.SelfSignedKey = d + "selfsigned.key";
        return p;
    }();
    return pki;
}

void TestPKI::TrustTestCA()
{
    setenv("SSL_CERT_FILE", Get().CAFile.c_str(), 1);
    // An empty folder keeps the system's hashed certificate folder out.
    setenv("SSL_CERT_DIR", (Get().Folder + "nocerts").c_str(), 1);
}

OpenSSLServer::OpenSSLServer(const std::string &cert, const std::string &key,
                             const std::vector<std::string> &extraArgs)
{
    // A port can be taken between probing and binding; try a few.
    for (int attempt = 0; attempt < 5 && FPid < 0; ++attempt) {
        int port = FreeLoopbackPort();
        FOutFile = OutputFile("s_server");
        std::vector<std::string> args = {"s_server", "-accept", "127.0.0.1:" + std::to_string(port),
                                         "-cert", cert, "-key", key, "-ign_eof"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        int in = -1;
        pid_t pid = StartOpenSSL(args, FOutFile, in);
        // Listening once it says "ACCEPT"; given up when it dies first.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool up = false, dead = false;
        while (!up && !dead && std::chrono::steady_clock::now() < deadline) {
            usleep(20000);
            up = Contains(Output(), "ACCEPT");
            dead = waitpid(pid, nullptr, WNOHANG) == pid;
        }
        if (up && !dead) {
            FPid = pid;
            FPort = port;
            FStdin = in;
        } else {
            StopOpenSSL(in, dead ? -1 : pid);
        }
    }
    if (FPid < 0)
        throw std::runtime_error("openssl s_server did not start: " + Output());
}

OpenSSLServer::~OpenSSLServer() { StopOpenSSL(FStdin, FPid); }

void OpenSSLServer::Send(const std::string &text)
{
    for (size_t off = 0; off < text.size();) {
        ssize_t n = write(FStdin, text.data() + off, text.size() - off);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("s_server stdin closed");
        off += n > 0 ? size_t(n) : 0;
    }
}

std::string OpenSSLServer::Output() const { return ReadTestFile(FOutFile); }

OpenSSLClient::OpenSSLClient(int port, const std::vector<std::string> &extraArgs)
{
    FOutFile = OutputFile("s_client");
    std::vector<std::string> args = {"s_client", "-connect", "127.0.0.1:" + std::to_string(port),
                                     "-CAfile", TestPKI::Get().CAFile, "-verify_return_error", "-brief", "-ign_eof"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    FPid = StartOpenSSL(args, FOutFile, FStdin);
}

OpenSSLClient::~OpenSSLClient() { StopOpenSSL(FStdin, FPid); }

void OpenSSLClient::Send(const std::string &text)
{
    if (write(FStdin, text.data(), text.size()) != ssize_t(text.size()))
        throw std::runtime_error("s_client stdin closed");
}

std::string OpenSSLClient::Output() const { return ReadTestFile(FOutFile); }

bool OpenSSLClient::WaitForOutput(const std::string &text, int timeoutMs) const
{
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        if (Contains(Output(), text))
            return true;
        usleep(20000);
    }
    return false;
}

StartTLSServer::StartTLSServer(TMode mode, const std::string &cert, const std::string &key)
{
    std::vector<std::string> args = {PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/starttls_server.py",
                                     "--cert", cert, "--key", key};
    const char *flag[] = {nullptr, "--implicit", "--no-stls", "--refuse-stls", "--inject"};
    if (flag[mode])
        args.push_back(flag[mode]);
    FPid = StartPeerProcess(args, "PORT ", FPort);
}

StartTLSServer::~StartTLSServer() { StopPeerProcess(FPid); }

BrokenTLSPeer::BrokenTLSPeer(TMode mode) : FMode(mode)
{
    FListen = ListenLoopback(FPort);
    if (pipe(FWake) != 0)
        throw std::runtime_error("pipe failed");
    FThread = std::thread([this] { Run(); });
}

BrokenTLSPeer::~BrokenTLSPeer()
{
    char c = 'x';
    (void)!write(FWake[1], &c, 1);
    FThread.join();
    close(FListen);
    close(FWake[0]);
    close(FWake[1]);
}

void BrokenTLSPeer::Run()
{
    std::vector<int> held;
    for (;;) {
        pollfd p[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if ((poll(p, 2, -1) < 0 && errno != EINTR) || p[1].revents)
            break;
        int c = (p[0].revents & POLLIN) ? accept(FListen, nullptr, nullptr) : -1;
        if (c < 0)
            continue;
        ++FAccepted;
        if (FMode == Stall) {
            held.push_back(c);  // never answers; closed when the peer goes
            continue;
        }
        // Take the client's first flight, so the drop comes mid-handshake.
        pollfd r = {c, POLLIN, 0};
        char buf[4096];
        if (poll(&r, 1, 2000) > 0)
            (void)!read(c, buf, sizeof buf);
        if (FMode == SendGarbage) {
            const char junk[] = "+OK this is not a TLS server\r\n";
            (void)!write(c, junk, sizeof junk - 1);
            usleep(100000);
        }
        close(c);
    }
    for (int c : held)
        close(c);
}
