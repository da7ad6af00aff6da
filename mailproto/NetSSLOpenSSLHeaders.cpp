#include "NetSSLOpenSSLHeaders.h"

#include "SysUtils.h"

#include <dlfcn.h>
#include <mutex>

TOpenSSLEntryPoints OSSL{};

namespace {

std::mutex gLoadLock;
void *gSSLHandle = nullptr;
void *gCryptoHandle = nullptr;
bool gBound = false;
std::string gSSLName = "libssl.so.3";
std::string gCryptoName = "libcrypto.so.3";
std::string gLoadError;

// --- routines that stand in for entry points OpenSSL 3 no longer exports ---

int ShimLoadErrorStrings()
{
    return OSSL.OPENSSL_init_ssl(OSSL_OPENSSL_INIT_LOAD_SSL_STRINGS |
                                     OSSL_OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                                 nullptr);
}

int ShimLibraryInit() { return OSSL.OPENSSL_init_ssl(0, nullptr); }

X509 *ShimGetPeerCertificate(const SSL *s) { return OSSL.SSL_get1_peer_certificate(s); }

// The session that a verification belongs to is stored under the index that
// libssl reserves for it, not under index 0.
void *ShimStoreCtxGetAppData(X509_STORE_CTX *ctx)
{
    return OSSL.X509_STORE_CTX_get_ex_data(ctx, OSSL.SSL_get_ex_data_X509_STORE_CTX_idx());
}

// A context has no single protocol version any more; its floor is the
// nearest thing to the version the classic helper reported (0: no floor).
int ShimCtxGetVersion(SSL_CTX *ctx)
{
    return int(OSSL.SSL_CTX_ctrl(ctx, OSSL_SSL_CTRL_GET_MIN_PROTO_VERSION, 0, nullptr));
}

unsigned long ShimNameHash(const X509_NAME *name)
{
    return OSSL.X509_NAME_hash_ex(name, nullptr, nullptr, nullptr);
}

// OpenSSL 3 does its own locking and knows its threads.
int ShimNumLocks() { return 1; }
void ShimSetLockingCallback(TOpenSSLLockingCallback) {}
void ShimSetIdCallback(TOpenSSLIdCallback) {}
// Error strings are loaded on demand and freed at exit by the library.
int ShimLoadStrings() { return 1; }
void ShimFreeStrings() {}

enum TLib { libSSL, libCrypto };

struct TEntry {
    TLib Lib;
    void **Ref;
    const char *Name;  // looked up first; nullptr: always the stand-in
    void *Shim;        // used when the name is not exported
    bool Required;
};

template <typename F>
void **RefOf(F &f)
{
    return reinterpret_cast<void **>(&f);
}

template <typename F>
void *ShimOf(F f)
{
    return reinterpret_cast<void *>(f);
}

#define REQ(lib, member) {lib, RefOf(OSSL.member), #member, nullptr, true}
#define OPT(lib, member) {lib, RefOf(OSSL.member), #member, nullptr, false}
#define FROM(lib, member, name, req) {lib, RefOf(OSSL.member), name, nullptr, req}
#define SHIM(lib, member, name, shim) {lib, RefOf(OSSL.member), name, ShimOf(shim), true}

// Entries that other stand-ins call come before those stand-ins; the order
// does not matter for binding, only for reading.
const TEntry kEntries[] = {
    REQ(libSSL, SSL_CTX_set_cipher_list),
    REQ(libSSL, SSL_CTX_new),
    REQ(libSSL, SSL_CTX_free),
    REQ(libSSL, SSL_set_fd),
    REQ(libSSL, SSL_CTX_use_PrivateKey_file),
    REQ(libSSL, SSL_CTX_use_certificate_file),
    REQ(libSSL, OPENSSL_init_ssl),
    SHIM(libSSL, SSL_load_error_strings, nullptr, ShimLoadErrorStrings),
    REQ(libSSL, SSL_state_string_long),
    REQ(libSSL, SSL_get1_peer_certificate),
    SHIM(libSSL, SSL_get_peer_certificate, nullptr, ShimGetPeerCertificate),
    REQ(libSSL, SSL_CTX_set_verify),
    REQ(libSSL, SSL_CTX_set_verify_depth),
    REQ(libSSL, SSL_CTX_get_verify_depth),
    REQ(libSSL, SSL_CTX_set_default_passwd_cb),
    REQ(libSSL, SSL_CTX_set_default_passwd_cb_userdata),
    REQ(libSSL, SSL_CTX_check_private_key),
    REQ(libSSL, SSL_new),
    REQ(libSSL, SSL_free),
    REQ(libSSL, SSL_accept),
    REQ(libSSL, SSL_connect),
    REQ(libSSL, SSL_read),
    REQ(libSSL, SSL_peek),
    REQ(libSSL, SSL_write),
    REQ(libSSL, SSL_get_error),
    OPT(libSSL, SSLv2_method),
    OPT(libSSL, SSLv2_server_method),
    OPT(libSSL, SSLv2_client_method),
    OPT(libSSL, SSLv3_method),
    OPT(libSSL, SSLv3_server_method),
    OPT(libSSL, SSLv3_client_method),
    FROM(libSSL, SSLv23_method, "TLS_method", true),
    FROM(libSSL, SSLv23_server_method, "TLS_server_method", true),
    FROM(libSSL, SSLv23_client_method, "TLS_client_method", true),
    OPT(libSSL, TLSv1_method),
    OPT(libSSL, TLSv1_server_method),
    OPT(libSSL, TLSv1_client_method),
    REQ(libSSL, TLS_method),
    REQ(libSSL, TLS_server_method),
    REQ(libSSL, TLS_client_method),
    REQ(libSSL, SSL_shutdown),
    REQ(libSSL, SSL_set_connect_state),
    REQ(libSSL, SSL_set_accept_state),
    REQ(libSSL, SSL_set_shutdown),
    REQ(libSSL, SSL_CTX_load_verify_locations),
    REQ(libSSL, SSL_get_session),
    SHIM(libSSL, SSL_library_init, nullptr, ShimLibraryInit),
    FROM(libSSL, SSL_CTX_set_info_callback_suite, "SSL_CTX_set_info_callback", true),
    SHIM(libSSL, X509_STORE_CTX_get_app_data_suite, nullptr, ShimStoreCtxGetAppData),
    FROM(libSSL, SSL_SESSION_get_id_suite, "SSL_SESSION_get_id", true),
    FROM(libSSL, SSL_SESSION_get_id_ctx_suite, "SSL_SESSION_get0_id_context", true),
    SHIM(libSSL, SSL_CTX_get_version_suite, nullptr, ShimCtxGetVersion),
    FROM(libSSL, SSL_CTX_set_options_suite, "SSL_CTX_set_options", true),
    REQ(libSSL, SSL_set_ex_data),
    REQ(libSSL, SSL_get_ex_data),
    REQ(libSSL, SSL_load_client_CA_file),
    REQ(libSSL, SSL_CTX_set_client_CA_list),
    REQ(libSSL, SSL_CTX_set_default_verify_paths),
    REQ(libSSL, SSL_CTX_set_session_id_context),
    REQ(libSSL, SSL_CIPHER_description),
    REQ(libSSL, SSL_get_current_cipher),
    REQ(libSSL, SSL_CIPHER_get_name),
    REQ(libSSL, SSL_CIPHER_get_version),
    REQ(libSSL, SSL_CIPHER_get_bits),
    REQ(libSSL, SSL_ctrl),
    REQ(libSSL, SSL_CTX_ctrl),
    REQ(libSSL, SSL_pending),
    REQ(libSSL, SSL_set1_host),
    REQ(libSSL, SSL_get_verify_result),
    REQ(libSSL, SSL_get_ex_data_X509_STORE_CTX_idx),
    REQ(libSSL, SSL_get0_param),

    REQ(libCrypto, X509_NAME_oneline),
    OPT(libCrypto, X509_NAME_hash_ex),
    REQ(libCrypto, X509_set_issuer_name),
    REQ(libCrypto, X509_get_issuer_name),
    REQ(libCrypto, X509_set_subject_name),
    REQ(libCrypto, X509_get_subject_name),
    OPT(libCrypto, X509_digest),
    OPT(libCrypto, EVP_md5),
    REQ(libCrypto, X509_STORE_CTX_get_error),
    REQ(libCrypto, X509_STORE_CTX_set_error),
    REQ(libCrypto, X509_STORE_CTX_get_error_depth),
    REQ(libCrypto, X509_STORE_CTX_get_current_cert),
    OPT(libCrypto, RAND_screen),
    FROM(libCrypto, des_set_odd_parity, "DES_set_odd_parity", false),
    FROM(libCrypto, des_set_key, "DES_set_key", false),
    FROM(libCrypto, des_ecb_encrypt, "DES_ecb_encrypt", false),
    SHIM(libCrypto, CRYPTO_num_locks, "CRYPTO_num_locks", ShimNumLocks),
    SHIM(libCrypto, CRYPTO_set_locking_callback, "CRYPTO_set_locking_callback",
         ShimSetLockingCallback),
    SHIM(libCrypto, CRYPTO_set_id_callback, "CRYPTO_set_id_callback", ShimSetIdCallback),
    REQ(libCrypto, ERR_get_error),
    REQ(libCrypto, ERR_peek_error),
    REQ(libCrypto, ERR_clear_error),
    REQ(libCrypto, ERR_error_string),
    REQ(libCrypto, ERR_error_string_n),
    REQ(libCrypto, ERR_lib_error_string),
    REQ(libCrypto, ERR_func_error_string),
    REQ(libCrypto, ERR_reason_error_string),
    SHIM(libCrypto, ERR_load_ERR_strings, "ERR_load_ERR_strings", ShimLoadStrings),
    SHIM(libCrypto, ERR_load_CRYPTO_strings, "ERR_load_CRYPTO_strings", ShimLoadStrings),
    SHIM(libCrypto, ERR_free_strings, "ERR_free_strings", ShimFreeStrings),
    REQ(libCrypto, X509_free),
    REQ(libCrypto, X509_STORE_CTX_get_ex_data),
    REQ(libCrypto, X509_verify_cert_error_string),
    REQ(libCrypto, X509_get0_notBefore),
    REQ(libCrypto, X509_get0_notAfter),
    REQ(libCrypto, X509_VERIFY_PARAM_set1_ip_asc),
    FROM(libCrypto, X509_get_notBefore_suite, "X509_get0_notBefore", true),
    FROM(libCrypto, X509_get_notAfter_suite, "X509_get0_notAfter", true),
};

#undef REQ
#undef OPT
#undef FROM
#undef SHIM

void *OpenLibrary(const std::string &name)
{
    // The updater installs the libraries into the program folder; a copy
    // there wins over the system's.
    if (name.find('/') == std::string::npos) {
        std::string local = ApplicationFolder() + name;
        if (FileExists(local)) {
            if (void *h = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL))
                return h;
        }
    }
    void *h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h && gLoadError.empty()) {
        const char *why = dlerror();
        gLoadError = why ? why : name + ": cannot be loaded";
    }
    return h;
}

