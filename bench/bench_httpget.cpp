// Download rate of THTTPGet beside the curl program's, from the same loopback
// server in the same run. Usage: bench_httpget [megabytes] [rounds]
// (200 and 3 by default). Prints both rates and their ratio; exits 1 when
// THTTPGet stays below half of curl's rate.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "SysUtils.h"
#include "TestSupport.h"

extern char **environ;

namespace {

// Seconds the curl program needs for url into file, or -1 when it fails.
double TimeCurl(const std::string &url, const std::string &file) {
    std::string out = file;
    std::string u = url;
    char *argv[] = {const_cast<char *>("curl"), const_cast<char *>("-s"), const_cast<char *>("-f"),
                    const_cast<char *>("-o"), out.data(), u.data(), nullptr};
    QElapsedTimer t;
    t.start();
    pid_t pid;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    double s = double(t.nsecsElapsed()) / 1e9;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

double TimeHTTPGet(const std::string &url, const std::string &file) {
    THTTPGet get;
    get.BinaryData = true;
    get.URL = url;
    get.FileName = file;
    bool ok = false, done = false;
    int64_t lastProgress = 0;
    get.OnProgress = [&](THTTPGet *, int64_t, int64_t readed) { lastProgress = readed; };
    get.OnDoneFile = [&](THTTPGet *, const std::string &, int64_t) { ok = done = true; };
    get.OnError = [&](THTTPGet *) { done = true; };
    QElapsedTimer t;
    t.start();
    get.StartFileDownload();
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    double s = double(t.nsecsElapsed()) / 1e9;
    if (!ok) std::fprintf(stderr, "THTTPGet failed: %s\n", get.LastErrorText().c_str());
    return ok ? s : -1;
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int megabytes = argc > 1 ? std::atoi(argv[1]) : 200;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (megabytes <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: bench_httpget [megabytes] [rounds]\n");
        return 2;
    }
    int64_t size = int64_t(megabytes) << 20;

    TempDir dir;
    HttpTestServer server(dir.Path());
    std::string url = server.Url("/_big?size=" + std::to_string(size));

    double bestCurl = 1e30, bestOwn = 1e30;
    for (int r = 0; r < rounds; ++r) {
        double c = TimeCurl(url, dir.File("curl.bin"));
        double o = TimeHTTPGet(url, dir.File("own.bin"));
        if (c < 0 || o < 0) {
            std::fprintf(stderr, "round %d failed (curl %.3f s, THTTPGet %.3f s)\n", r + 1, c, o);
            return 2;
        }
        if (FileSize(dir.File("own.bin")) != size || FileSize(dir.File("curl.bin")) != size) {
            std::fprintf(stderr, "round %d: wrong file size\n", r + 1);
            return 2;
        }
        std::printf("round %d: curl %.3f s, THTTPGet %.3f s\n", r + 1, c, o);
        if (c < bestCurl) bestCurl = c;
        if (o < bestOwn) bestOwn = o;
        DeleteFile(dir.File("curl.bin"));
        DeleteFile(dir.File("own.bin"));
    }
    double mb = double(size) / (1 << 20);
    double curlRate = mb / bestCurl, ownRate = mb / bestOwn;
    std::printf("%d MB from 127.0.0.1, best of %d:\n", megabytes, rounds);
    std::printf("  curl      %8.1f MB/s\n", curlRate);
    std::printf("  THTTPGet  %8.1f MB/s  (%.0f%% of curl)\n", ownRate, 100.0 * ownRate / curlRate);
    return ownRate >= curlRate / 2 ? 0 : 1;
}
