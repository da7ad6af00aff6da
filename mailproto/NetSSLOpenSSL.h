// TLS over the OpenSSL libraries bound at run time: options, context,
// session, certificate and cipher wrappers, and the TLS IO handler.
//
// Every client session verifies the server: the chain against the system's
// trust store (SSL_CERT_FILE and SSL_CERT_DIR are honoured) and the
// certificate against the host name the client connected to. TLS 1.2 is the
// lowest version spoken. Sessions run on a non-blocking socket in waits over
// poll() that keep the anti-freeze pumping and end at the time-outs, so a
// stalled peer never freezes the window.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NetException.h"
#include "NetIOHandlerStack.h"
#include "NetServerIOHandler.h"
#include "NetSSLOpenSSLHeaders.h"

// --- exceptions ---

NET_EXCEPTION_CLASS(ENetOpenSSLError, ENetException);
NET_EXCEPTION_CLASS(ENetOpenSSLLoadError, ENetOpenSSLError);
NET_EXCEPTION_CLASS(ENetOSSLCouldNotLoadSSLLibrary, ENetOpenSSLLoadError);
NET_EXCEPTION_CLASS(ENetOSSLModeNotSet, ENetOpenSSLError);
NET_EXCEPTION_CLASS(ENetOSSLGetMethodError, ENetOpenSSLError);
NET_EXCEPTION_CLASS(ENetOSSLCreatingContextError, ENetOpenSSLError);
NET_EXCEPTION_CLASS(ENetOSSLLoadingRootCertError, ENetOpenSSLLoadError);
NET_EXCEPTION_CLASS(ENetOSSLLoadingCertError, ENetOpenSSLLoadError);
NET_EXCEPTION_CLASS(ENetOSSLLoadingKeyError, ENetOpenSSLLoadError);
NET_EXCEPTION_CLASS(ENetOSSLSettingCipherError, ENetOpenSSLError);
NET_EXCEPTION_CLASS(ENetOSSLDataBindingError, ENetOpenSSLError);
NET_EXCEPTION_CLASS(ENetOSSLAcceptError, ENetOpenSSLError);
NET_EXCEPTION_CLASS(ENetOSSLConnectError, ENetOpenSSLError);

extern const char *const RSOSSLCouldNotLoadSSLLibrary;  // "Could not load SSL library."
extern const char *const RSOSSLModeNotSet;
extern const char *const RSOSSLGetMethodError;
extern const char *const RSOSSLCreatingContextError;
extern const char *const RSOSSLLoadingRootCertError;
extern const char *const RSOSSLLoadingCertError;
extern const char *const RSOSSLLoadingKeyError;
extern const char *const RSOSSLSettingCipherError;
extern const char *const RSOSSLDataBindingError;
extern const char *const RSOSSLAcceptError;
extern const char *const RSOSSLConnectError;  // "Error connecting with SSL."
// Added after the connect error when the server's certificate is refused;
// OpenSSL's reason follows ("certificate has expired", "hostname mismatch").
extern const char *const RSOSSLCertificateVerifyFailed;  // "Certificate verification failed: "

// --- options ---

enum TNetSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };
enum TNetSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };
enum TNetSSLVerifyMode { sslvrfPeer = 1, sslvrfFailIfNoPeerCert = 2, sslvrfClientOnce = 4 };
// A set of TNetSSLVerifyMode bits; the bit values are OpenSSL's verify flags.
using TNetSSLVerifyModeSet = unsigned;

class TNetSSLOptions {
public:
    std::string RootCertFile;
    std::string CertFile;
    std::string KeyFile;
    TNetSSLVersion Method = sslvSSLv2;
    TNetSSLMode Mode = sslmUnassigned;
    TNetSSLVerifyModeSet VerifyMode = 0;
    int VerifyDepth = 0;
    std::string VerifyDirs;
    std::string CipherList;

    void Assign(const TNetSSLOptions &source) { *this = source; }
};

class TNetX509;

// What a context and a session report back to the handler that owns them.
class TNetSSLEvents {
public:
    virtual ~TNetSSLEvents() = default;
    virtual void DoStatusInfo(const std::string &msg) = 0;
    virtual void DoGetPassword(std::string &password) = 0;
    virtual bool DoVerifyPeer(TNetX509 *certificate, bool aOk) = 0;
    // Milliseconds: how long a handshake, a read and a write may wait for
    // the peer (negative: no limit).
    virtual int HandshakeTimeout() const = 0;
    virtual int WriteTimeout() const = 0;
};

