// Real SOCKS servers for the tests: Debian's dante-server (SOCKS 4 and 5,
// connect, bind and UDP) and microsocks (SOCKS 5 connect).
//
// Each object writes its configuration into a fresh temporary folder,
// starts the server on a loopback port that was free a moment ago (trying
// another port when the server cannot have it), waits until it accepts, and
// stops the server with every process it started when destroyed.
//
//     if (auto why = DanteServer::Unavailable(); !why.empty()) GTEST_SKIP() << why;
//     DanteServer dante;                         // no authentication
//     proxy->Host = dante.Host(); proxy->Port = dante.Port();
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "TestSupport.h"

class SocksServer {
public:
    virtual ~SocksServer();
    SocksServer(const SocksServer &) = delete;
    SocksServer &operator=(const SocksServer &) = delete;

    std::string Host() const { return "127.0.0.1"; }
    int Port() const { return FPort; }
    // What the server wrote to its log and its output so far.
    std::string LogText() const;
    const std::string &Folder() const { return FDir.Path(); }
    void Stop();

protected:
    SocksServer() = default;
    // Starts argvFor(port) in a process group of its own, with stdout and
    // stderr going to the log, until one listens; throws std::runtime_error
    // with the log when none does.
    void Start(const std::function<std::vector<std::string>(int port)> &argvFor);
    std::string LogFile() const { return FDir.File("server.log"); }

private:
    bool StartOnce(const std::vector<std::string> &argv, int port, std::string &why);

    TempDir FDir;
    pid_t FPid = -1;
    int FPort = 0;
};

class DanteServer : public SocksServer {
public:
    struct Options {
        // RFC 1929 user name and password instead of no authentication:
        // the user of the server's own "username" method, which checks the
        // system's password files. The server runs in a mount namespace of
        // its own where they hold a test user, so the machine's are never
        // touched.
        bool UserPassword = false;
    };
    // Empty when the server can be started here (with the user name
    // method: userPassword), else why not.
    static std::string Unavailable(bool userPassword = false);
    static std::string UserName() { return "twsocks"; }
    static std::string Password() { return "s3cret pw"; }

    DanteServer() : DanteServer(Options{}) {}
    explicit DanteServer(const Options &options);

private:
    Options FOptions;
};

class MicrosocksServer : public SocksServer {
public:
    static std::string Unavailable();
    // With a user name, only that user and password are let through.
    explicit MicrosocksServer(const std::string &user = std::string(), const std::string &password = std::string());
};
