// The download window: a small modal window that fetches one URL into one
// file with THTTPGet, showing progress, and answers whether the file arrived.
// Used by the update checks and the Options dialog.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class THTTPGet;

class TForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget *parent = nullptr);
    ~TForm2() override;

    QProgressBar *ProgressBar1;
    QLabel *Label1;
    QFrame *Bevel1;
    QPushButton *BitBtn1;  // "Yes": start the download
    QPushButton *BitBtn2;  // "Cancel"
    QTimer *Timer1;        // automatic start, and retry after a failure
    THTTPGet *HTTPGet;

    void BitBtn1Click();
    void Timer1Timer();
    void BitBtn2Click();
    void HTTPGetProgress(THTTPGet *Sender, int64_t TotalSize, int64_t Readed);
    void HTTPGetDoneFile(THTTPGet *Sender, const std::string &FileName, int64_t FileSize);
    void HTTPGetError(THTTPGet *Sender);

    // What DownloadFile keeps for the handlers, and the answer.
    std::string Url;
    std::string TargetFile;
    bool Result = false;
    // The error of the last attempt that failed; empty while none did. A
    // download the user cancels is no failure and leaves it as it was.
    std::string LastError;

private:
    void StartDownload();
    bool FCancelled = false;
};

// Shows the download window modally at (Left, Top) with the caption
// "Tarnwick - " + Caption and Text as its message; downloads Url into
// TargetFile when the user clicks Yes, or on its own a second after showing
// when AutoStart is set (retrying every second after a failure). Answers true
// only when the whole file arrived; Cancel and closing answer false. The
// button captions come from the language file's [Options] "Yes" and "Cancel".
// Shown through ShowModal, so tests drive it with the modal-dialog hook.
// When the answer is false and Why is given, it holds the error of the last
// attempt that failed, or is empty when none failed (the user cancelled).
bool DownloadFile(const std::string &Caption, const std::string &Text, const std::string &Url,
                  const std::string &TargetFile, int Left, int Top, bool AutoStart, std::string *Why = nullptr);

// What the user is told of a download of Url that DownloadFile answered
// false for, Why being what it gave: the download was cancelled, or it
// failed and why ([Messages] 94 and 95).
std::string DownloadFailureText(const std::string &Url, const std::string &Why);

// Where the callers put the download window: left = screen width - 372 and
// top = work-area bottom - 216, so that it stands above the taskbar at the
// right whatever the screen. The bottom is the first row below the work area.
int DownloadWindowLeft();
int DownloadWindowTop();
