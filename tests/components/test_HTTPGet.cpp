// THTTPGet against a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <string>
#include <vector>

#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "OpenSSLServer.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "TestSupport.h"

namespace {

// Records every event of one component.
struct Recorder {
    std::vector<std::pair<int64_t, int64_t>> progress;
    int done = 0, errors = 0, strings = 0;
    std::string doneName, text;
    int64_t doneSize = -1;

    void Attach(THTTPGet &g) {
        g.OnProgress = [this](THTTPGet *, int64_t total, int64_t readed) {
            progress.emplace_back(total, readed);
        };
        g.OnDoneFile = [this](THTTPGet *, const std::string &name, int64_t size) {
            ++done;
            doneName = name;
            doneSize = size;
        };
        g.OnDoneString = [this](THTTPGet *, const std::string &t) {
            ++strings;
            text = t;
        };
        g.OnError = [this](THTTPGet *) { ++errors; };
    }
    int Finished() const { return done + errors + strings; }
};

class HTTPGetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureQApplication(); }
    void SetUp() override {
        WriteTestFile(Www.File("file.bin"), HttpPatternBytes(1000));
        WriteTestFile(Www.File("index.html"), "<html>hello</html>");
        Server = std::make_unique<HttpTestServer>(Www.Path());
        Fresh();
    }
    // A new component for binary data, its events recorded.
    void Fresh() {
        Get = std::make_unique<THTTPGet>();
        Get->BinaryData = true;
        Reset();
    }
    void TearDown() override {
        Get.reset();
        Server.reset();
    }
    void StartFile(const std::string &url, const std::string &name = "target.bin") {
        Get->URL = url;
        Get->FileName = Out.File(name);
        Get->StartFileDownload();
    }
    // Starts a file download of url into Out/name and waits for its end.
    void FetchFile(const std::string &url, const std::string &name = "target.bin") {
        StartFile(url, name);
        ASSERT_TRUE(ProcessEventsUntil([&] { return Rec.Finished() > 0; }, 20000));
    }
    void FetchString(const std::string &url) {
        Get->URL = url;
        Get->StartStringDownload();
        ASSERT_TRUE(ProcessEventsUntil([&] { return Rec.Finished() > 0; }, 20000));
    }
    // Forgets the events of the last download.
    void Reset() {
        Rec = Recorder();
        Rec.Attach(*Get);
    }
    // Names in the target folder: a failed download must leave nothing,
    // not even its temporary file.
    std::vector<std::string> OutFiles() { return ListDirectory(Out.Path()); }

    TempDir Www, Out;
    std::unique_ptr<HttpTestServer> Server;
    std::unique_ptr<THTTPGet> Get;
    Recorder Rec;
};

TEST_F(HTTPGetTest, WholeFileArrivesWithProgressAndNoLeftovers) {
    FetchFile(Server->Url("/file.bin"));
    EXPECT_EQ(Rec.done, 1);
    EXPECT_EQ(Rec.errors, 0);
    EXPECT_EQ(Rec.doneName, Out.File("target.bin"));
    EXPECT_EQ(ReadFileToString(Out.File("target.bin")), HttpPatternBytes(1000));
    EXPECT_TRUE(Get->LastResult());
    EXPECT_EQ(Get->LastStatusCode(), 200);
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"target.bin"});
    EXPECT_FALSE(Get->Running());

    // A name as long as a file name may be still gets its temporary beside it.
    const std::string longName(250, 'n');
    Reset();
    FetchFile(Server->Url("/file.bin"), longName);
    ASSERT_EQ(Rec.done, 1) << Get->LastErrorText();
    EXPECT_EQ(ReadFileToString(Out.File(longName)), HttpPatternBytes(1000));
    EXPECT_EQ(OutFiles().size(), 2u);
}