// --- certificate and cipher wrappers ---

class TNetX509Name {
public:
    explicit TNetX509Name(X509_NAME *name) : FName(name) {}
    std::string OneLine() const;
    unsigned long Hash() const;  // 0 when the library offers no hash

private:
    X509_NAME *FName;
};

class TNetX509 {
public:
    // With owned set the certificate reference is released with the wrapper.
    TNetX509(X509 *cert, bool owned);
    ~TNetX509();
    TNetX509(const TNetX509 &) = delete;
    TNetX509 &operator=(const TNetX509 &) = delete;

    X509 *Certificate() const { return FCert; }
    TNetX509Name *Subject();
    TNetX509Name *Issuer();
    // MD5 fingerprint as "AA:BB:..."; empty when the library lacks it.
    std::string FingerprintAsString() const;

private:
    X509 *FCert;
    bool FOwned;
    std::unique_ptr<TNetX509Name> FSubject;
    std::unique_ptr<TNetX509Name> FIssuer;
};

class TNetSSLCipher {
public:
    explicit TNetSSLCipher(SSL *session) : FSession(session) {}
    std::string Name() const;
    std::string Description() const;
    int Bits() const;
    std::string Version() const;

private:
    SSL *FSession;
};

// --- context ---

class TNetSSLContext {
public:
    TNetSSLContext();  // loads the libraries on first use in the process
    ~TNetSSLContext();
    TNetSSLContext(const TNetSSLContext &) = delete;
    TNetSSLContext &operator=(const TNetSSLContext &) = delete;

    TNetSSLVersion Method = sslvSSLv2;
    TNetSSLMode Mode = sslmUnassigned;
    std::string RootCertFile, CertFile, KeyFile;
    int VerifyDepth = 0;
    TNetSSLVerifyModeSet VerifyMode = 0;
    std::string VerifyDirs;
    std::string CipherList;
    bool StatusInfoOn = false;
    bool VerifyOn = false;
    uint32_t SessionIdContext = 1;
    TNetSSLEvents *Parent = nullptr;

    void CopyOptions(const TNetSSLOptions &options);
    // (Re)makes the OpenSSL context as a client or as a server.
    void InitContext(bool server);
    // A ready context from a handler's options, with its callbacks going to
    // parent (status and verify callbacks only where the handler has events).
    static std::unique_ptr<TNetSSLContext> Make(const TNetSSLOptions &options, TNetSSLEvents *parent,
                                                bool statusInfo, bool verify, bool server);
    SSL_CTX *Handle() const { return FContext; }

    // How many contexts this process has made (only grows).
    static int ContextCount();

private:
    SSL_CTX *FContext = nullptr;
};

// --- session ---

class TNetSSLSocket {
public:
    TNetSSLSocket(TNetSSLEvents *parent, TNetSSLContext *context);
    ~TNetSSLSocket();  // shuts down and frees the session
    TNetSSLSocket(const TNetSSLSocket &) = delete;
    TNetSSLSocket &operator=(const TNetSSLSocket &) = delete;

    // Client handshake on a connected socket. The host name is sent as SNI
    // and must match the server's certificate (a numeric address must be
    // one of its IP addresses). Raises ENetOSSLConnectError with the reason.
    void Connect(int socketHandle, const std::string &hostName);
    // Server handshake; raises ENetOSSLAcceptError.
    void Accept(int socketHandle);

    // Receives up to len bytes, waiting at most timeoutMs (negative: no
    // limit). Returns the count, 0 when the peer closed the session, -1 on
    // time-out. Raises ENetSocketError for a broken connection and
    // ENetOpenSSLError for a TLS failure.
    int Recv(void *buf, int len, int timeoutMs);
    // Sends bytes, waiting at most the handler's write time-out; returns
    // the count sent (at least 1), 0 when the peer has closed the session.
    int Send(const void *buf, int len);
    // Decrypted bytes that wait to be read.
    bool HasPending() const;
    // The peer closed the connection without close_notify (Recv returned 0
    // all the same).
    bool EndedWithoutNotify() const { return FEndedWithoutNotify; }

