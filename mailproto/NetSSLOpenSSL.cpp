#include "NetSSLOpenSSL.h"

#include "NetAntiFreeze.h"
#include "NetGlobal.h"
#include "NetStack.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>

const char *const RSOSSLCouldNotLoadSSLLibrary = "Could not load SSL library.";
const char *const RSOSSLModeNotSet = "Mode has not been set.";
const char *const RSOSSLGetMethodError = "Error geting SSL method.";
const char *const RSOSSLCreatingContextError = "Error creating SSL context.";
const char *const RSOSSLLoadingRootCertError = "Could not load root certificate.";
const char *const RSOSSLLoadingCertError = "Could not load certificate.";
const char *const RSOSSLLoadingKeyError = "Could not load key, check password.";
const char *const RSOSSLSettingCipherError = "SetCipher failed.";
const char *const RSOSSLDataBindingError = "Error binding data to SSL socket.";
const char *const RSOSSLAcceptError = "Error accepting connection with SSL.";
const char *const RSOSSLConnectError = "Error connecting with SSL.";
const char *const RSOSSLCertificateVerifyFailed = "Certificate verification failed: ";

namespace {

// Each callback runs under a lock of its own: OpenSSL may call them from any
// thread that runs a session. The same thread may come back in: an event
// handler that pumps the window can start another session's handshake
// inside the callback.
std::recursive_mutex gPasswordLock;
std::recursive_mutex gStatusLock;
std::recursive_mutex gVerifyLock;
std::mutex gInitLock;
std::atomic<int> gContextCount{0};
bool gLibraryReady = false;

constexpr int kX509_V_ERR_CERT_CHAIN_TOO_LONG = 22;
constexpr int kX509_V_ERR_APPLICATION_VERIFICATION = 50;
// Without a configured time-out a handshake or a write still ends: after
// as long as a connect may take while the window stays alive.
constexpr int kDefaultHandshakeTimeout = 120000;

std::string WithReason(const char *fixed, const std::string &reason)
{
    return reason.empty() ? std::string(fixed) : std::string(fixed) + " " + reason;
}

// Loads and prepares the libraries once per process; a failed attempt is
// tried again by the next context, so installing the libraries later works.
void InitializeLibrary()
{
    std::lock_guard<std::mutex> lock(gInitLock);
    if (gLibraryReady && OpenSSLLibraryLoaded())
        return;
    gLibraryReady = false;
    if (!LoadOpenSSLLibrary())
        throw ENetOSSLCouldNotLoadSSLLibrary(
            WithReason(RSOSSLCouldNotLoadSSLLibrary, OpenSSLLoadErrorText()));
    SSLRandomSeed();
    OSSL.SSL_load_error_strings();
    OSSL.SSL_library_init();
    // OpenSSL 3 locks for itself; the classic calls are kept as no-ops.
    OSSL.CRYPTO_set_locking_callback(nullptr);
    OSSL.CRYPTO_set_id_callback(nullptr);
    // OpenSSL writes to the socket with write(); a peer that has gone must
    // give an error, not kill the program.
    struct sigaction old {};
    if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
        signal(SIGPIPE, SIG_IGN);
    gLibraryReady = true;
}

int PasswordCallback(char *buf, int size, int /*rwflag*/, void *userdata)
{
    std::lock_guard<std::recursive_mutex> lock(gPasswordLock);
    auto *ctx = static_cast<TNetSSLContext *>(userdata);
    std::string password;
    if (ctx && ctx->Parent)
        ctx->Parent->DoGetPassword(password);
    if (size <= 0)
        return 0;
    int n = int(std::min<size_t>(password.size(), size_t(size - 1)));
    std::memcpy(buf, password.data(), size_t(n));
    buf[n] = '\0';
    return n;
}

void InfoCallback(const SSL *ssl, int /*where*/, int /*ret*/)
{
    std::lock_guard<std::recursive_mutex> lock(gStatusLock);
    auto *sock = static_cast<TNetSSLSocket *>(SSLGetAppData(ssl));
    if (!sock || !sock->Parent())
        return;
    const char *state = OSSL.SSL_state_string_long(ssl);
    sock->Parent()->DoStatusInfo(Format("SSL status: \"%s\"", state ? state : ""));
}

int VerifyCallback(int ok, X509_STORE_CTX *store)
{
    std::lock_guard<std::recursive_mutex> lock(gVerifyLock);
    SSL *ssl = static_cast<SSL *>(OSSL.X509_STORE_CTX_get_app_data_suite(store));
    auto *sock = ssl ? static_cast<TNetSSLSocket *>(SSLGetAppData(ssl)) : nullptr;
    if (!sock)
        return ok;
    TNetSSLContext *ctx = sock->Context();
    bool result = ok > 0;
    int depth = OSSL.X509_STORE_CTX_get_error_depth(store);
    // A depth limit applies only where verification was configured by hand.
    if (result && ctx && ctx->VerifyMode != 0 && depth > ctx->VerifyDepth) {
        OSSL.X509_STORE_CTX_set_error(store, kX509_V_ERR_CERT_CHAIN_TOO_LONG);
        result = false;
    }
    // The handler's event may refuse a certificate, never admit one that
    // OpenSSL refused: a user cannot switch checking off by accident.
    if (ctx && ctx->VerifyOn && sock->Parent()) {
        TNetX509 cert(OSSL.X509_STORE_CTX_get_current_cert(store), false);
        bool answer = sock->Parent()->DoVerifyPeer(&cert, result);
        if (result && !answer) {
            OSSL.X509_STORE_CTX_set_error(store, kX509_V_ERR_APPLICATION_VERIFICATION);
            result = false;
        }
    }
    return result ? 1 : 0;
}

// The peer closed the connection without close_notify: nothing proves that
// the last bytes were all it sent.
bool IsUnexpectedEOF(unsigned long code)
{
    return code != 0 && !(code & OSSL_ERR_SYSTEM_FLAG) &&
           int((code >> OSSL_ERR_LIB_OFFSET) & OSSL_ERR_LIB_MASK) == OSSL_ERR_LIB_SSL &&
           int(code & OSSL_ERR_REASON_MASK) == OSSL_SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

bool IsIPAddress(const std::string &host)
{
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

[[noreturn]] void RaiseSocketErrorCode(int code)
{
    if (TNetStackBSDBase *stack = GStack ? GBSDStack() : nullptr)
        stack->RaiseSocketError(code);
    throw ENetSocketError(code, Format("Socket Error # %d", code));
}

int Remaining(uint32_t start, int timeoutMs)
{
    if (timeoutMs < 0)
        return -1;
    uint32_t spent = TicksDiff(start, TicksNow());
    return spent >= uint32_t(timeoutMs) ? 0 : int(uint32_t(timeoutMs) - spent);
}

}  // namespace

// --- waiting ---

bool WaitForSocket(int socketHandle, short events, int timeoutMs, const bool *stop)
{
    uint32_t start = TicksNow();
    for (;;) {
        int left = Remaining(start, timeoutMs);
        // On the GUI thread with an anti-freeze, wait in its slices so the
        // window stays alive; otherwise in one go.
        int slice = NetAntiFreezeSlice();
        if (slice < 0)
            slice = left;
        else if (left >= 0)
            slice = std::min(left, slice);
        pollfd p{socketHandle, events, 0};
        int r = poll(&p, 1, slice);
        if (r < 0) {
            if (errno == EINTR)
                continue;  // interrupted: wait again for what is left
            return true;   // let the next call report the socket's error
        }
        bool ready = r > 0;
        TNetAntiFreezeBase::DoProcess(!ready, TNetAntiFreezeBase::Starved());
        if (ready || (stop && *stop))
            return true;
        // Only a poll that reached the end of the time-out says "not ready":
        // the pump may have taken longer than that (a menu runs its own
        // loop), and what came meanwhile is seen by one more poll.
        if (left >= 0 && left <= slice)
            return false;
    }
}

// --- certificate and cipher wrappers ---

std::string TNetX509Name::OneLine() const
{
    if (!FName)
        return std::string();
    char buf[1024];
    buf[0] = '\0';
    OSSL.X509_NAME_oneline(FName, buf, sizeof buf);
    return buf;
}

unsigned long TNetX509Name::Hash() const
{
    return FName && OSSL.X509_NAME_hash ? OSSL.X509_NAME_hash(FName) : 0;
}

TNetX509::TNetX509(X509 *cert, bool owned) : FCert(cert), FOwned(owned) {}

TNetX509::~TNetX509()
{
    if (FOwned && FCert && OSSL.X509_free)
        OSSL.X509_free(FCert);
}

TNetX509Name *TNetX509::Subject()
{
    if (!FSubject)
        FSubject = std::make_unique<TNetX509Name>(FCert ? OSSL.X509_get_subject_name(FCert) : nullptr);
    return FSubject.get();
}

TNetX509Name *TNetX509::Issuer()
{
    if (!FIssuer)
        FIssuer = std::make_unique<TNetX509Name>(FCert ? OSSL.X509_get_issuer_name(FCert) : nullptr);
    return FIssuer.get();
}

std::string TNetX509::FingerprintAsString() const
{
    if (!FCert || !OSSL.X509_digest || !OSSL.EVP_md5)
        return std::string();
    unsigned char md[64];
    unsigned int len = 0;
    if (OSSL.X509_digest(FCert, OSSL.EVP_md5(), md, &len) != 1)
        return std::string();
    std::string out;
    for (unsigned i = 0; i < len; ++i) {
        if (i)
            out += ':';
        out += IntToHex(md[i], 2);
    }
    return out;
}

std::string TNetSSLCipher::Name() const
{
    const SSL_CIPHER *c = OSSL.SSL_get_current_cipher(FSession);
    const char *n = c ? OSSL.SSL_CIPHER_get_name(c) : nullptr;
    return n ? n : "";
}

std::string TNetSSLCipher::Description() const
{
    const SSL_CIPHER *c = OSSL.SSL_get_current_cipher(FSession);
    if (!c)
        return std::string();
    char buf[1024];
    buf[0] = '\0';
    OSSL.SSL_CIPHER_description(c, buf, sizeof buf);
    return buf;
}

int TNetSSLCipher::Bits() const
{
    const SSL_CIPHER *c = OSSL.SSL_get_current_cipher(FSession);
    int alg = 0;
    if (c)
        OSSL.SSL_CIPHER_get_bits(c, &alg);
    return alg;
}

std::string TNetSSLCipher::Version() const
{
    const SSL_CIPHER *c = OSSL.SSL_get_current_cipher(FSession);
    const char *v = c ? OSSL.SSL_CIPHER_get_version(c) : nullptr;
    return v ? v : "";
}

// --- context ---

TNetSSLContext::TNetSSLContext()
{
    InitializeLibrary();
    ++gContextCount;
}

TNetSSLContext::~TNetSSLContext()
{
    if (FContext && OSSL.SSL_CTX_free)
        OSSL.SSL_CTX_free(FContext);
}

int TNetSSLContext::ContextCount() { return gContextCount.load(); }

void TNetSSLContext::CopyOptions(const TNetSSLOptions &o)
{
    Method = o.Method;
    Mode = o.Mode;
    RootCertFile = o.RootCertFile;
    CertFile = o.CertFile;
    KeyFile = o.KeyFile;
    VerifyDepth = o.VerifyDepth;
    VerifyMode = o.VerifyMode;
    VerifyDirs = o.VerifyDirs;
    CipherList = o.CipherList;
}

std::unique_ptr<TNetSSLContext> TNetSSLContext::Make(const TNetSSLOptions &options, TNetSSLEvents *parent,
                                                     bool statusInfo, bool verify, bool server)
{
    auto ctx = std::make_unique<TNetSSLContext>();
    ctx->CopyOptions(options);
    ctx->StatusInfoOn = statusInfo;
    ctx->VerifyOn = verify;
    ctx->Parent = parent;
    ctx->InitContext(server);
    return ctx;
}

void TNetSSLContext::InitContext(bool server)
{
    if (FContext) {
        OSSL.SSL_CTX_free(FContext);
        FContext = nullptr;
    }
    OSSL.ERR_clear_error();
    if (Mode == sslmUnassigned)
        Mode = server ? sslmServer : sslmClient;

    // Every version setting takes the general TLS method: SSL 2 and 3 and
    // TLS 1.0 no longer reach a current server. The floor is set below.
    const SSL_METHOD *(*methodFn)() = nullptr;
    switch (Mode) {
    case sslmClient: methodFn = OSSL.SSLv23_client_method; break;
    case sslmServer: methodFn = OSSL.SSLv23_server_method; break;
    case sslmBoth: methodFn = OSSL.SSLv23_method; break;
    default: ENetOSSLModeNotSet::Toss(RSOSSLModeNotSet);
    }
    const SSL_METHOD *method = methodFn ? methodFn() : nullptr;
    if (!method)
        ENetOSSLGetMethodError::Toss(RSOSSLGetMethodError);

    FContext = OSSL.SSL_CTX_new(method);
    if (!FContext)
        ENetOSSLCreatingContextError::Toss(WithReason(RSOSSLCreatingContextError, OpenSSLErrorText()));

    if (OSSL.SSL_CTX_ctrl(FContext, OSSL_SSL_CTRL_SET_MIN_PROTO_VERSION, OSSL_TLS1_2_VERSION,
                          nullptr) != 1)
        ENetOSSLCreatingContextError::Toss(WithReason(RSOSSLCreatingContextError, OpenSSLErrorText()));
    // A peer that closes without close_notify is seen by the session as an
    // error of its own (see Transfer): many servers leave that way after
    // their last answer, but a cut in the middle of one must not pass for
    // its end.
    OSSL.SSL_CTX_ctrl(FContext, OSSL_SSL_CTRL_MODE,
                      OSSL_SSL_MODE_ENABLE_PARTIAL_WRITE | OSSL_SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER,
                      nullptr);
    // A read comes back after each record that holds no data, so the
    // time-out is looked at between them: left to itself, one SSL_read
    // goes on for as long as the peer keeps sending such records.
    OSSL.SSL_CTX_ctrl(FContext, OSSL_SSL_CTRL_CLEAR_MODE, OSSL_SSL_MODE_AUTO_RETRY, nullptr);

    OSSL.SSL_CTX_set_default_passwd_cb(FContext, PasswordCallback);
    OSSL.SSL_CTX_set_default_passwd_cb_userdata(FContext, this);
    OSSL.SSL_CTX_set_default_verify_paths(FContext);

    if (!RootCertFile.empty() &&
        OSSL.SSL_CTX_load_verify_locations(FContext, RootCertFile.c_str(), nullptr) <= 0)
        ENetOSSLLoadingRootCertError::Toss(WithReason(RSOSSLLoadingRootCertError, OpenSSLErrorText()));
    if (!CertFile.empty() &&
        OSSL.SSL_CTX_use_certificate_file(FContext, CertFile.c_str(), OSSL_SSL_FILETYPE_PEM) <= 0)
        ENetOSSLLoadingCertError::Toss(WithReason(RSOSSLLoadingCertError, OpenSSLErrorText()));
    if (!KeyFile.empty() &&
        (OSSL.SSL_CTX_use_PrivateKey_file(FContext, KeyFile.c_str(), OSSL_SSL_FILETYPE_PEM) <= 0 ||
         OSSL.SSL_CTX_check_private_key(FContext) <= 0))
        ENetOSSLLoadingKeyError::Toss(WithReason(RSOSSLLoadingKeyError, OpenSSLErrorText()));

    if (StatusInfoOn)
        OSSL.SSL_CTX_set_info_callback_suite(FContext, InfoCallback);

    // With no list configured OpenSSL's own default stands; it offers only
    // suites that are still safe. A client never offers the anonymous
    // suites, whatever the list says: their server shows no certificate,
    // so there would be nothing to check and anyone could stand in for it.
    if (!CipherList.empty()) {
        std::string list = server ? CipherList : CipherList + ":!aNULL";
        if (OSSL.SSL_CTX_set_cipher_list(FContext, list.c_str()) <= 0)
            ENetOSSLSettingCipherError::Toss(WithReason(RSOSSLSettingCipherError, OpenSSLErrorText()));
    }

    // A client always checks the server it talks to, whatever Mode says
    // (sslmBoth makes a context that can connect too); a server asks for
    // client certificates only when told to.
    int verifyBits = int(VerifyMode & (sslvrfPeer | sslvrfFailIfNoPeerCert | sslvrfClientOnce));
    if (!server)
        verifyBits |= OSSL_SSL_VERIFY_PEER;
    if (verifyBits != 0)
        OSSL.SSL_CTX_set_verify(FContext, verifyBits, VerifyCallback);
    if (VerifyMode != 0)
        OSSL.SSL_CTX_set_verify_depth(FContext, VerifyDepth);

    if (server) {
        unsigned char sid[4];
        std::memcpy(sid, &SessionIdContext, 4);
        OSSL.SSL_CTX_set_session_id_context(FContext, sid, 4);
    }
    if (!RootCertFile.empty()) {
        if (stack_st_X509_NAME *names = OSSL.SSL_load_client_CA_file(RootCertFile.c_str()))
            OSSL.SSL_CTX_set_client_CA_list(FContext, names);
    }
    OSSL.ERR_clear_error();
}

// --- session ---

// Marks a session call as running; the last call to end frees a session
// that was abandoned meanwhile.
class TNetSSLSocketCall {
public:
    explicit TNetSSLSocketCall(TNetSSLSocket *s) : FS(s) { ++FS->FBusy; }
    ~TNetSSLSocketCall()
    {
        if (--FS->FBusy == 0 && FS->FAbandoned)
            delete FS;
    }
    TNetSSLSocketCall(const TNetSSLSocketCall &) = delete;
    TNetSSLSocketCall &operator=(const TNetSSLSocketCall &) = delete;

private:
    TNetSSLSocket *FS;
};

TNetSSLSocket::TNetSSLSocket(TNetSSLEvents *parent, TNetSSLContext *context)
    : FParent(parent), FContext(context)
{
}

TNetSSLSocket::~TNetSSLSocket()
{
    if (FSSL) {
        FPeerCert.reset();
        // No callback reaches the handler from here on: it may be on its way
        // out, and its events point into an owner that may be gone already.
        SSLSetAppData(FSSL, nullptr);
        // One attempt at a close_notify; never wait for the peer's answer.
        // An abandoned session's socket is closed, its number maybe reused.
        if (!FAbandoned)
            OSSL.SSL_shutdown(FSSL);
        OSSL.SSL_free(FSSL);
        OSSL.ERR_clear_error();
    }
}

void TNetSSLSocket::Connect(int socketHandle, const std::string &hostName)
{
    Handshake(socketHandle, true, hostName);
}

void TNetSSLSocket::Accept(int socketHandle) { Handshake(socketHandle, false, std::string()); }

void TNetSSLSocket::Handshake(int socketHandle, bool client, const std::string &hostName)
{
    TNetSSLSocketCall running(this);
    const char *failText = client ? RSOSSLConnectError : RSOSSLAcceptError;
    auto fail = [&](const std::string &reason) -> void {
        if (client)
            throw ENetOSSLConnectError(WithReason(failText, reason));
        throw ENetOSSLAcceptError(WithReason(failText, reason));
    };
    OSSL.ERR_clear_error();
    if (!FContext || !FContext->Handle())
        fail("no context");
    FSSL = OSSL.SSL_new(FContext->Handle());
    if (!FSSL)
        fail(OpenSSLErrorText());
    if (SSLSetAppData(FSSL, this) <= 0)
        ENetOSSLDataBindingError::Toss(RSOSSLDataBindingError);

    // The handshake and all later traffic wait in poll(), never in a
    // blocking call.
    int flags = fcntl(socketHandle, F_GETFL, 0);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        fcntl(socketHandle, F_SETFL, flags | O_NONBLOCK);
    FSocket = socketHandle;
    if (OSSL.SSL_set_fd(FSSL, socketHandle) != 1)
        fail(OpenSSLErrorText());

    if (client) {
        if (hostName.empty())
            fail("no host name to check the certificate against");
        if (IsIPAddress(hostName)) {
            if (OSSL.X509_VERIFY_PARAM_set1_ip_asc(OSSL.SSL_get0_param(FSSL), hostName.c_str()) != 1)
                fail(OpenSSLErrorText());
        } else {
            OSSL.SSL_ctrl(FSSL, OSSL_SSL_CTRL_SET_TLSEXT_HOSTNAME, OSSL_TLSEXT_NAMETYPE_host_name,
                          const_cast<char *>(hostName.c_str()));
            if (OSSL.SSL_set1_host(FSSL, hostName.c_str()) != 1)
                fail(OpenSSLErrorText());
        }
    }

    int timeout = FParent ? FParent->HandshakeTimeout() : kDefaultHandshakeTimeout;
    uint32_t start = TicksNow();
    for (;;) {
        // The pump may have left errors of its own on the queue; a stale
        // one would turn a "wait again" into a failure.
        OSSL.ERR_clear_error();
        errno = 0;
        int r = client ? OSSL.SSL_connect(FSSL) : OSSL.SSL_accept(FSSL);
        if (r == 1)
            break;
        int err = OSSL.SSL_get_error(FSSL, r);
        if (err == OSSL_SSL_ERROR_WANT_READ || err == OSSL_SSL_ERROR_WANT_WRITE) {
            short ev = err == OSSL_SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
            // The time-out bounds the whole handshake, also against a peer
            // that keeps the socket readable with never a finished step.
            if (timeout >= 0 && Remaining(start, timeout) == 0)
                fail("The handshake timed out.");
            if (!WaitForSocket(socketHandle, ev, Remaining(start, timeout), &FAbandoned))
                fail("The handshake timed out.");
            if (FAbandoned)
                fail("The connection was closed during the handshake.");
            continue;
        }
        int savedErrno = errno;
        long verify = OSSL.SSL_get_verify_result(FSSL);
        if (verify != OSSL_X509_V_OK) {
            const char *why = OSSL.X509_verify_cert_error_string(verify);
            OSSL.ERR_clear_error();
            fail(std::string(RSOSSLCertificateVerifyFailed) + (why ? why : "unknown reason"));
        }
        std::string reason = IsUnexpectedEOF(OSSL.ERR_peek_error()) ? std::string() : OpenSSLErrorText();
        OSSL.ERR_clear_error();
        if (reason.empty())
            reason = savedErrno ? std::string(strerror(savedErrno))
                                : std::string("The connection was closed during the handshake.");
        fail(reason);
    }

    if (FParent) {
        TNetSSLCipher *c = Cipher();
        FParent->DoStatusInfo("Cipher: name = " + c->Name() + "; " + "description = " +
                              c->Description() + "; " + "bits = " + IntToStr(c->Bits()) + "; " +
                              "version = " + c->Version() + "; ");
    }
}

bool TNetSSLSocket::HasPending() const { return FSSL && OSSL.SSL_pending(FSSL) > 0; }

void TNetSSLSocket::RaiseIOError(int ret, int err, const char *what)
{
    int savedErrno = errno;
    std::string reason = OpenSSLErrorText();
    if (err == OSSL_SSL_ERROR_SYSCALL && reason.empty())
        RaiseSocketErrorCode(savedErrno ? ErrnoToWinsockError(savedErrno) : Net_WSAECONNRESET);
    if (reason.empty())
        reason = Format("error %d (result %d)", err, ret);
    throw ENetOpenSSLError(std::string(what) + reason);
}

template <class Op>
int TNetSSLSocket::Transfer(Op op, int timeoutMs, const char *what)
{
    if (!FSSL)
        ENetOpenSSLError::Toss("No TLS session.");
    TNetSSLSocketCall running(this);
    uint32_t start = TicksNow();
    // Time the anti-freeze spends running the window's events (a menu held
    // open) is not the peer's.
    const uint64_t pumpedAtStart = TNetAntiFreezeBase::PumpedMilliseconds();
    auto left = [&] {
        if (timeoutMs < 0)
            return -1;
        uint64_t pumped = TNetAntiFreezeBase::PumpedMilliseconds() - pumpedAtStart;
        uint64_t spent = TicksDiff(start, TicksNow());
        spent = spent > pumped ? spent - pumped : 0;
        return spent >= uint64_t(timeoutMs) ? 0 : int(uint64_t(timeoutMs) - spent);
    };
    bool waited = false;
    for (;;) {
        OSSL.ERR_clear_error();
        errno = 0;
        int n = op();
        if (n > 0)
            return n;
        int err = OSSL.SSL_get_error(FSSL, n);
        switch (err) {
        case OSSL_SSL_ERROR_ZERO_RETURN:
            return 0;
        case OSSL_SSL_ERROR_WANT_READ:
        case OSSL_SSL_ERROR_WANT_WRITE:
            // A partial record or a renegotiation: wait and try again. Once
            // the time is up and the session has been tried on what came
            // during a wait, a peer that keeps sending records without data
            // (key updates, tickets) must not hold the call any longer.
            if (waited && timeoutMs >= 0 && left() == 0)
                return -1;
            waited = true;
            if (!WaitForSocket(FSocket, err == OSSL_SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, left(),
                               &FAbandoned))
                return -1;
            if (FAbandoned)
                ENetConnClosedGracefully::Toss("Connection Closed Gracefully.");
            continue;
        case OSSL_SSL_ERROR_SSL:
            if (IsUnexpectedEOF(OSSL.ERR_peek_error())) {
                OSSL.ERR_clear_error();
                FEndedWithoutNotify = true;
                return 0;
            }
            RaiseIOError(n, err, what);
        default:
            RaiseIOError(n, err, what);
        }
    }
}

int TNetSSLSocket::Recv(void *buf, int len, int timeoutMs)
{
    return Transfer([&] { return OSSL.SSL_read(FSSL, buf, len); }, timeoutMs, "TLS read failed: ");
}

int TNetSSLSocket::Send(const void *buf, int len)
{
    int timeoutMs = FParent ? FParent->WriteTimeout() : kDefaultHandshakeTimeout;
    int n = Transfer([&] { return OSSL.SSL_write(FSSL, buf, len); }, timeoutMs, "TLS write failed: ");
    if (n < 0)
        RaiseSocketErrorCode(Net_WSAETIMEDOUT);
    return n;
}

TNetSSLCipher *TNetSSLSocket::Cipher()
{
    if (!FCipher && FSSL)
        FCipher = std::make_unique<TNetSSLCipher>(FSSL);
    return FCipher.get();
}

TNetX509 *TNetSSLSocket::PeerCert()
{
    if (!FPeerCert && FSSL) {
        X509 *cert = OSSL.SSL_get_peer_certificate(FSSL);
        if (cert)
            FPeerCert = std::make_unique<TNetX509>(cert, true);
    }
    return FPeerCert.get();
}

// --- IO handler ---

TNetSSLIOHandlerSocketOpenSSL::~TNetSSLIOHandlerSocketOpenSSL()
{
    // The session says goodbye on the socket, so it goes before the socket.
    FreeSession();
    FOwnedContext.reset();
    FSSLContext = nullptr;
}

void TNetSSLIOHandlerSocketOpenSSL::InitComponent()
{
    TNetSSLIOHandlerSocketBase::InitComponent();
    FIsPeer = false;
    FSSLOptions = std::make_unique<TNetSSLOptions>();
    FSSLContext = nullptr;
}

void TNetSSLIOHandlerSocketOpenSSL::MakePeer(TNetSSLContext *sharedContext)
{
    FIsPeer = true;
    FOwnedContext.reset();
    FSSLContext = sharedContext;
}

void TNetSSLIOHandlerSocketOpenSSL::MakeContext()
{
    FOwnedContext = TNetSSLContext::Make(*FSSLOptions, this, bool(OnStatusInfo), bool(OnVerifyPeer), false);
    FSSLContext = FOwnedContext.get();
}

void TNetSSLIOHandlerSocketOpenSSL::StartSSL()
{
    if (!FSSLContext) {
        try {
            MakeContext();
        } catch (const ENetOSSLCouldNotLoadSSLLibrary &) {
            // A plain session does not need the libraries; asking for TLS
            // on it later reports them missing.
            if (!FPassThrough)
                throw;
        }
    }
    if (!FPassThrough)
        OpenEncodedConnection();
}

void TNetSSLIOHandlerSocketOpenSSL::OpenEncodedConnection()
{
    try {
        if (!BindingAllocated())
            ENetOSSLConnectError::Toss(WithReason(RSOSSLConnectError, "Not connected."));
        int fd = Binding()->Handle();
        // Nothing may follow the start answer before the handshake: bytes
        // already read in plain text were put there by someone in between,
        // and read later they would pass for data that came over TLS.
        if (!FSSLSocket && !InputBufferIsEmpty()) {
            FInputBuffer->Clear();
            const char *why = "Plain-text data arrived before the handshake.";
            if (FIsPeer)
                ENetOSSLAcceptError::Toss(WithReason(RSOSSLAcceptError, why));
            ENetOSSLConnectError::Toss(WithReason(RSOSSLConnectError, why));
        }
        if (!FSSLSocket) {
            FSSLSocket = std::make_unique<TNetSSLSocket>(this, FSSLContext);
            if (FIsPeer)
                FSSLSocket->Accept(fd);
            else
                FSSLSocket->Connect(fd, FPeerName.empty() ? FHost : FPeerName);
        }
    } catch (...) {
        // Never carry on in plain text after a failed handshake.
        CloseAndRethrow();
    }
    FPassThrough = false;
}

void TNetSSLIOHandlerSocketOpenSSL::CloseAndRethrow(bool keepInput)
{
    try {
        if (keepInput)
            CloseKeepingInput();
        else
            Close();
    } catch (...) {
    }
    throw;
}

void TNetSSLIOHandlerSocketOpenSSL::ConnectClient()
{
    TNetSSLIOHandlerSocketBase::ConnectClient();
    DoBeforeConnect();
    try {
        StartSSL();
    } catch (...) {
        CloseAndRethrow();
    }
}

void TNetSSLIOHandlerSocketOpenSSL::AfterAccept()
{
    TNetSSLIOHandlerSocketBase::AfterAccept();
    StartSSL();
}

void TNetSSLIOHandlerSocketOpenSSL::SetPassThrough(bool value)
{
    if (value == FPassThrough)
        return;
    if (!value && BindingAllocated()) {
        // The libraries were missing when the plain session began; they are
        // looked for once more, and the reason they cannot be had goes to
        // the user. TLS was asked for on this connection: without it the
        // connection must not stay open for someone to carry on in plain.
        if (!FSSLContext) {
            try {
                MakeContext();
            } catch (...) {
                try {
                    Close();
                } catch (...) {
                }
                throw;
            }
        }
        OpenEncodedConnection();
    }
    FPassThrough = value;
}

void TNetSSLIOHandlerSocketOpenSSL::FreeSession()
{
    if (FSSLSocket && FSSLSocket->Busy())
        FSSLSocket.release()->Abandon();
    else
        FSSLSocket.reset();
}

void TNetSSLIOHandlerSocketOpenSSL::Close()
{
    FreeSession();
    if (!FIsPeer) {
        FOwnedContext.reset();
        FSSLContext = nullptr;
    }
    TNetSSLIOHandlerSocketBase::Close();
}

bool TNetSSLIOHandlerSocketOpenSSL::SourceHasPendingData()
{
    return FSSLSocket && FSSLSocket->HasPending();
}

int TNetSSLIOHandlerSocketOpenSSL::ReadFromSource(bool raiseExceptionIfDisconnected, int timeout,
                                                  bool raiseExceptionOnTimeout)
{
    // Once TLS runs every byte goes through the session, whatever
    // PassThrough says later.
    if (!UsesTLS())
        return TNetSSLIOHandlerSocketBase::ReadFromSource(raiseExceptionIfDisconnected, timeout,
                                                           raiseExceptionOnTimeout);
    if (timeout == -1)
        timeout = (ReadTimeout == -1 || ReadTimeout == 0) ? -2 : ReadTimeout;
    CheckForDisconnect(raiseExceptionIfDisconnected, false);
    if (!BindingAllocated() || !FRecvBuffer || !FInputBuffer || !FSSLSocket) {
        if (raiseExceptionIfDisconnected)
            ENetException::Toss("Not Connected");
        return 0;
    }
    int count = 0;
    do {
        FTLSChunk.resize(size_t(RecvBufferSize > 0 ? RecvBufferSize : 32768));
        try {
            // Waits for the socket within the time-out; a partial record
            // means waiting again, decrypted bytes count as readable.
            count = FSSLSocket->Recv(FTLSChunk.data(), int(FTLSChunk.size()), timeout < 0 ? -1 : timeout);
        } catch (const ENetSocketError &e) {
            if (e.LastError() == Net_WSAECONNABORTED || e.LastError() == Net_WSAESHUTDOWN ||
                e.LastError() == Net_WSAECONNRESET)
                FClosedGracefully = true;
            CloseAndRethrow(true);
        } catch (const ENetOpenSSLError &) {
            CloseAndRethrow(true);
        }
        if (count < 0) {
            if (raiseExceptionOnTimeout)
                ENetReadTimeout::Toss("Read Timeout");
            return -1;
        }
        if (count > 0)
            TakeReceived(FTLSChunk, count);
        // A cut without close_notify behind a part of a line: that part
        // would be read as the answer's last line (a lone "." as its end),
        // yet anyone in between may have cut it there.
        if (count == 0 && FSSLSocket->EndedWithoutNotify() && !InputBufferIsEmpty()) {
            FInputBuffer->Clear();
            try {
                ENetOpenSSLError::Toss("TLS read failed: the connection was cut off in the middle of an answer.");
            } catch (...) {
                CloseAndRethrow(true);
            }
        }
        FClosedGracefully = count == 0;
        CheckForDisconnect(raiseExceptionIfDisconnected, false);
        if (count != 0)
            return count;
    } while (BindingAllocated() && FSSLSocket);
    return 0;
}

void TNetSSLIOHandlerSocketOpenSSL::WriteDirect(TNetBytes &bytes)
{
    if (!UsesTLS()) {
        TNetSSLIOHandlerSocketBase::WriteDirect(bytes);
        return;
    }
    TNetIOHandler::WriteDirect(bytes);  // connection check and intercept
    size_t offset = 0;
    while (offset < bytes.size()) {
        if (!BindingAllocated() || !FSSLSocket)
            RaiseConnClosedGracefully();
        int sent = 0;
        try {
            sent = FSSLSocket->Send(bytes.data() + offset, int(bytes.size() - offset));
        } catch (const ENetSocketError &e) {
            if (e.LastError() == Net_WSAECONNABORTED || e.LastError() == Net_WSAESHUTDOWN ||
                e.LastError() == Net_WSAECONNRESET)
                FClosedGracefully = true;
            CloseAndRethrow(true);
        } catch (const ENetOpenSSLError &) {
            CloseAndRethrow(true);
        }
        TNetAntiFreezeBase::DoProcess(false);
        FClosedGracefully = sent == 0;
        CheckForDisconnect(true, false);
        DoWork(wmWrite, sent);
        if (sent <= 0)
            RaiseConnClosedGracefully();
        offset += size_t(sent);
    }
}

TNetSSLIOHandlerSocketBase *TNetSSLIOHandlerSocketOpenSSL::Clone(TNetInitializerComponent *owner)
{
    auto *h = NetCreate<TNetSSLIOHandlerSocketOpenSSL>(owner);
    h->SSLOptions()->Assign(*FSSLOptions);
    h->OnStatusInfo = OnStatusInfo;
    h->OnGetPassword = OnGetPassword;
    h->OnVerifyPeer = OnVerifyPeer;
    return h;
}

void TNetSSLIOHandlerSocketOpenSSL::DoBeforeConnect()
{
    if (OnBeforeConnect)
        OnBeforeConnect(this);
}

void TNetSSLIOHandlerSocketOpenSSL::DoStatusInfo(const std::string &msg)
{
    if (PeerEvents)
        PeerEvents->DoStatusInfo(msg);
    else if (OnStatusInfo)
        OnStatusInfo(msg);
}

void TNetSSLIOHandlerSocketOpenSSL::DoGetPassword(std::string &password)
{
    if (PeerEvents)
        PeerEvents->DoGetPassword(password);
    else if (OnGetPassword)
        OnGetPassword(password);
}

bool TNetSSLIOHandlerSocketOpenSSL::DoVerifyPeer(TNetX509 *certificate, bool aOk)
{
    if (PeerEvents)
        return PeerEvents->DoVerifyPeer(certificate, aOk);
    return OnVerifyPeer ? OnVerifyPeer(certificate, aOk) : aOk;
}

int TNetSSLIOHandlerSocketOpenSSL::HandshakeTimeout() const
{
    if (ConnectTimeout > 0)
        return ConnectTimeout;
    if (ReadTimeout > 0)
        return ReadTimeout;
    return kDefaultHandshakeTimeout;
}

int TNetSSLIOHandlerSocketOpenSSL::WriteTimeout() const
{
    return ReadTimeout > 0 ? ReadTimeout : kDefaultHandshakeTimeout;
}

// --- server handler ---

TNetServerIOHandlerSSLOpenSSL::~TNetServerIOHandlerSSLOpenSSL() = default;

void TNetServerIOHandlerSSLOpenSSL::InitComponent()
{
    TNetServerIOHandler::InitComponent();
    FSSLOptions = std::make_unique<TNetSSLOptions>();
}

void TNetServerIOHandlerSSLOpenSSL::Init()
{
    FSSLContext = TNetSSLContext::Make(*FSSLOptions, this, bool(OnStatusInfo), bool(OnVerifyPeer), true);
}

TNetIOHandler *TNetServerIOHandlerSSLOpenSSL::Accept(int listenerSocket)
{
    if (!FSSLContext)
        Init();
    std::unique_ptr<TNetSSLIOHandlerSocketOpenSSL> h(NetCreate<TNetSSLIOHandlerSocketOpenSSL>(nullptr));
    h->SSLOptions()->Assign(*FSSLOptions);
    h->SSLOptions()->Mode = sslmBoth;
    h->MakePeer(FSSLContext.get());
    h->SetPassThrough(true);
    h->PeerEvents = this;
    h->Open();
    if (!h->Binding()->Accept(listenerSocket))
        return nullptr;
    h->AfterAccept();
    return h.release();
}

void TNetServerIOHandlerSSLOpenSSL::DoStatusInfo(const std::string &msg)
{
    if (OnStatusInfo)
        OnStatusInfo(msg);
}

void TNetServerIOHandlerSSLOpenSSL::DoGetPassword(std::string &password)
{
    if (OnGetPassword)
        OnGetPassword(password);
}

bool TNetServerIOHandlerSSLOpenSSL::DoVerifyPeer(TNetX509 *certificate, bool aOk)
{
    return OnVerifyPeer ? OnVerifyPeer(certificate, aOk) : aOk;
}

// --- registry ---

std::vector<TNetSSLRegEntry> &NetSSLRegistry()
{
    static std::vector<TNetSSLRegEntry> registry = {
        {"OpenSSL", "3", "https://www.openssl.org/",
         "TLS through the system's OpenSSL libraries, loaded at first use",
         "Apache License 2.0", "TNetSSLIOHandlerSocketOpenSSL", "TNetServerIOHandlerSSLOpenSSL"},
    };
    return registry;
}