TEST_F(HTTPGetTest, ATargetThatIsALinkIsReplacedNotWrittenThrough) {
    TempDir elsewhere;
    WriteTestFile(elsewhere.File("victim"), "keep");
    ASSERT_EQ(::symlink(elsewhere.File("victim").c_str(), Out.File("target.bin").c_str()), 0);
    FetchFile(Server->Url("/file.bin"));
    ASSERT_EQ(Rec.done, 1) << Get->LastErrorText();
    EXPECT_EQ(ReadFileToString(elsewhere.File("victim")), "keep");
    struct stat st;
    ASSERT_EQ(::lstat(Out.File("target.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFileToString(Out.File("target.bin")), HttpPatternBytes(1000));
}

TEST_F(HTTPGetTest, SuccessfulFileDownloads) {
    struct Case {
        std::string path;
        bool binary;
        size_t size;        // of the file written, pattern bytes
        int64_t lastTotal;  // the total the last progress report names
        size_t reports = 1;
    } cases[] = {
        // The next success replaces the file of the one before.
        {"/_big?size=500", true, 500, 500},
        {"/_redirect?to=/file.bin", true, 1000, 1000},
        // A body longer than announced is cut at the announced length.
        {"/_lie?announce=1000&send=50000", true, 1000, 1000},
        {"/_trickle?chunks=8&size=500&delay=60", true, 4000, 4000, 3},
    };
    WriteTestFile(Out.File("target.bin"), "previous version");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        Reset();
        Get->BinaryData = c.binary;
        FetchFile(Server->Url(c.path));
        ASSERT_EQ(Rec.done, 1) << Get->LastErrorText();
        EXPECT_EQ(Rec.doneSize, int64_t(c.size));
        EXPECT_EQ(ReadFileToString(Out.File("target.bin")), HttpPatternBytes(c.size));
        ASSERT_GE(Rec.progress.size(), c.reports);
        EXPECT_EQ(Rec.progress.back(), std::make_pair(c.lastTotal, int64_t(c.size)));
        for (size_t i = 1; i < Rec.progress.size(); ++i) {
            EXPECT_EQ(Rec.progress[i].first, c.lastTotal);
            EXPECT_GT(Rec.progress[i].second, Rec.progress[i - 1].second);
        }
    }
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"target.bin"});
}

// A failed download keeps the file it was to replace and leaves nothing
// else behind, not even its temporary file.
TEST_F(HTTPGetTest, FailedFileDownloadsKeepTheOldFileAndLeaveNothing) {
    const std::string port = std::to_string(Server->Port());
    struct Case {
        std::string url;
        int status;  // -1: not checked
        std::string name = "target.bin";
        int stallTimeout = 0;
        bool binary = true;
    } cases[] = {
        // Content-Length 2000, 1000 bytes sent, connection closed.
        {Server->Url("/_lie?announce=2000&send=1000"), -1},
        // An error status is a failure even at the announced length, and so
        // is a status outside 2xx that libcurl does not follow.
        {Server->Url("/_status?code=404&size=1000"), 404},
        {Server->Url("/no-such-file.zip"), 404},
        {Server->Url("/_status?code=304&size=0"), -1},
        // A redirect to something other than http(s) is refused.
        {Server->Url("/_redirect?to=file:///etc/passwd"), -1},
        // Without a Content-Length a file can not be checked, binary or not.
        {Server->Url("/_nolength?size=3000"), -1},
        {Server->Url("/_nolength?size=3000"), -1, "target.bin", 0, false},
        // Other schemes, and "http://" buried in the query, are no http request.
        {"file:///etc/passwd", -1},
        {"ftp://127.0.0.1:" + port + "/", -1},
        {"", -1},
        {"gopher://x/?u=http://127.0.0.1/", -1},
        // An https:// address keeps its scheme: the handshake with a plain
        // HTTP server fails, it is never fetched as http.
        {"https://127.0.0.1:" + port + "/file.bin", -1},
        {"http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x", 0},
        {Server->Url("/file.bin"), -1, "no-such-folder/target.bin"},
        // A server that stalls in the body or never answers is given up.
        {Server->Url("/_stall?announce=100000&send=1000&hold=30"), -1, "target.bin", 1},
        {Server->Url("/_silent?hold=30"), -1, "target.bin", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        Fresh();
        if (c.stallTimeout) Get->StallTimeout = c.stallTimeout;
        Get->BinaryData = c.binary;
        WriteTestFile(Out.File("target.bin"), "previous version");
        FetchFile(c.url, c.name);
        EXPECT_EQ(Rec.errors, 1);
        EXPECT_EQ(Rec.done, 0);
        EXPECT_FALSE(Get->LastResult());
        EXPECT_FALSE(Get->LastErrorText().empty());
        EXPECT_TRUE(c.status < 0 || Get->LastStatusCode() == c.status) << Get->LastStatusCode();
        EXPECT_EQ(ReadFileToString(Out.File("target.bin")), "previous version");
        EXPECT_EQ(OutFiles(), std::vector<std::string>{"target.bin"});
    }
}

TEST_F(HTTPGetTest, AbortDuringStalledBodyEndsAtOnceAndLeavesNoFile) {
    StartFile(Server->Url("/_stall?announce=100000&send=3000&hold=30"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !Rec.progress.empty(); }, 10000));
    ProcessEventsFor(100);
    size_t seen = Rec.progress.size();

    QElapsedTimer t;
    t.start();
    Get->AbortDownload();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Rec.Finished() > 0; }, 5000));
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_EQ(Rec.errors, 1);
    EXPECT_EQ(Rec.progress.size(), seen) << "progress after abort";
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(HTTPGetTest, AbortAfterTheLastByteStillLeavesTheTargetAlone) {
    // The worker is done but its completion has not reached the owner yet:
    // the abort wins, and what the owner hears (OnError) matches the disk.
    WriteTestFile(Out.File("target.bin"), "previous version");
    StartFile(Server->Url("/file.bin"));
    QThread::msleep(500);  // no events: the completion stays queued
    Get->AbortDownload();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Rec.Finished() > 0; }, 5000));
    EXPECT_EQ(Rec.errors, 1);
    EXPECT_EQ(ReadFileToString(Out.File("target.bin")), "previous version");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"target.bin"});
}

