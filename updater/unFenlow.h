// Fenlow's one form: it runs the one job its command-line switch chooses on a
// one-second timer, shows a caption and a progress bar, asks nothing of its
// own, and closes when the job is done or at the tenth tick at the latest.
//
// Jobs: "-fenlow" installs the downloaded program archive and starts the new
// Tarnwick (first putting back an update that was cut short; with nothing to
// install it then starts the old one), on the profile that "-user" names
// after the switch; "-skn" and "-all" install skins; "-ssl" and "-ske" unpack
// the TLS library and skin editor archives. Every other first argument
// (letter case counts) only closes the form.
#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "updates/ProgramLock.h"
#include "ZipArchiver.h"

class QProgressBar;
class QTimer;

// Fenlow's own version, written into Tarnwick's settings file and carried
// by the executable as its version marker.
#define FENLOW_VERSION_TEXT "0.1.2.5"
inline constexpr char FenlowVersion[] = FENLOW_VERSION_TEXT;

class TfrmFenlow : public QWidget {
    Q_OBJECT

public:
    // args: the command-line arguments after the program's name; programDir:
    // the folder of Fenlow's executable. tickMs is the job timers' interval.
    TfrmFenlow(const std::vector<std::string> &args, const std::string &programDir, int tickMs = 1000,
               QWidget *parent = nullptr);
    ~TfrmFenlow() override;

    QProgressBar *ProgressBar1;
    QTimer *Timer1;  // "-fenlow": program update
    QTimer *Timer2;  // "-skn": one skin
    QTimer *Timer3;  // anything else: close
    QTimer *Timer4;  // "-all": all skins
    QTimer *Timer5;  // "-ssl": TLS libraries
    QTimer *Timer6;  // "-ske": skin editor
    TZipArchiver ZipArchiver1;

    void FormCreate();
    void FormDestroy();
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void Timer5Timer();
    void Timer6Timer();
    void ZipArchiver1FileProgress(TZipBaseArchiver *Sender, const std::string &FileName, double Progress,
                                  TZipProcessOperation Operation, TZipProgressPhase ProgressPhase,
                                  bool &Cancel);
    // Turns "blacklist.dat" into rule files (the rules engine's import);
    // pending window messages are processed between entries.
    void BlackListToRules();

    // The folder everything below lives in, with a trailing "/".
    std::string ProgramDir;
    // The archive the running job installs.
    std::string ZipPath;
    // Job timer ticks so far, shared by all job timers.
    int TickCount = 0;
    // The bottom of the desktop's work area (the download window stands on it).
    int WorkAreaBottom = 0;

    // How long starting Tarnwick or writing its settings waits for a
    // Tarnwick that is still on its way out (milliseconds).
    int LockWaitMs = 5000;

    // A close asked for by a job (or the window's close box while a job
    // runs) happens when the running job returns.
    void RequestClose();
    bool CloseRequested() const { return FCloseRequested; }
    bool Finished() const { return FFinished; }
    // The program's exit status, read by the Tarnwick that waits for a skin
    // job: "-skn" and "-all" answer 0 only when their skins were installed,
    // 1 otherwise; every other job answers 0.
    int ExitCode() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum TJob { jbUpdate, jbSkin, jbClose, jbAllSkins, jbTLS, jbEditor, jbCount };
    // Runs one tick of a job unless that job is running already (its
    // questions and the blacklist migration let timer events through).
    template <class F>
    void Tick(TJob job, F &&body);
    // The opening every job tick shares: false when the switch is not this
    // job's (the form then closes); counts the tick, asking for the close at
    // the tenth.
    bool JobOpening(const char *jobSwitch);

    void ProgramUpdate();
    void SkinJob(const char *defaultArchive);
    void ArchiveJob(const char *archive);

    // Extracts ZipPath into folder with the stored settings; true only when
    // the archive opened and every entry was written. ready runs once the
    // archive is open, before anything is written; false stops there.
    bool Extract(const std::string &folder, const std::function<bool()> &ready = {});
    // Writes [FENLOW] Version into Tarnwick's settings file; the caller holds
    // the program lock, so Tarnwick is not writing it at the same time.
    void WriteOwnVersion();
    // Starts Tarnwick from the program folder on its profile, first writing
    // Fenlow's version; does nothing while Tarnwick still holds the folder,
    // or, unless besideList (they could not be put back), while an update
    // cut short has files to put back.
    void StartTarnwick(TProgramLock *held = nullptr, bool besideList = false);
    // Starts Tarnwick from the program folder on its profile, as it is.
    void LaunchTarnwick();
    // Deletes a file the information files named, but only inside the
    // program folder.
    void DeleteOwnFile(const std::string &path);
    std::string Resolve(const std::string &name) const;
    std::string InfoPath(const std::string &path) const;

    std::string FFirstArg;
    // What Tarnwick is started with: its profile, when a plain one came.
    std::vector<std::string> FTarnwickArgs;
    bool FBusy[jbCount] = {};
    int FDepth = 0;
    bool FCloseRequested = false;
    bool FFinished = false;
    bool FVersionWritten = false;
    bool FTarnwickStarted = false;
    bool FSkinsInstalled = false;
};
