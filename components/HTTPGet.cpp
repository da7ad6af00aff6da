#include "HTTPGet.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>

#include <curl/curl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

#include "SysUtils.h"

namespace {

std::once_flag GCurlInit;

std::mutex GCAFileLock;
std::string GCAFile;

std::string CAFile() {
    std::lock_guard<std::mutex> guard(GCAFileLock);
    return GCAFile;
}

// Values that end up in request headers come from callers; a CR or LF in them
// would let a caller's text start a header of its own.
std::string HeaderSafe(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (char c : s)
        if (c != '\r' && c != '\n' && c != '\0') r += c;
    return r;
}

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The address to hand to libcurl: "http://" and "https://" in any letter case
// are kept (with their port), a bare "host/path" means http, and every other
// scheme is refused so that a web page cannot point a download at a local
// file or another protocol.
bool RequestURL(const std::string &url, std::string &out, std::string &error) {
    std::string u = Trim(url);
    if (u.empty()) {
        error = "No URL given";
        return false;
    }
    int p = Pos("://", u);
    // Only a scheme's own letters may stand before "://"; anything else
    // ("host/page?back=http://...") is a bare address with its own query.
    bool hasScheme = p > 1 && IsAsciiAlpha(u[0]);
    for (int i = 1; hasScheme && i < p - 1; ++i) {
        char c = u[size_t(i)];
        hasScheme = IsAsciiAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    }
    if (!hasScheme) {
        out = "http://" + u;
        return true;
    }
    std::string scheme = LowerCase(Copy(u, 1, p - 1));
    if (scheme != "http" && scheme != "https") {
        error = "Unsupported URL scheme \"" + Copy(u, 1, p - 1) + "\"";
        return false;
    }
    out = scheme + u.substr(size_t(p - 1));
    return true;
}

// A fresh file beside target that no one else has opened; -1 on failure.
int CreateTempBeside(const std::string &target, std::string &tempName) {
    std::string dir = ExtractFilePath(target);
    // Short enough for any file-name limit, whatever the target's length.
    std::string base = "." + ExtractFileName(target).substr(0, 64) + ".part-";
    std::random_device rd;
    std::mt19937_64 gen((uint64_t(rd()) << 32) ^ rd());
    for (int i = 0; i < 100; ++i) {
        tempName = dir + base + IntToHex(gen(), 16);
        int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    tempName.clear();
    return -1;
}

}  // namespace

void SetHTTPGetCAFile(const std::string &fileName) {
    std::lock_guard<std::mutex> guard(GCAFileLock);
    GCAFile = fileName;
}

// The worker: one download on its own thread, touching only its own copies of
// the request. The owner reads the results after joining it.
class THTTPGetThread {
public:
    THTTPGetThread(THTTPGet *owner, bool toFile) : ToFile(toFile), FOwner(owner) {
        FEasy = curl_easy_init();
        FMulti = curl_multi_init();
    }
    ~THTTPGetThread() {
        Join();
        Discard();
        if (FMulti && FEasy) curl_multi_remove_handle(FMulti, FEasy);
        if (FEasy) curl_easy_cleanup(FEasy);
        if (FMulti) curl_multi_cleanup(FMulti);
    }

    void Start() { FThread = std::thread([this] { Execute(); }); }
    // The owner puts the finished file in place on its own thread, after it
    // has seen that no abort came in meanwhile: a download aborted after its
    // last byte still leaves the target untouched.
    bool Commit() {
        if (FTempName.empty()) return true;
        if (::rename(FTempName.c_str(), FileName.c_str()) != 0) {
            ErrorText = "Cannot rename to \"" + FileName + "\": " + std::strerror(errno);
            Discard();
            return false;
        }
        FTempName.clear();
        return true;
    }
    void Discard() {
        if (!FTempName.empty()) ::unlink(FTempName.c_str());
        FTempName.clear();
    }
    void Join() {
        if (FThread.joinable()) FThread.join();
    }
    // Safe from any thread: the transfer loop wakes from its wait at once.
    void Terminate() {
        Terminated = true;
        if (FMulti) curl_multi_wakeup(FMulti);
    }

