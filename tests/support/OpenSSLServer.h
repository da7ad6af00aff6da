// TLS peers for the tests: a private certificate authority made with the
// openssl command, "openssl s_server" processes on loopback, and a bare TCP
// peer that misbehaves during a handshake.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// A certificate authority and the certificates signed by it, made once per
// test program under the build tree. Every certificate shares one key.
struct TestPKI {
    std::string Folder;
    std::string CAFile;         // the authority's certificate (PEM)
    std::string Key;            // the servers' private key (PEM, unencrypted)
    std::string ServerCert;     // localhost, 127.0.0.1 and ::1; valid now
    std::string WrongHostCert;  // only "wrong.example"; valid now
    std::string ExpiredCert;    // localhost and 127.0.0.1; expired in 2020
    std::string SelfSignedCert; // localhost, signed by itself (its own key)
    std::string SelfSignedKey;

    // Made on first call; throws when the openssl command fails.
    static const TestPKI &Get();
    // Points OpenSSL's default trust store of this process at the test
    // authority (SSL_CERT_FILE), so the system store is not consulted.
    static void TrustTestCA();
};

// One "openssl s_server" on 127.0.0.1 with the given certificate; extra
// arguments go on its command line. Whatever is written with Send() reaches
// the connected client as the server's data. Stopped in the destructor.
class OpenSSLServer {
public:
    OpenSSLServer(const std::string &cert, const std::string &key,
                  const std::vector<std::string> &extraArgs = {});
    ~OpenSSLServer();
    OpenSSLServer(const OpenSSLServer &) = delete;
    OpenSSLServer &operator=(const OpenSSLServer &) = delete;

    int Port() const { return FPort; }
    void Send(const std::string &text);
    // Everything the server printed so far (its log and the client's data).
    std::string Output() const;

private:
    int FPort = 0;
    int FPid = -1;
    int FStdin = -1;
    std::string FOutFile;
};

// A POP3-style server (tests/support/starttls_server.py, Python's ssl
// module) that greets in plain text and can start TLS on "STLS", or speaks
// TLS from the start. Commands: CAPA (STLS before TLS, "X-OVER-TLS" after
// it), STLS, NOOP ("+OK tls"/"+OK plain"), USER, PASS, STAT ("+OK 0 0"),
// BIG <bytes> (numbered lines ended by "."), STALL (stops reading), DROP
// (closes without close_notify), QUIT. InjectAfterSTLS sends, right behind
// its STLS answer, a plain-text fake CAPA answer holding "INJECTED", as a man
// in the middle would.
class StartTLSServer {
public:
    enum TMode { Explicit, Implicit, NoSTLS, RefuseSTLS, InjectAfterSTLS };
    StartTLSServer(TMode mode, const std::string &cert, const std::string &key);
    ~StartTLSServer();
    StartTLSServer(const StartTLSServer &) = delete;
    StartTLSServer &operator=(const StartTLSServer &) = delete;
    int Port() const { return FPort; }

private:
    int FPort = 0;
    int FPid = -1;
};

// One "openssl s_client" connected to 127.0.0.1:port, for server-side
// tests. Send() is what the client sends; Output() what it printed (the
// server's data and its verification result). Stopped in the destructor.
class OpenSSLClient {
public:
    OpenSSLClient(int port, const std::vector<std::string> &extraArgs = {});
    ~OpenSSLClient();
    OpenSSLClient(const OpenSSLClient &) = delete;
    OpenSSLClient &operator=(const OpenSSLClient &) = delete;
    void Send(const std::string &text);
    std::string Output() const;
    // Waits up to timeoutMs for text to appear in the output.
    bool WaitForOutput(const std::string &text, int timeoutMs = 5000) const;

private:
    int FPid = -1;
    int FStdin = -1;
    std::string FOutFile;
};

// A plain TCP listener on 127.0.0.1 for handshakes that go wrong: after
// accepting it reads up to ReadBytes bytes (the client's first flight) and
// then either closes the connection or, with Stall, keeps it open and says
// nothing until the object goes.
class BrokenTLSPeer {
public:
    enum TMode { DropAfterHello, Stall, SendGarbage };
    explicit BrokenTLSPeer(TMode mode);
    ~BrokenTLSPeer();
    BrokenTLSPeer(const BrokenTLSPeer &) = delete;
    BrokenTLSPeer &operator=(const BrokenTLSPeer &) = delete;
    int Port() const { return FPort; }
    int Accepted() const { return FAccepted.load(); }

private:
    void Run();
    TMode FMode;
    int FListen = -1;
    int FPort = 0;
    int FWake[2] = {-1, -1};
    std::atomic<int> FAccepted{0};
    std::thread FThread;
};
