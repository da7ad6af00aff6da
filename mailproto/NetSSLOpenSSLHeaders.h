// Run-time binding of the OpenSSL libraries.
//
// The program never links libssl: the two libraries are loaded by name the
// first time a TLS context is made, and every entry point the TLS layer calls
// is looked up by name into the table `OSSL`. Without the libraries the rest
// of the program works; only TLS connections fail.
//
// The table keeps the names of the classic interface. Where OpenSSL 3 turned
// a function into a macro, renamed it or dropped it, the table entry is filled
// by a small routine of ours built on what OpenSSL 3 does export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Opaque OpenSSL types, declared with OpenSSL's own tags so that a unit that
// also includes the OpenSSL headers still compiles.
typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_method_st SSL_METHOD;
typedef struct ssl_cipher_st SSL_CIPHER;
typedef struct ssl_session_st SSL_SESSION;
typedef struct x509_st X509;
typedef struct X509_name_st X509_NAME;
typedef struct x509_store_ctx_st X509_STORE_CTX;
typedef struct evp_md_st EVP_MD;
typedef struct asn1_string_st ASN1_TIME;
typedef struct X509_VERIFY_PARAM_st X509_VERIFY_PARAM;
struct stack_st_X509_NAME;

// Constants of the OpenSSL 3 interface that the TLS layer uses.
constexpr int OSSL_SSL_ERROR_NONE = 0;
constexpr int OSSL_SSL_ERROR_SSL = 1;
constexpr int OSSL_SSL_ERROR_WANT_READ = 2;
constexpr int OSSL_SSL_ERROR_WANT_WRITE = 3;
constexpr int OSSL_SSL_ERROR_SYSCALL = 5;
constexpr int OSSL_SSL_ERROR_ZERO_RETURN = 6;
constexpr int OSSL_SSL_FILETYPE_PEM = 1;
constexpr int OSSL_SSL_VERIFY_NONE = 0;
constexpr int OSSL_SSL_VERIFY_PEER = 1;
constexpr int OSSL_SSL_CTRL_OPTIONS = 32;
constexpr int OSSL_SSL_CTRL_MODE = 33;
constexpr int OSSL_SSL_CTRL_CLEAR_MODE = 78;
constexpr int OSSL_SSL_CTRL_SET_TLSEXT_HOSTNAME = 55;
constexpr int OSSL_SSL_CTRL_SET_MIN_PROTO_VERSION = 123;
constexpr int OSSL_SSL_CTRL_GET_MIN_PROTO_VERSION = 130;
constexpr int OSSL_TLSEXT_NAMETYPE_host_name = 0;
constexpr int OSSL_TLS1_VERSION = 0x0301;
constexpr int OSSL_TLS1_2_VERSION = 0x0303;
constexpr uint64_t OSSL_SSL_OP_IGNORE_UNEXPECTED_EOF = uint64_t(1) << 7;
// Error codes: the library in bits 23-30, the reason in bits 0-22; bit 31
// marks an operating system error.
constexpr unsigned long OSSL_ERR_SYSTEM_FLAG = 0x80000000UL;
constexpr int OSSL_ERR_LIB_OFFSET = 23;
constexpr unsigned long OSSL_ERR_LIB_MASK = 0xFF;
constexpr unsigned long OSSL_ERR_REASON_MASK = 0x7FFFFF;
constexpr int OSSL_ERR_LIB_SSL = 20;
constexpr int OSSL_SSL_R_UNEXPECTED_EOF_WHILE_READING = 294;
constexpr long OSSL_SSL_MODE_ENABLE_PARTIAL_WRITE = 0x1;
constexpr long OSSL_SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER = 0x2;
constexpr long OSSL_SSL_MODE_AUTO_RETRY = 0x4;
constexpr uint64_t OSSL_OPENSSL_INIT_LOAD_CRYPTO_STRINGS = 0x00000002;
constexpr uint64_t OSSL_OPENSSL_INIT_LOAD_SSL_STRINGS = 0x00200000;
constexpr int OSSL_X509_V_OK = 0;

typedef int (*TOpenSSLPasswordCallback)(char *buf, int size, int rwflag, void *userdata);
typedef int (*TOpenSSLVerifyCallback)(int preverify_ok, X509_STORE_CTX *ctx);
typedef void (*TOpenSSLInfoCallback)(const SSL *ssl, int where, int ret);
typedef void (*TOpenSSLLockingCallback)(int mode, int n, const char *file, int line);
typedef unsigned long (*TOpenSSLIdCallback)();