    TNetSSLCipher *Cipher();
    TNetX509 *PeerCert();
    SSL *Handle() const { return FSSL; }
    // True while a handshake, read or write of this session runs. Those wait
    // with the window pumped, and a window event may close the connection
    // meanwhile: the closer then hands the session over with Abandon()
    // instead of freeing it under the running call.
    bool Busy() const { return FBusy > 0; }
    // The socket is gone: the running call ends as a closed connection and
    // frees the session on its way out.
    void Abandon() { FAbandoned = true; }
    TNetSSLEvents *Parent() const { return FParent; }
    TNetSSLContext *Context() const { return FContext; }

private:
    void Handshake(int socketHandle, bool client, const std::string &hostName);
    [[noreturn]] void RaiseIOError(int ret, int err, const char *what);
    // Runs op (one SSL_read or SSL_write) until it moves bytes, waiting on
    // the socket while OpenSSL asks to. Returns the count, 0 when the peer
    // closed the session, -1 when timeoutMs ran out.
    template <class Op>
    int Transfer(Op op, int timeoutMs, const char *what);

    friend class TNetSSLSocketCall;
    TNetSSLEvents *FParent;
    TNetSSLContext *FContext;
    SSL *FSSL = nullptr;
    int FSocket = -1;
    int FBusy = 0;
    bool FAbandoned = false;
    bool FEndedWithoutNotify = false;
    std::unique_ptr<TNetSSLCipher> FCipher;
    std::unique_ptr<TNetX509> FPeerCert;
};

// Waits until the socket can be read (POLLIN) or written (POLLOUT) within
// timeoutMs (negative: no limit), letting the anti-freeze pump the window
// meanwhile. True when ready, or at once when the pump set *stop.
bool WaitForSocket(int socketHandle, short events, int timeoutMs, const bool *stop = nullptr);

// --- IO handlers ---

// A socket IO handler that can put TLS between a client and its socket.
// With PassThrough on it is a plain TCP handler; switching it off on a
// connected socket starts TLS there (explicit TLS); a handler that connects
// with PassThrough off starts TLS right after the TCP connect (implicit).
class TNetSSLIOHandlerSocketBase : public TNetIOHandlerStack {
public:
    const char *ClassName() const override { return "TNetSSLIOHandlerSocketBase"; }
    bool PassThrough() const { return FPassThrough; }
    virtual void SetPassThrough(bool value) { FPassThrough = value; }
    // The name the server's certificate must carry; empty means Host.
    const std::string &PeerName() const { return FPeerName; }
    virtual void SetPeerName(const std::string &value) { FPeerName = value; }
    virtual TNetSSLIOHandlerSocketBase *Clone(TNetInitializerComponent *owner) = 0;
    // Prepares TLS on a connected socket and starts it unless PassThrough.
    virtual void StartSSL() = 0;

protected:
    explicit TNetSSLIOHandlerSocketBase(TNetInitializerComponent *owner) : TNetIOHandlerStack(owner) {}
    bool FPassThrough = false;
    std::string FPeerName;
};

class TNetSSLIOHandlerSocketOpenSSL : public TNetSSLIOHandlerSocketBase, public TNetSSLEvents {
public:
    ~TNetSSLIOHandlerSocketOpenSSL() override;
    const char *ClassName() const override { return "TNetSSLIOHandlerSocketOpenSSL"; }
    void InitComponent() override;

    TNetSSLOptions *SSLOptions() const { return FSSLOptions.get(); }
    TNetSSLContext *SSLContext() const { return FSSLContext; }
    TNetSSLSocket *SSLSocket() const { return FSSLSocket.get(); }
    bool IsPeer() const { return FIsPeer; }
    // A handler for a connection a server accepted: it shares the server's
    // context and runs the server side of the handshake.
    void MakePeer(TNetSSLContext *sharedContext);

    std::function<void(const std::string &msg)> OnStatusInfo;
    std::function<void(std::string &password)> OnGetPassword;
    std::function<bool(TNetX509 *certificate, bool aOk)> OnVerifyPeer;
    // After the TCP connect, before TLS is set up.
    std::function<void(TNetSSLIOHandlerSocketOpenSSL *sender)> OnBeforeConnect;