TEST_F(HTTPGetTest, MemoryTargetIsBounded) {
    Get->MaxStringSize = 4096;
    FetchString(Server->Url("/_big?size=10000"));
    EXPECT_EQ(Rec.errors, 1);

    // Without a Content-Length the limit holds while the body streams.
    Reset();
    Get->BinaryData = false;
    FetchString(Server->Url("/_nolength?size=10000"));
    EXPECT_EQ(Rec.errors, 1);

    Reset();
    FetchString(Server->Url("/_big?size=4096"));
    ASSERT_EQ(Rec.strings, 1) << Get->LastErrorText();
    EXPECT_EQ(Rec.text, HttpPatternBytes(4096));
}

// A file target is bounded too: a hostile server could otherwise fill the
// drive before the download fails.
TEST_F(HTTPGetTest, FileTargetIsBoundedBySizeAndFreeSpace) {
    struct Case {
        std::string path;
        bool binary;
        int64_t maxFileSize;
        bool refusedAtOnce;  // before a single byte was written
    } cases[] = {
        {"/_big?size=10000", true, 4096, true},
        {"/_nolength?size=3000000", false, 4096, false},
        // Announced larger than any drive here: refused, though no size limit is set.
        {"/_stall?announce=" + std::to_string(int64_t(1) << 60) + "&send=1000&hold=30", true, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        Fresh();
        Get->BinaryData = c.binary;
        Get->MaxFileSize = c.maxFileSize;
        Get->StallTimeout = 5;
        WriteTestFile(Out.File("target.bin"), "previous version");
        FetchFile(Server->Url(c.path));
        EXPECT_EQ(Rec.errors, 1);
        if (c.refusedAtOnce) {
            EXPECT_TRUE(Rec.progress.empty()) << Get->LastErrorText();
        }
        EXPECT_EQ(ReadFileToString(Out.File("target.bin")), "previous version");
        EXPECT_EQ(OutFiles(), std::vector<std::string>{"target.bin"});
    }
    Fresh();
    Get->MaxFileSize = 4096;
    FetchFile(Server->Url("/_big?size=4096"));
    ASSERT_EQ(Rec.done, 1) << Get->LastErrorText();
    EXPECT_EQ(ReadFileToString(Out.File("target.bin")), HttpPatternBytes(4096));
}

TEST_F(HTTPGetTest, RequestsAsTheServerSeesThem) {
    const std::string bare = "127.0.0.1:" + std::to_string(Server->Port());
    using Texts = std::vector<std::string>;
    struct Case {
        const char *what;
        std::function<void(THTTPGet &)> set;
        std::string url;
        Texts has, lacks;
    } cases[] = {
        {"defaults", [](THTTPGet &g) { g.Referer = "http://example.invalid/page"; }, Server->Url("/_echo"),
         {"GET /_echo HTTP/1.0\n", "User-Agent: Orvane HTTPGet\n", "Referer: http://example.invalid/page\n",
          "Accept: */*\n", "Pragma: no-cache\n"},
         {}},
        {"blank agent, cache allowed, header injection",
         [](THTTPGet &g) {
             g.Agent = "";
             g.UseCache = true;
             g.AcceptTypes = "text/plain\r\nX-Injected: 1";
         },
         Server->Url("/_echo"), {}, {"User-Agent:", "Referer:", "no-cache", "\nX-Injected:"}},
        {"post", [](THTTPGet &g) { g.PostQuery = "a=1&b=two"; }, Server->Url("/_echo"),
         {"POST /_echo HTTP/1.0\n", "Content-Type: application/x-www-form-urlencoded\n", "Content-Length: 9\n",
          "\n\na=1&b=two"},
         {}},
        // Scheme in capitals, port kept, path from the first slash.
        {"capitals", nullptr, "HTTP://" + bare + "/index.html", {"hello"}, {}},
        // A bare host and port with "/" fetches the root, and a bare address
        // whose query carries another address is still http.
        {"bare root", [](THTTPGet &g) { g.BinaryData = false; }, bare + "/", {"hello"}, {}},
        {"bare with address in query", [](THTTPGet &g) { g.BinaryData = false; }, bare + "/_echo?back=http://x/",
         {"GET /_echo?back=http://x/ HTTP/1.0\n"}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        if (c.set) c.set(*Get);
        FetchString(c.url);
        ASSERT_EQ(Rec.strings, 1) << Get->LastErrorText();
        for (const std::string &t : c.has) EXPECT_TRUE(Contains(Rec.text, t)) << t << " in\n" << Rec.text;
        for (const std::string &t : c.lacks) EXPECT_FALSE(ContainsText(Rec.text, t)) << t << " in\n" << Rec.text;
    }
}

TEST_F(HTTPGetTest, HttpsServerWithAnUntrustedCertificateIsRefused) {
    // The peer speaks TLS with a self-signed certificate: the download must
    // fail on the certificate, not be fetched unverified.
    const TestPKI &pki = TestPKI::Get();
    HttpTestServer tls(Www.Path(), pki.SelfSignedCert, pki.SelfSignedKey);
    FetchFile(tls.Url("/file.bin"));
    EXPECT_EQ(Rec.errors, 1);
    EXPECT_TRUE(ContainsText(Get->LastErrorText(), "certificate")) << Get->LastErrorText();
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(HTTPGetTest, HttpsDownloadNeverFollowsARedirectIntoPlainHttp) {
    const TestPKI &pki = TestPKI::Get();
    SetHTTPGetCAFile(pki.CAFile);
    struct Restore {
        ~Restore() { SetHTTPGetCAFile(""); }
    } restore;
    HttpTestServer tls(Www.Path(), pki.ServerCert, pki.Key);
    // Within TLS a redirect is followed.
    FetchFile(tls.Url("/_redirect?to=/file.bin"));
    ASSERT_EQ(Rec.done, 1) << Get->LastErrorText();
    EXPECT_EQ(ReadFileToString(Out.File("target.bin")), HttpPatternBytes(1000));

    Fresh();
    WriteTestFile(Out.File("target.bin"), "previous version");
    FetchFile(tls.Url("/_redirect?to=" + Server->Url("/file.bin")));
    EXPECT_EQ(Rec.errors, 1);
    EXPECT_EQ(ReadFileToString(Out.File("target.bin")), "previous version");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"target.bin"});
}

TEST_F(HTTPGetTest, CredentialsAnswerTheServersChallenge) {
    Get->UserName = "anna";
    Get->Password = "s3cret";
    FetchString(Server->Url("/_auth?user=anna&pass=s3cret"));
    ASSERT_EQ(Rec.strings, 1) << Get->LastErrorText();
    EXPECT_EQ(Rec.text, "secret");

    Reset();
    Get->Password = "wrong";
    FetchString(Server->Url("/_auth?user=anna&pass=s3cret"));
    EXPECT_EQ(Rec.errors, 1);
    EXPECT_EQ(Get->LastStatusCode(), 401);

    // A redirect to another host name never carries the credentials along.
    Reset();
    Get->Password = "s3cret";
    const std::string other = "http://localhost:" + std::to_string(Server->Port()) + "/_auth?user=anna%26pass=s3cret";
    FetchString(Server->Url("/_redirect?to=" + other));
    EXPECT_EQ(Rec.errors, 1);
    EXPECT_EQ(Get->LastStatusCode(), 401);
}

TEST_F(HTTPGetTest, SecondStartWhileRunningIsIgnored) {
    StartFile(Server->Url("/_trickle?chunks=5&size=100&delay=50"));
    EXPECT_TRUE(Get->Running());
    StartFile(Server->Url("/file.bin"), "other.bin");
    ASSERT_TRUE(ProcessEventsUntil([&] { return Rec.Finished() > 0; }, 10000));
    ProcessEventsFor(300);
    EXPECT_EQ(Rec.done, 1);
    EXPECT_EQ(Rec.doneSize, 500);
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"target.bin"});
}