    // Copies of the request, taken at start.
    std::string AcceptTypes, Agent, URL, FileName, UserName, Password, PostQuery, Referer;
    bool BinaryData = false, UseCache = false;
    const bool ToFile;
    int StallTimeout = 60, ConnectTimeout = 30;
    int64_t MaxStringSize = 0;
    int64_t MaxFileSize = 0;

    // Results, valid after Join.
    bool Result = false;
    int StatusCode = 0;
    int64_t TotalSize = 0;
    std::string ErrorText;
    std::string StringResult;

    // Shared with the owner's thread while running.
    std::atomic<bool> Terminated{false};
    std::atomic<int64_t> Readed{0};
    std::atomic<int64_t> ProgressTotal{0};
    std::atomic<bool> ProgressPending{false};

private:
    void Execute();
    bool Transfer();
    bool CheckAnswer();
    size_t Write(const char *data, size_t size);
    static size_t WriteCallback(char *data, size_t size, size_t nmemb, void *self) {
        return static_cast<THTTPGetThread *>(self)->Write(data, size * nmemb);
    }
    static size_t HeaderCallback(char *, size_t size, size_t nmemb, void *self) {
        static_cast<THTTPGetThread *>(self)->FLastActivity = std::chrono::steady_clock::now();
        return size * nmemb;
    }
    void PostProgress();
    bool Fail(std::string text) {
        if (ErrorText.empty()) ErrorText = std::move(text);
        return false;
    }