    int ReadFromSource(bool raiseExceptionIfDisconnected = true, int timeout = -1,
                       bool raiseExceptionOnTimeout = true) override;
    void AfterAccept() override;
    void Close() override;
    void WriteDirect(TNetBytes &bytes) override;
    void ConnectClient() override;
    void SetPassThrough(bool value) override;
    TNetSSLIOHandlerSocketBase *Clone(TNetInitializerComponent *owner) override;
    void StartSSL() override;

    // TNetSSLEvents
    void DoStatusInfo(const std::string &msg) override;
    void DoGetPassword(std::string &password) override;
    bool DoVerifyPeer(TNetX509 *certificate, bool aOk) override;
    int HandshakeTimeout() const override;
    int WriteTimeout() const override;
    // Where a peer handler's status, password and verify questions go
    // (the server handler that accepted it); nothing for a client.
    TNetSSLEvents *PeerEvents = nullptr;

protected:
    explicit TNetSSLIOHandlerSocketOpenSSL(TNetInitializerComponent *owner)
        : TNetSSLIOHandlerSocketBase(owner) {}
    bool SourceHasPendingData() override;
    virtual void DoBeforeConnect();
    // Runs the handshake on the connected socket; on any failure the
    // connection is closed before the exception leaves.
    void OpenEncodedConnection();
    void MakeContext();
    bool UsesTLS() const { return FSSLSocket != nullptr; }
    // keepInput: the session broke under a read or a write; what it
    // delivered before stays readable, as after a peer's close.
    [[noreturn]] void CloseAndRethrow(bool keepInput = false);
    // Frees the session, or leaves that to its running call (Abandon).
    void FreeSession();

private:
    bool FIsPeer = false;
    std::unique_ptr<TNetSSLOptions> FSSLOptions;
    std::unique_ptr<TNetSSLContext> FOwnedContext;
    TNetSSLContext *FSSLContext = nullptr;
    std::unique_ptr<TNetSSLSocket> FSSLSocket;
    std::vector<uint8_t> FTLSChunk;
};

// The server side: one context for every accepted connection. Accept makes
// a peer handler in pass-through mode; the server starts TLS on it by
// switching pass-through off (at once, or after its own start command).
class TNetServerIOHandlerSSLOpenSSL : public TNetServerIOHandler, public TNetSSLEvents {
public:
    ~TNetServerIOHandlerSSLOpenSSL() override;
    const char *ClassName() const override { return "TNetServerIOHandlerSSLOpenSSL"; }
    void InitComponent() override;

    TNetSSLOptions *SSLOptions() const { return FSSLOptions.get(); }
    TNetSSLContext *SSLContext() const { return FSSLContext.get(); }
    std::function<void(const std::string &msg)> OnStatusInfo;
    std::function<void(std::string &password)> OnGetPassword;
    std::function<bool(TNetX509 *certificate, bool aOk)> OnVerifyPeer;
    int HandshakeTimeoutMs = 30000;

    // Makes the server context from the options (certificate and key).
    void Init() override;
    // A peer handler for the next connection on the listening socket, owned
    // by the caller; nullptr when the accept failed.
    TNetIOHandler *Accept(int listenerSocket) override;

    void DoStatusInfo(const std::string &msg) override;
    void DoGetPassword(std::string &password) override;
    bool DoVerifyPeer(TNetX509 *certificate, bool aOk) override;
    int HandshakeTimeout() const override { return HandshakeTimeoutMs; }
    int WriteTimeout() const override { return HandshakeTimeoutMs; }

protected:
    explicit TNetServerIOHandlerSSLOpenSSL(TNetInitializerComponent *owner) : TNetServerIOHandler(owner) {}

private:
    std::unique_ptr<TNetSSLOptions> FSSLOptions;
    std::unique_ptr<TNetSSLContext> FSSLContext;
};

// --- registry of TLS implementations ---

struct TNetSSLRegEntry {
    std::string ProductName;
    std::string ProductVersion;
    std::string ProductURL;
    std::string ProductDescription;
    std::string ProductLicense;
    const char *ClientClassName;
    const char *ServerClassName;
};
std::vector<TNetSSLRegEntry> &NetSSLRegistry();