TEST_F(HTTPGetTest, AWorkerThatCannotStartLeavesTheComponentIdle) {
    // No room for another thread's stack: the start fails, and the next one,
    // with room again, runs. (A stack kept from an earlier thread of the
    // same process needs no room; then there is nothing to see here. ctest
    // runs each test in a process of its own.)
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    ASSERT_GT(pages, 0);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (2u << 20);
    Get->URL = Server->Url("/file.bin");
    Get->FileName = Out.File("target.bin");
    bool threw = false;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    try {
        Get->StartFileDownload();
    } catch (...) {
        threw = true;
    }
    setrlimit(RLIMIT_AS, &old);
    if (!threw)
        GTEST_SKIP() << "the thread started within the limit";
    EXPECT_FALSE(Get->Running());
    Get->StartFileDownload();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Rec.Finished() > 0; }, 20000));
    EXPECT_EQ(Rec.done, 1) << Get->LastErrorText();
}

TEST_F(HTTPGetTest, HandlerMayStartTheNextDownload) {
    int round = 0;
    Get->OnError = [&](THTTPGet *g) {
        ++Rec.errors;
        if (round++ == 0) {
            g->URL = Server->Url("/file.bin");
            g->StartFileDownload();
        }
    };
    FetchFile(Server->Url("/_status?code=500&size=10"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return Rec.done == 1; }, 10000));
    EXPECT_EQ(Rec.errors, 1);
    EXPECT_EQ(ReadFileToString(Out.File("target.bin")), HttpPatternBytes(1000));
}

