#include "unitDown.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <climits>
#include <memory>

#include "DialogSeam.h"
#include "HTTPGet.h"
#include "settings/unLanguage.h"

namespace {

QString Q(const std::string &s) { return QString::fromStdString(s); }

}  // namespace

TForm2::TForm2(QWidget *parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle("Tarnwick - Download");
    setFixedSize(306, 157);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(0, 0, 306, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(8, 24, 290, 88);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setGeometry(8, 117, 290, 2);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);

    BitBtn1 = new QPushButton("Yes", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(64, 125, 85, 25);
    BitBtn2 = new QPushButton("Cancel", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(157, 125, 85, 25);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);

    HTTPGet = new THTTPGet(this);
    HTTPGet->setObjectName("HTTPGet");
    HTTPGet->AcceptTypes = "*/*";
    HTTPGet->Agent = "Orvane HTTPGet";
    HTTPGet->BinaryData = true;
    HTTPGet->UseCache = false;
    HTTPGet->WaitThread = false;
    HTTPGet->OnProgress = [this](THTTPGet *s, int64_t t, int64_t r) { HTTPGetProgress(s, t, r); };
    HTTPGet->OnDoneFile = [this](THTTPGet *s, const std::string &f, int64_t n) {
        HTTPGetDoneFile(s, f, n);
    };
    HTTPGet->OnError = [this](THTTPGet *s) { HTTPGetError(s); };

    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

// The component is a child: QObject's destructor would delete it only after
// this form's members are gone, so stop and join it while the form is whole.
TForm2::~TForm2() {
    Timer1->stop();
    delete HTTPGet;
    HTTPGet = nullptr;
}

void TForm2::StartDownload() {
    try {
        HTTPGet->URL = Url;
        HTTPGet->FileName = TargetFile;
        HTTPGet->StartFileDownload();  // ignored while one runs
    } catch (...) {
        // A failed start leaves the window open; the user can cancel, and
        // the automatic start tries again at the next tick.
    }
}

void TForm2::BitBtn1Click() {
    BitBtn1->setEnabled(false);
    StartDownload();
}

void TForm2::Timer1Timer() {
    BitBtn1->setEnabled(false);
    StartDownload();
}

void TForm2::BitBtn2Click() {
    // Stop retrying first, so no tick starts a new download while the
    // aborted one winds down.
    Timer1->stop();
    FCancelled = true;
    HTTPGet->FileName.clear();
    HTTPGet->AbortDownload();
    // Give the worker up to a second to end; it is usually gone at once.
    QPointer<TForm2> self(this);
    QElapsedTimer t;
    t.start();
    while (self && HTTPGet->Running() && t.elapsed() < 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (self && HTTPGet->Running()) QThread::msleep(1);
    }
    if (self) close();
}

void TForm2::HTTPGetProgress(THTTPGet *, int64_t TotalSize, int64_t Readed) {
    if (HTTPGet->FileName.empty()) return;
    // The bar counts in int; sizes beyond that are shown in coarser steps.
    int64_t scale = TotalSize > INT_MAX ? TotalSize / INT_MAX + 1 : 1;
    ProgressBar1->setMaximum(int(TotalSize / scale));
    int64_t pos = Readed / scale;
    ProgressBar1->setValue(int(pos > ProgressBar1->maximum() ? ProgressBar1->maximum() : pos));
}

void TForm2::HTTPGetDoneFile(THTTPGet *, const std::string &, int64_t) {
    Result = true;
    close();
}

void TForm2::HTTPGetError(THTTPGet *Sender) {
    Result = false;
    // The abort that Cancel asked for is not what went wrong.
    if (!FCancelled) LastError = Sender->LastErrorText();
}

bool DownloadFile(const std::string &Caption, const std::string &Text, const std::string &Url,
                  const std::string &TargetFile, int Left, int Top, bool AutoStart, std::string *Why) {
    auto form = std::make_unique<TForm2>();
    form->setWindowTitle(Q("Tarnwick - " + Caption));
    form->Label1->setText(Q(Text));
    form->move(Left, Top);
    form->BitBtn1->setText(Q(LangText("Options", "Yes", form->BitBtn1->text().toStdString())));
    form->BitBtn2->setText(
        Q(LangText("Options", "Cancel", form->BitBtn2->text().toStdString())));
    form->Url = Url;
    form->TargetFile = TargetFile;
    if (AutoStart) {
        form->Timer1->start();
        form->BitBtn1->setVisible(false);
    } else {
        form->Timer1->stop();
        form->BitBtn1->setVisible(true);
    }
    form->Result = false;
    ShowModal(*form);
    bool result = form->Result;
    if (Why) *Why = result ? std::string() : form->LastError;
    form.reset();
    return result;
}

std::string DownloadFailureText(const std::string &Url, const std::string &Why) {
    if (Why.empty()) return LangText("Messages", "94", "The download was cancelled.");
    return LangText("Messages", "95", "The download failed:") + " " + Url + ": " + Why;
}

int DownloadWindowLeft() {
    QScreen *screen = QGuiApplication::primaryScreen();
    return (screen ? screen->geometry().width() : 0) - 372;
}

int DownloadWindowTop() {
    QScreen *screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect();
    return area.y() + area.height() - 216;
}