void ClearTable() { OSSL = TOpenSSLEntryPoints{}; }

bool BindTable()
{
    bool ok = true;
    for (const TEntry &e : kEntries) {
        void *handle = e.Lib == libSSL ? gSSLHandle : gCryptoHandle;
        void *addr = nullptr;
        if (handle && e.Name)
            addr = dlsym(handle, e.Name);
        // A stand-in works only on top of a loaded library.
        if (!addr && e.Shim && handle)
            addr = e.Shim;
        *e.Ref = addr;
        if (!addr && e.Required) {
            if (ok && gLoadError.empty() && handle)
                gLoadError = std::string("entry point ") + (e.Name ? e.Name : "?") +
                             " not found in " + (e.Lib == libSSL ? gSSLName : gCryptoName);
            ok = false;
        }
    }
    // The name hash became a routine with more arguments.
    if (!OSSL.X509_NAME_hash && OSSL.X509_NAME_hash_ex)
        OSSL.X509_NAME_hash = ShimNameHash;
    return ok;
}

}  // namespace

bool LoadOpenSSLLibrary()
{
    std::lock_guard<std::mutex> lock(gLoadLock);
    if (gBound)
        return true;
    gLoadError.clear();
    // libcrypto first, so that a copy in the program folder is the one
    // libssl binds to.
    if (!gCryptoHandle)
        gCryptoHandle = OpenLibrary(gCryptoName);
    if (!gSSLHandle)
        gSSLHandle = OpenLibrary(gSSLName);
    gBound = BindTable();
    if (!gBound)
        ClearTable();  // never leave a half-bound table for callers to trip on
    return gBound;
}