// One reference per entry point; null until bound. The member names are the
// entry points' names.
struct TOpenSSLEntryPoints {
    // --- the TLS library ---
    int (*SSL_CTX_set_cipher_list)(SSL_CTX *, const char *);
    SSL_CTX *(*SSL_CTX_new)(const SSL_METHOD *);
    void (*SSL_CTX_free)(SSL_CTX *);
    int (*SSL_set_fd)(SSL *, int);
    int (*SSL_CTX_use_PrivateKey_file)(SSL_CTX *, const char *, int);
    int (*SSL_CTX_use_certificate_file)(SSL_CTX *, const char *, int);
    int (*SSL_load_error_strings)();
    const char *(*SSL_state_string_long)(const SSL *);
    // Returns a reference the caller owns: release it with X509_free.
    X509 *(*SSL_get_peer_certificate)(const SSL *);
    void (*SSL_CTX_set_verify)(SSL_CTX *, int, TOpenSSLVerifyCallback);
    void (*SSL_CTX_set_verify_depth)(SSL_CTX *, int);
    int (*SSL_CTX_get_verify_depth)(const SSL_CTX *);
    void (*SSL_CTX_set_default_passwd_cb)(SSL_CTX *, TOpenSSLPasswordCallback);
    void (*SSL_CTX_set_default_passwd_cb_userdata)(SSL_CTX *, void *);
    int (*SSL_CTX_check_private_key)(const SSL_CTX *);
    SSL *(*SSL_new)(SSL_CTX *);
    void (*SSL_free)(SSL *);
    int (*SSL_accept)(SSL *);
    int (*SSL_connect)(SSL *);
    int (*SSL_read)(SSL *, void *, int);
    int (*SSL_peek)(SSL *, void *, int);
    int (*SSL_write)(SSL *, const void *, int);
    int (*SSL_get_error)(const SSL *, int);
    // Method functions. The SSL version 2 and 3 methods no longer exist and
    // stay null; the SSLv23 family is the general TLS method of today.
    const SSL_METHOD *(*SSLv2_method)();
    const SSL_METHOD *(*SSLv2_server_method)();
    const SSL_METHOD *(*SSLv2_client_method)();
    const SSL_METHOD *(*SSLv3_method)();
    const SSL_METHOD *(*SSLv3_server_method)();
    const SSL_METHOD *(*SSLv3_client_method)();
    const SSL_METHOD *(*SSLv23_method)();
    const SSL_METHOD *(*SSLv23_server_method)();
    const SSL_METHOD *(*SSLv23_client_method)();
    const SSL_METHOD *(*TLSv1_method)();
    const SSL_METHOD *(*TLSv1_server_method)();
    const SSL_METHOD *(*TLSv1_client_method)();
    int (*SSL_shutdown)(SSL *);
    void (*SSL_set_connect_state)(SSL *);
    void (*SSL_set_accept_state)(SSL *);
    void (*SSL_set_shutdown)(SSL *, int);
    int (*SSL_CTX_load_verify_locations)(SSL_CTX *, const char *, const char *);
    SSL_SESSION *(*SSL_get_session)(const SSL *);
    int (*SSL_library_init)();
    // The helpers that the classic builds exported with a "_suite" suffix.
    void (*SSL_CTX_set_info_callback_suite)(SSL_CTX *, TOpenSSLInfoCallback);
    void *(*X509_STORE_CTX_get_app_data_suite)(X509_STORE_CTX *);
    const unsigned char *(*SSL_SESSION_get_id_suite)(const SSL_SESSION *, unsigned int *);
    const unsigned char *(*SSL_SESSION_get_id_ctx_suite)(const SSL_SESSION *, unsigned int *);
    int (*SSL_CTX_get_version_suite)(SSL_CTX *);
    uint64_t (*SSL_CTX_set_options_suite)(SSL_CTX *, uint64_t);
    const ASN1_TIME *(*X509_get_notBefore_suite)(const X509 *);
    const ASN1_TIME *(*X509_get_notAfter_suite)(const X509 *);
    int (*SSL_set_ex_data)(SSL *, int, void *);
    void *(*SSL_get_ex_data)(const SSL *, int);
    stack_st_X509_NAME *(*SSL_load_client_CA_file)(const char *);
    void (*SSL_CTX_set_client_CA_list)(SSL_CTX *, stack_st_X509_NAME *);
    int (*SSL_CTX_set_default_verify_paths)(SSL_CTX *);
    int (*SSL_CTX_set_session_id_context)(SSL_CTX *, const unsigned char *, unsigned int);
    char *(*SSL_CIPHER_description)(const SSL_CIPHER *, char *, int);
    const SSL_CIPHER *(*SSL_get_current_cipher)(const SSL *);
    const char *(*SSL_CIPHER_get_name)(const SSL_CIPHER *);
    const char *(*SSL_CIPHER_get_version)(const SSL_CIPHER *);
    int (*SSL_CIPHER_get_bits)(const SSL_CIPHER *, int *);
    // OpenSSL 3 entry points that the classic table lacked: the controls
    // behind the old macros, decrypted-but-unread data, host checking.
    long (*SSL_ctrl)(SSL *, int, long, void *);
    long (*SSL_CTX_ctrl)(SSL_CTX *, int, long, void *);
    int (*SSL_pending)(const SSL *);
    int (*SSL_set1_host)(SSL *, const char *);
    long (*SSL_get_verify_result)(const SSL *);
    int (*SSL_get_ex_data_X509_STORE_CTX_idx)();
    const SSL_METHOD *(*TLS_method)();
    const SSL_METHOD *(*TLS_server_method)();
    const SSL_METHOD *(*TLS_client_method)();
    int (*OPENSSL_init_ssl)(uint64_t, const void *);
    X509 *(*SSL_get1_peer_certificate)(const SSL *);
    X509_VERIFY_PARAM *(*SSL_get0_param)(SSL *);