    THTTPGet *FOwner;
    std::thread FThread;
    CURL *FEasy = nullptr;
    CURLM *FMulti = nullptr;
    int FFd = -1;
    std::string FTempName;
    bool FAnswerChecked = false;
    std::chrono::steady_clock::time_point FLastActivity;
    char FCurlError[CURL_ERROR_SIZE] = {};
};

void THTTPGetThread::PostProgress() {
    // One event in flight at a time: the GUI reads the latest values when it
    // gets there, and the worker never waits for it.
    if (!ProgressPending.exchange(true)) {
        THTTPGet *owner = FOwner;
        QMetaObject::invokeMethod(
            owner, [owner, w = this] { owner->ProgressArrived(w); }, Qt::QueuedConnection);
    }
}

// Runs once the status line and headers of the final answer are in.
bool THTTPGetThread::CheckAnswer() {
    FAnswerChecked = true;
    long code = 0;
    curl_easy_getinfo(FEasy, CURLINFO_RESPONSE_CODE, &code);
    StatusCode = int(code);
    if (code < 200 || code > 299) return Fail(Format("HTTP status %ld", code));
    curl_off_t length = -1;
    curl_easy_getinfo(FEasy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length < 0 && BinaryData) return Fail("The answer has no Content-Length");
    if (!ToFile && length > MaxStringSize)
        return Fail(Format("The answer is larger than %lld bytes", (long long)MaxStringSize));
    if (ToFile && MaxFileSize > 0 && length > MaxFileSize)
        return Fail(Format("The answer is larger than %lld bytes", (long long)MaxFileSize));
    if (ToFile && length > 0) {
        // Refused before the first byte instead of filling the drive (and
        // starving everything else that writes there) only to fail then.
        struct statvfs fs;
        if (::fstatvfs(FFd, &fs) == 0 && uint64_t(length) > uint64_t(fs.f_bavail) * uint64_t(fs.f_frsize))
            return Fail(Format("Not enough disk space for %lld bytes", (long long)length));
    }
    TotalSize = length < 0 ? 0 : int64_t(length);
    ProgressTotal = TotalSize;
    return true;
}

size_t THTTPGetThread::Write(const char *data, size_t size) {
    if (Terminated) return 0;
    if (!FAnswerChecked && !CheckAnswer()) return 0;
    if (!ErrorText.empty()) return 0;
    FLastActivity = std::chrono::steady_clock::now();
    int64_t done = Readed.load();
    if (ToFile) {
        if (MaxFileSize > 0 && done + int64_t(size) > MaxFileSize) {
            Fail(Format("The answer is larger than %lld bytes", (long long)MaxFileSize));
            return 0;
        }
        size_t left = size;
        const char *p = data;
        while (left > 0) {
            ssize_t n = ::write(FFd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                Fail("Cannot write \"" + FileName + "\": " + std::strerror(errno ? errno : ENOSPC));
                return 0;
            }
            p += n;
            left -= size_t(n);
        }
    } else {
        if (done + int64_t(size) > MaxStringSize) {
            Fail(Format("The answer is larger than %lld bytes", (long long)MaxStringSize));
            return 0;
        }
        StringResult.append(data, size);
    }
    Readed = done + int64_t(size);
    PostProgress();
    return size;
}

bool THTTPGetThread::Transfer() {
    if (!FEasy || !FMulti) return Fail("Cannot initialise the HTTP library");
    std::string url;
    std::string urlError;
    if (!RequestURL(URL, url, urlError)) return Fail(urlError);

    if (ToFile) {
        if (Trim(FileName).empty()) return Fail("No target file given");
        FFd = CreateTempBeside(FileName, FTempName);
        if (FFd < 0) return Fail("Cannot create \"" + FileName + "\": " + std::strerror(errno));
    }

    CURL *e = FEasy;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // Leaving TLS on a redirect would hand the rest of the download to
    // anyone on the way.
    bool tls = Copy(url, 1, 8) == "https://";
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, tls ? "https" : "http,https");
    std::string caFile = CAFile();
    if (!caFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, FCurlError);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &THTTPGetThread::WriteCallback);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    if (ConnectTimeout > 0) curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, long(ConnectTimeout));
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &THTTPGetThread::HeaderCallback);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    std::string agent = HeaderSafe(Agent);
    if (!agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str());
    std::string referer = HeaderSafe(Referer);
    if (!referer.empty()) curl_easy_setopt(e, CURLOPT_REFERER, referer.c_str());
    if (!UserName.empty()) {
        // Credentials go only to a server that asks for them, and never to
        // another host after a redirect (libcurl's default).
        curl_easy_setopt(e, CURLOPT_USERNAME, UserName.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, Password.c_str());
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
    }

    curl_slist *headers = nullptr;
    std::string accept = HeaderSafe(AcceptTypes);
    headers = curl_slist_append(headers, accept.empty() ? "Accept:" : ("Accept: " + accept).c_str());
    if (!UseCache) {
        headers = curl_slist_append(headers, "Pragma: no-cache");
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
    }
    if (!PostQuery.empty()) {
        headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(PostQuery.size()));
        curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, PostQuery.c_str());
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);

    CURLcode rc = CURLE_OK;
    curl_multi_add_handle(FMulti, e);
    int running = 1;
    FLastActivity = std::chrono::steady_clock::now();
    while (!Terminated) {
        CURLMcode mc = curl_multi_perform(FMulti, &running);
        if (mc != CURLM_OK) {
            Fail(curl_multi_strerror(mc));
            break;
        }
        if (running == 0) break;
        // A server that stops sending without closing would hold the
        // download forever; nothing at all for StallTimeout seconds ends it.
        if (StallTimeout > 0 &&
            std::chrono::steady_clock::now() - FLastActivity > std::chrono::seconds(StallTimeout)) {
            Fail(Format("No data from the server for %d seconds", StallTimeout));
            break;
        }
        mc = curl_multi_poll(FMulti, nullptr, 0, 250, nullptr);
        if (mc != CURLM_OK) {
            Fail(curl_multi_strerror(mc));
            break;
        }
    }
    int left = 0;
    while (CURLMsg *msg = curl_multi_info_read(FMulti, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == e) rc = msg->data.result;
    curl_multi_remove_handle(FMulti, e);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);

    if (Terminated) return Fail("Download aborted");
    if (!ErrorText.empty()) return false;
    if (rc != CURLE_OK)
        return Fail(FCurlError[0] ? std::string(FCurlError) : std::string(curl_easy_strerror(rc)));
    if (!FAnswerChecked && !CheckAnswer()) return false;

    curl_off_t length = -1;
    curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    int64_t got = Readed;
    if (length >= 0 && got != int64_t(length))
        return Fail(Format("Received %lld of %lld bytes", (long long)got, (long long)length));
    // A file is whole when it holds the announced length; without one a
    // body cut short cannot be told from a whole one.
    if (ToFile && length < 0 && got != 0) return Fail("The answer has no Content-Length");
    if (!ToFile && got == 0) return Fail("The answer is empty");
    return true;
}

