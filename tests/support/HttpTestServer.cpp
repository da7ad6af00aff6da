#include "HttpTestServer.h"

#include <csignal>
#include <cstdlib>
#include <vector>

#include "ChildProcess.h"

HttpTestServer::HttpTestServer(const std::string &root, const std::string &certFile,
                               const std::string &keyFile)
    : FTls(!certFile.empty()) {
    // A proxy named in the environment must not see loopback test traffic.
    ::setenv("no_proxy", "127.0.0.1,::1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,::1,localhost", 1);
    std::vector<std::string> args = {PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/http_peer.py",
                                     "--root", root};
    if (FTls) args.insert(args.end(), {"--cert", certFile, "--key", keyFile});
    // The peer binds a free port itself and names it, so no other process
    // can take the port between choosing and binding it.
    FPid = StartPeerProcess(args, "PORT ", FPort, 15000);
}

HttpTestServer::~HttpTestServer() { StopPeerProcess(FPid, SIGTERM); }

std::string HttpTestServer::Url(const std::string &path) const {
    return std::string(FTls ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string HttpPatternBytes(size_t count, size_t offset) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) s[i] = char((offset + i) % 251);
    return s;
}
