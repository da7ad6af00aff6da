// THTTPGet: downloads one HTTP or HTTPS resource on a worker thread, to a file
// or into memory, and reports progress and completion on the thread that owns
// the component (the GUI thread).
//
// - Progress is posted to the owner's thread and coalesced: the worker never
//   waits for the GUI, so a GUI that waits for the worker cannot deadlock.
// - OnDoneFile, OnDoneString and OnError run on the owner's thread, after the
//   worker has been joined; a handler may start the next download.
// - A redirect may lead to http or https only; from an https address only
//   to https, so a download asked for over TLS never continues in clear.
// - Only a 2xx answer whose body arrived whole counts as success. With
//   BinaryData on, an answer without Content-Length is a failure; with it
//   off, a file download without one succeeds only when empty, since its
//   end cannot be checked (a text download needs none).
// - A file download larger than MaxFileSize, or announced larger than the
//   free space of the target's drive, fails as soon as that is known.
// - A file download is written to a temporary name beside the target and
//   renamed over it only when complete: a failed or aborted download leaves
//   no partial file under the target's name and keeps an existing file.
// - The destructor aborts a running download and joins its worker; no event
//   fires after that.
// A Qt application object must exist: completion arrives through its event
// loop.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class THTTPGet;
class THTTPGetThread;

// The certificate authorities (a PEM file) that HTTPS downloads trust
// instead of the system's; empty restores the system's. Tests point it at
// their own authority.
void SetHTTPGetCAFile(const std::string &fileName);

using TOnProgressEvent = std::function<void(THTTPGet *Sender, int64_t TotalSize, int64_t Readed)>;
using TOnDoneFileEvent =
    std::function<void(THTTPGet *Sender, const std::string &FileName, int64_t FileSize)>;
using TOnDoneStringEvent = std::function<void(THTTPGet *Sender, const std::string &Result)>;
using THTTPGetNotifyEvent = std::function<void(THTTPGet *Sender)>;

class THTTPGet : public QObject {
    Q_OBJECT

public:
    explicit THTTPGet(QObject *Owner = nullptr);
    ~THTTPGet() override;
    THTTPGet(const THTTPGet &) = delete;
    THTTPGet &operator=(const THTTPGet &) = delete;

    // Request properties; a running download keeps the copies it took at
    // start, so changing them affects only the next one.
    std::string AcceptTypes = "*/*";     // sent as "Accept: "; empty sends none
    std::string Agent = "Orvane HTTPGet"; // User-Agent; empty sends none
    bool BinaryData = false;  // an answer without Content-Length is a failure
    std::string URL;          // "http://", "https://" or a bare host ("http" assumed)
    bool UseCache = false;    // false asks every cache on the way for a fresh copy
    std::string FileName;     // target of StartFileDownload
    std::string UserName;     // credentials for the server's authentication
    std::string Password;
    std::string PostQuery;    // non-empty: POST this form-encoded body
    std::string Referer;      // empty: none
    bool WaitThread = false;  // Start... returns only when the download has ended

    // Safety bounds against a hostile or broken server.
    int StallTimeout = 60;                        // seconds without a byte; 0 = none
    int ConnectTimeout = 30;                      // seconds
    int64_t MaxStringSize = int64_t(64) << 20;    // bytes kept by StartStringDownload
    int64_t MaxFileSize = int64_t(1) << 30;       // bytes written by StartFileDownload; 0 = none

    TOnProgressEvent OnProgress;      // after data arrived; coalesced
    TOnDoneFileEvent OnDoneFile;      // file complete under FileName
    TOnDoneStringEvent OnDoneString;  // memory download complete
    THTTPGetNotifyEvent OnError;      // failed or aborted

    // Starts fetching URL into FileName. Does nothing while a download runs.
    void StartFileDownload();
    // Starts fetching URL into memory; the text arrives through OnDoneString.
    // Does nothing while a download runs. An empty body counts as a failure.
    void StartStringDownload();
    // Ends a running download with OnError; the worker stops within
    // milliseconds, also in the middle of a stalled read. No OnProgress
    // reaches the owner after this call.
    void AbortDownload();

    bool Running() const { return FWorker != nullptr; }
    // Outcome of the last finished download.
    bool LastResult() const { return FResult; }
    int LastStatusCode() const { return FStatusCode; }     // 0 when none arrived
    const std::string &LastErrorText() const { return FErrorText; }  // empty on success

private:
    friend class THTTPGetThread;
    void Start(bool toFile);
    void ProgressArrived(THTTPGetThread *worker);
    void WorkerDone(THTTPGetThread *worker);

    std::unique_ptr<THTTPGetThread> FWorker;
    bool FResult = false;
    int FStatusCode = 0;
    std::string FErrorText;
};
