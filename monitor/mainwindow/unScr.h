// The program's own screen saver: banners of the accounts with new mail
// drifting over a black screen until the user moves.
#pragma once

#include <QDialog>
#include <QFontMetrics>
#include <QImage>
#include <QPoint>
#include <cstdint>
#include <string>
#include <vector>

class TTimer;

// One account's banner: where it is, how fast it drifts (pixels a tick),
// and its picture (empty while the account has no new mail).
struct TSaverBanner {
    int Account = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    int Step = 1;
    QImage Bitmap;
};

class TfrmMainScr : public QDialog {
public:
    explicit TfrmMainScr(QWidget *parent = nullptr);
    ~TfrmMainScr() override;

    TTimer *Timer1 = nullptr;  // one drift step every 20 milliseconds
    std::vector<TSaverBanner> Banners;
    QPoint LastCursor;                // where the cursor was when the saver began
    int ScreenWidth = 0, ScreenHeight = 0;
    // The progress line of a running check.
    std::string StatusText;
    bool StatusVisible = false;

    void FormCreate();
    void Timer1Timer();
    // Repaints the account's banner from its new mail, with a new speed and
    // a height that keeps it clear of the others; false when the account has
    // no mail left to show.
    bool PaintBanner(TSaverBanner &Banner);
    // The user is back: the saver closes; a check running beneath it goes on.
    void EndSaver();
    bool Ended() const { return FEnded; }
    // A movement of more than 2 pixels either way from the remembered
    // position ends the saver; jitter does not.
    void CursorMoved(const QPoint &GlobalPos);
    void FormClose();

    // Tries a new position for a banner at most this many times before it
    // takes one that overlaps.
    static constexpr int PlacementTries = 50;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void PlaceBanner(TSaverBanner &Banner);
    // The desktop's own saver may start again.
    void ReleaseDesktopSaver();
    bool FEnded = false;
    bool FClosed = false;
    int FTicks = 0;
    uint32_t FInhibitCookie = 0;
};

// No text of a banner is wider than this many pixels.
constexpr int MaxBannerTextWidth = 200;
// The text as it fits in MaxBannerTextWidth: whole, or cut at its last blank
// that leaves room for "...", or (with no blank to cut at) elided.
QString CutBannerText(const QString &Text, const QFontMetrics &Metrics);

void ShowScreenSaver();
bool ScreenSaverShown();
// The shown saver, or null.
TfrmMainScr *ScreenSaverForm();
// The progress line of a running check on the shown saver.
void DrawSaverStatus(const std::string &Text, bool Visible);