void UnloadOpenSSLLibrary()
{
    std::lock_guard<std::mutex> lock(gLoadLock);
    gBound = false;
    ClearTable();
    if (gSSLHandle)
        dlclose(gSSLHandle);
    if (gCryptoHandle)
        dlclose(gCryptoHandle);
    gSSLHandle = nullptr;
    gCryptoHandle = nullptr;
}

std::string OpenSSLLoadErrorText()
{
    std::lock_guard<std::mutex> lock(gLoadLock);
    return gLoadError;
}

bool OpenSSLLibraryLoaded()
{
    std::lock_guard<std::mutex> lock(gLoadLock);
    return gBound;
}

int SSLSetAppData(SSL *s, void *data) { return OSSL.SSL_set_ex_data(s, 0, data); }

void *SSLGetAppData(const SSL *s) { return OSSL.SSL_get_ex_data(s, 0); }

void SSLRandomSeed()
{
    if (OSSL.RAND_screen)
        OSSL.RAND_screen();
}

std::string OpenSSLErrorText()
{
    if (!OSSL.ERR_get_error)
        return std::string();
    unsigned long code = OSSL.ERR_get_error();
    std::string text;
    if (code != 0) {
        const char *reason = OSSL.ERR_reason_error_string(code);
        if (reason && *reason) {
            text = reason;
        } else {
            char buf[256];
            OSSL.ERR_error_string_n(code, buf, sizeof buf);
            text = buf;
        }
    }
    OSSL.ERR_clear_error();
    return text;
}

void SetOpenSSLLibraryNames(const std::string &sslName, const std::string &cryptoName)
{
    std::lock_guard<std::mutex> lock(gLoadLock);
    gSSLName = sslName;
    gCryptoName = cryptoName;
}
