// A real HTTP server on 127.0.0.1 for tests: tests/support/http_peer.py,
// started on a free port by the constructor and stopped by the destructor.
// It serves the files of a folder and scripted misbehaving paths (see the
// script's header): /_lie, /_stall, /_status, /_redirect, /_trickle,
// /_nolength, /_big, /_echo, /_auth, /_silent. Bodies of scripted paths
// follow HttpPatternBytes.
#pragma once

#include <string>
#include <sys/types.h>

class HttpTestServer {
public:
    // root: the folder whose files are served. With certFile/keyFile the
    // server speaks TLS (https://) with that certificate.
    explicit HttpTestServer(const std::string &root, const std::string &certFile = "",
                            const std::string &keyFile = "");
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer &) = delete;
    HttpTestServer &operator=(const HttpTestServer &) = delete;

    int Port() const { return FPort; }
    // "http://127.0.0.1:<port>" + path (or https:// for a TLS server).
    std::string Url(const std::string &path) const;

private:
    pid_t FPid = -1;
    int FPort = 0;
    bool FTls = false;
};

// count bytes of the scripted body pattern, byte(i) = i % 251, from offset.
std::string HttpPatternBytes(size_t count, size_t offset = 0);