void THTTPGetThread::Execute() {
    Result = Transfer() && !Terminated;
    if (FFd >= 0) {
        if (::close(FFd) != 0 && Result) Result = Fail("Cannot write \"" + FileName + "\"");
        FFd = -1;
    }
    if (!Result) Discard();
    if (Result) ErrorText.clear();
    if (!ToFile && !Result) StringResult.clear();
    THTTPGet *owner = FOwner;
    QMetaObject::invokeMethod(
        owner, [owner, w = this] { owner->WorkerDone(w); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------

THTTPGet::THTTPGet(QObject *Owner) : QObject(Owner) {
    // libcurl's global set-up is not safe to race with a transfer; do it on
    // the owner's thread before any worker exists.
    std::call_once(GCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

THTTPGet::~THTTPGet() {
    if (FWorker) {
        FWorker->Terminate();
        FWorker->Join();
        FWorker.reset();
    }
    // Events the worker posted and that were not delivered die with QObject.
}

void THTTPGet::StartFileDownload() { Start(true); }

void THTTPGet::StartStringDownload() { Start(false); }

void THTTPGet::Start(bool toFile) {
    if (FWorker) return;
    if (!QCoreApplication::instance())
        throw Exception("THTTPGet needs a Qt application object for its events");
    auto w = std::make_unique<THTTPGetThread>(this, toFile);
    w->AcceptTypes = AcceptTypes;
    w->Agent = Agent;
    w->URL = URL;
    w->FileName = FileName;
    w->UserName = UserName;
    w->Password = Password;
    w->PostQuery = PostQuery;
    w->Referer = Referer;
    w->BinaryData = BinaryData;
    w->UseCache = UseCache;
    w->StallTimeout = StallTimeout;
    w->ConnectTimeout = ConnectTimeout;
    w->MaxStringSize = MaxStringSize;
    w->MaxFileSize = MaxFileSize;
    // Started before it is kept: a thread that cannot start (no memory or
    // threads left) leaves the component idle, so the next start can run.
    // Its completion is queued, so it cannot arrive before it is kept.
    THTTPGetThread *mine = w.get();
    mine->Start();
    FWorker = std::move(w);
    if (WaitThread) {
        QPointer<THTTPGet> self(this);
        while (self && self->FWorker.get() == mine)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void THTTPGet::AbortDownload() {
    if (FWorker) FWorker->Terminate();
}

void THTTPGet::ProgressArrived(THTTPGetThread *worker) {
    if (worker != FWorker.get() || worker->Terminated) return;
    worker->ProgressPending = false;
    int64_t total = worker->ProgressTotal;
    int64_t readed = worker->Readed;
    if (!OnProgress) return;
    try {
        OnProgress(this, total, readed);
    } catch (...) {
        // A handler's failure must not cross the event loop.
    }
}

void THTTPGet::WorkerDone(THTTPGetThread *worker) {
    if (worker != FWorker.get()) return;
    // Free the component before the events, so that a handler may start the
    // next download at once.
    std::unique_ptr<THTTPGetThread> w = std::move(FWorker);
    w->Join();
    FResult = w->Result && !w->Terminated;
    if (FResult && w->ToFile) FResult = w->Commit();
    FStatusCode = w->StatusCode;
    FErrorText = FResult ? std::string() : (w->ErrorText.empty() ? "Download failed" : w->ErrorText);
    std::string fileName = w->FileName;
    int64_t size = w->Readed;
    std::string text = std::move(w->StringResult);
    bool toFile = w->ToFile;
    w.reset();
    try {
        if (!FResult) {
            if (OnError) OnError(this);
        } else if (toFile) {
            if (OnDoneFile) OnDoneFile(this, fileName, size);
        } else {
            if (OnDoneString) OnDoneString(this, text);
        }
    } catch (...) {
        // A handler's failure must not cross the event loop.
    }
}