TEST_F(HTTPGetTest, WaitThreadReturnsAfterTheEvents) {
    Get->WaitThread = true;
    StartFile(Server->Url("/_trickle?chunks=4&size=250&delay=30"));
    EXPECT_FALSE(Get->Running());
    EXPECT_EQ(Rec.done, 1);
    EXPECT_EQ(FileSize(Out.File("target.bin")), 1000);
}

TEST_F(HTTPGetTest, DestroyingARunningComponentJoinsSilently) {
    StartFile(Server->Url("/_stall?announce=100000&send=2000&hold=30"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !Rec.progress.empty(); }, 10000));
    QElapsedTimer t;
    t.start();
    Get.reset();
    EXPECT_LT(t.elapsed(), 1000);
    size_t seen = Rec.progress.size();
    ProcessEventsFor(200);
    EXPECT_EQ(Rec.Finished(), 0);
    EXPECT_EQ(Rec.progress.size(), seen);
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(HTTPGetTest, ManyMegabytesArriveIntact) {
    const size_t size = 24u << 20;
    FetchFile(Server->Url("/_big?size=" + std::to_string(size)));
    ASSERT_EQ(Rec.done, 1) << Get->LastErrorText();
    std::string got = ReadFileToString(Out.File("target.bin"));
    ASSERT_EQ(got.size(), size);
    EXPECT_TRUE(got == HttpPatternBytes(size));
    EXPECT_EQ(Rec.progress.back(), std::make_pair(int64_t(size), int64_t(size)));
}

}  // namespace
