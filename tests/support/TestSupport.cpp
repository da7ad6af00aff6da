#include "TestSupport.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

TempDir::TempDir() {
    std::string base = std::string(TW_BINARY_DIR) + "/testtmp";
    std::filesystem::create_directories(base);
    std::string tmpl = base + "/tXXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    FPath = tmpl + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

void WriteTestFile(const std::string &path, const std::string &bytes) {
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadTestFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

int ConnectLoopback(const std::string &host, int port) {
    sockaddr_in6 a6{};
    sockaddr_in a4{};
    const bool v6 = inet_pton(AF_INET6, host.c_str(), &a6.sin6_addr) == 1;
    a6.sin6_family = AF_INET6;
    a6.sin6_port = a4.sin_port = htons(uint16_t(port));
    a4.sin_family = AF_INET;
    inet_pton(AF_INET, host.c_str(), &a4.sin_addr);
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && (v6 ? ::connect(fd, reinterpret_cast<sockaddr *>(&a6), sizeof a6)
                       : ::connect(fd, reinterpret_cast<sockaddr *>(&a4), sizeof a4)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ListenLoopback(int &port, int backlog) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(a.sin_port);
    return fd;
}

int FreeLoopbackPort() {
    int port = 0;
    ::close(ListenLoopback(port, 1));
    return port;
}

std::string TestDataDir() { return std::string(TW_SOURCE_DIR) + "/tests/data/"; }

TEnvVar::TEnvVar(const char *name, const std::string &value, bool unset) : FName(name) {
    const char *old = std::getenv(name);
    FHad = old != nullptr;
    if (FHad) FOld = old;
    if (unset) ::unsetenv(name);
    else ::setenv(name, value.c_str(), 1);
}

TEnvVar::~TEnvVar() {
    if (FHad) ::setenv(FName, FOld.c_str(), 1);
    else ::unsetenv(FName);
}