    // --- the crypto library ---
    char *(*X509_NAME_oneline)(const X509_NAME *, char *, int);
    unsigned long (*X509_NAME_hash)(const X509_NAME *);
    int (*X509_set_issuer_name)(X509 *, const X509_NAME *);
    X509_NAME *(*X509_get_issuer_name)(const X509 *);
    int (*X509_set_subject_name)(X509 *, const X509_NAME *);
    X509_NAME *(*X509_get_subject_name)(const X509 *);
    int (*X509_digest)(const X509 *, const EVP_MD *, unsigned char *, unsigned int *);
    const EVP_MD *(*EVP_md5)();
    int (*X509_STORE_CTX_get_error)(const X509_STORE_CTX *);
    void (*X509_STORE_CTX_set_error)(X509_STORE_CTX *, int);
    int (*X509_STORE_CTX_get_error_depth)(const X509_STORE_CTX *);
    X509 *(*X509_STORE_CTX_get_current_cert)(const X509_STORE_CTX *);
    void (*RAND_screen)();
    void (*des_set_odd_parity)(unsigned char (*)[8]);
    int (*des_set_key)(const unsigned char (*)[8], void *);
    void (*des_ecb_encrypt)(const unsigned char (*)[8], unsigned char (*)[8], void *, int);
    int (*CRYPTO_num_locks)();
    void (*CRYPTO_set_locking_callback)(TOpenSSLLockingCallback);
    void (*CRYPTO_set_id_callback)(TOpenSSLIdCallback);
    unsigned long (*ERR_get_error)();
    unsigned long (*ERR_peek_error)();
    void (*ERR_clear_error)();
    char *(*ERR_error_string)(unsigned long, char *);
    void (*ERR_error_string_n)(unsigned long, char *, size_t);
    const char *(*ERR_lib_error_string)(unsigned long);
    const char *(*ERR_func_error_string)(unsigned long);
    const char *(*ERR_reason_error_string)(unsigned long);
    int (*ERR_load_ERR_strings)();
    int (*ERR_load_CRYPTO_strings)();
    void (*ERR_free_strings)();
    // OpenSSL 3 additions on the crypto side.
    void (*X509_free)(X509 *);
    void *(*X509_STORE_CTX_get_ex_data)(const X509_STORE_CTX *, int);
    const char *(*X509_verify_cert_error_string)(long);
    unsigned long (*X509_NAME_hash_ex)(const X509_NAME *, void *, const char *, int *);
    const ASN1_TIME *(*X509_get0_notBefore)(const X509 *);
    const ASN1_TIME *(*X509_get0_notAfter)(const X509 *);
    int (*X509_VERIFY_PARAM_set1_ip_asc)(X509_VERIFY_PARAM *, const char *);
};

extern TOpenSSLEntryPoints OSSL;

// Loads both libraries and binds the table. True only when every required
// entry point is bound; a later call after a failure tries again and never
// reports success while a required reference is null.
bool LoadOpenSSLLibrary();
// Clears the table and releases both libraries. Harmless when nothing is
// loaded, and harmless twice.
void UnloadOpenSSLLibrary();
// Why the last load failed (the loader's message, or the first missing
// required entry point); empty after a successful load.
std::string OpenSSLLoadErrorText();
// True while the table is fully bound.
bool OpenSSLLibraryLoaded();

// Application data of a session (ex-data index 0).
int SSLSetAppData(SSL *s, void *data);
void *SSLGetAppData(const SSL *s);
// Seeds the random generator from the screen where the library offers it;
// OpenSSL 3 seeds itself, so this is usually nothing.
void SSLRandomSeed();

// The text of the oldest error on this thread's OpenSSL error queue
// (empty when the queue is empty); the queue is emptied.
std::string OpenSSLErrorText();

// The names the libraries are loaded by ("libssl.so.3", "libcrypto.so.3").
// Tests point them elsewhere to see a missing library fail cleanly; a name
// without "/" is looked up in the program folder first, then on the
// system's library path.
void SetOpenSSLLibraryNames(const std::string &sslName, const std::string &cryptoName);
