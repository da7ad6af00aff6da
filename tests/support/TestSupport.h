// Fixtures shared by the test programs.
#pragma once

#include <string>

// A fresh private folder under the build tree, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return FPath; }  // with a trailing "/"
    std::string File(const std::string &name) const { return FPath + name; }

private:
    std::string FPath;
};

// Writes bytes to a file (creating folders), for building test inputs.
void WriteTestFile(const std::string &path, const std::string &bytes);
// The whole file, or "" when it cannot be read (logs that may not exist yet).
std::string ReadTestFile(const std::string &path);
// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// A socket listening on 127.0.0.1 on a port the system picks, stored in
// port; throws std::runtime_error when it cannot listen.
int ListenLoopback(int &port, int backlog = 8);
// A socket connected to host ("127.0.0.1" or "::1") and port, or -1.
int ConnectLoopback(const std::string &host, int port);
// The folder of test data files in the source tree, with a trailing "/".
std::string TestDataDir();

// The text of the E that call throws, or "(no exception)". The call runs
// once, so a failed check shows what really happened; any other exception
// passes on and fails the test.
template <class E, class F>
std::string Thrown(F &&call) {
    try {
        call();
    } catch (const E &e) {
        return e.what();
    }
    return "(no exception)";
}

// Sets (or, with unset, removes) an environment variable for the life of the
// object; the old value comes back after.
class TEnvVar {
public:
    TEnvVar(const char *name, const std::string &value, bool unset = false);
    ~TEnvVar();
    TEnvVar(const TEnvVar &) = delete;
    TEnvVar &operator=(const TEnvVar &) = delete;

private:
    const char *FName;
    bool FHad = false;
    std::string FOld;
};
