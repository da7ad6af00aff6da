#include "unScr.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRandomGenerator>
#include <QScreen>
#include <algorithm>

#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "FrmMain.h"
#include "Graphics.h"
#include "SimpleTimer.h"
#include "settings/unLanguage.h"

namespace {

QPointer<TfrmMainScr> GForm;
bool GShown = false;

constexpr const char *MoreMessages = "...........";

QFont SaverFont(const char *name, int points, bool bold, bool italic, bool underline) {
    QFont f(MapFontFamily(name));
    f.setPixelSize(PointsToPixels(points));
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    return f;
}

int Random(int Bound) { return Bound <= 0 ? 0 : int(QRandomGenerator::global()->bounded(Bound)); }

bool Overlaps(const TSaverBanner &a, int Y, int Height) {
    return a.Height > 0 && Y < a.Y + a.Height && a.Y < Y + Height;
}

}  // namespace

QString CutBannerText(const QString &Whole, const QFontMetrics &Metrics) {
    // No more letters than the width could ever hold are looked at, so a
    // huge subject costs no more than a short one.
    const QString Text = Whole.left(MaxBannerTextWidth);
    if (Text.size() == Whole.size() && Metrics.horizontalAdvance(Text) <= MaxBannerTextWidth)
        return Text;
    for (qsizetype i = Text.lastIndexOf(' '); i > 0; i = Text.lastIndexOf(' ', i - 1)) {
        QString cut = Text.left(i).trimmed() + "...";
        if (Metrics.horizontalAdvance(cut) <= MaxBannerTextWidth && !Text.left(i).trimmed().isEmpty())
            return cut;
    }
    return Metrics.elidedText(Text, Qt::ElideRight, MaxBannerTextWidth);
}

TfrmMainScr::TfrmMainScr(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle("Tarnwick Screensaver");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    Timer1 = new TTimer;
    Timer1->setParent(this);
    Timer1->SetInterval(20);
    Timer1->SetOnTimer([this](QObject *) {
        try {
            Timer1Timer();
        } catch (...) {
        }
    });
}

TfrmMainScr::~TfrmMainScr() {
    if (GForm == this)
        GShown = false;
}

void TfrmMainScr::FormCreate() {
    QScreen *s = QGuiApplication::primaryScreen();
    QRect desktop = s ? s->virtualGeometry() : QRect(0, 0, 1024, 768);
    setGeometry(desktop);
    ScreenWidth = desktop.width();
    ScreenHeight = desktop.height();
    LastCursor = QCursor::pos();
    setCursor(Qt::BlankCursor);
    // Accounts with new mail get a banner; it is painted at the first tick
    // and enters from the right.
    Banners.clear();
    if (FrmMain) {
        const TAccountArray &a = FrmMain->State.Accounts;
        for (int i = 0; i < a.Count(); ++i)
            if (a[i].NewCount > 0) {
                TSaverBanner b;
                b.Account = i;
                b.X = -500;
                Banners.push_back(std::move(b));
            }
    }
    FInhibitCookie = Desktop().InhibitScreenSaver("Tarnwick shows its own screen saver");
    Timer1->SetEnabled(true);
}

void TfrmMainScr::showEvent(QShowEvent *) {
    raise();
    activateWindow();
    grabMouse(Qt::BlankCursor);
    grabKeyboard();
}

bool TfrmMainScr::PaintBanner(TSaverBanner &Banner) {
    if (!FrmMain)
        return false;
    const TAccountArray &a = FrmMain->State.Accounts;
    if (Banner.Account < 0 || Banner.Account >= a.Count() || a[Banner.Account].NewCount <= 0)
        return false;
    const Tiedot &t = a[Banner.Account];
    const QFont nameFont = SaverFont("Arial", 12, true, true, false);
    const QFont senderFont = SaverFont("Arial", 8, false, false, true);
    const QFont subjectFont = SaverFont("Arial", 10, false, false, false);
    const QFontMetrics nm(nameFont), sm(senderFont), jm(subjectFont);

    struct TLine {
        QString Text;
        const QFont *Font;
        QColor Colour;
        int Indent, Top;
    };
    std::vector<TLine> lines;
    int y = 0;
    auto add = [&](const QString &text, const QFont &font, const QFontMetrics &m, QColor colour, int indent,
                   int gapAfter) {
        lines.push_back({CutBannerText(text, m), &font, colour, indent, y});
        y += m.height() + gapAfter;
    };
    QString name = QString::fromStdString(t.Name.empty() ? t.Host : t.Name);
    add(name, nameFont, nm, ColorToQColor(StringToColorDef(t.OwnColor, clGreen)), 0, 3);
    // The banner is never taller than the screen: what does not fit is
    // closed by a row of dots.
    const int perMessage = sm.height() + jm.height() + 4;
    const int limit = std::max(ScreenHeight, nm.height() + perMessage + sm.height());
    for (int k = 0; k < t.NewCount; ++k) {
        if (y + perMessage + sm.height() > limit) {
            add(MoreMessages, senderFont, sm, ColorToQColor(clSilver), 6, 0);
            break;
        }
        const std::string sender = k < t.Senders.Count() ? t.Senders[k] : std::string();
        const std::string subject = k < t.Subjects.Count() ? t.Subjects[k] : std::string();
        add(QString::fromStdString(sender), senderFont, sm, ColorToQColor(clSilver), 6, 0);
        add(QString::fromStdString(subject), subjectFont, jm, ColorToQColor(clWhite), 12, 4);
    }
    int width = 1;
    for (const TLine &l : lines)
        width = std::max(width, l.Indent + QFontMetrics(*l.Font).horizontalAdvance(l.Text) + 4);
    QImage bitmap(width, std::max(1, y), QImage::Format_RGB32);
    bitmap.fill(Qt::black);
    QPainter p(&bitmap);
    for (const TLine &l : lines) {
        p.setFont(*l.Font);
        p.setPen(l.Colour);
        p.drawText(l.Indent, l.Top + QFontMetrics(*l.Font).ascent(), l.Text);
    }
    p.end();
    Banner.Bitmap = std::move(bitmap);
    Banner.Width = Banner.Bitmap.width();
    Banner.Height = Banner.Bitmap.height();
    Banner.Step = 1 + Random(2);
    PlaceBanner(Banner);
    return true;
}

void TfrmMainScr::PlaceBanner(TSaverBanner &Banner) {
    const int maxY = std::max(0, ScreenHeight - Banner.Height);
    int total = 0;
    for (const TSaverBanner &b : Banners)
        total += &b == &Banner ? Banner.Height : b.Height;
    if (total > ScreenHeight / 2) {
        // Too crowded to keep them apart: anywhere will do.
        Banner.Y = Random(maxY + 1);
        return;
    }
    auto free = [&](int y) {
        for (const TSaverBanner &b : Banners)
            if (&b != &Banner && Overlaps(b, y, Banner.Height))
                return false;
        return true;
    };
    for (int i = 0; i < PlacementTries; ++i) {
        int y = Random(maxY + 1);
        if (free(y)) {
            Banner.Y = y;
            return;
        }
    }
    // Luck ran out: the first free place from the top, below another banner.
    std::vector<int> candidates{0};
    for (const TSaverBanner &b : Banners)
        if (&b != &Banner && b.Height > 0)
            candidates.push_back(b.Y + b.Height);
    std::sort(candidates.begin(), candidates.end());
    for (int y : candidates)
        if (y <= maxY && free(y)) {
            Banner.Y = y;
            return;
        }
    Banner.Y = Random(maxY + 1);
}

void TfrmMainScr::Timer1Timer() {
    if (FEnded)
        return;
    // Mail found while the saver shows gets a banner of its own.
    if (FrmMain) {
        const TAccountArray &a = FrmMain->State.Accounts;
        for (int i = 0; i < a.Count(); ++i) {
            if (a[i].NewCount <= 0)
                continue;
            bool has = std::any_of(Banners.begin(), Banners.end(), [i](const TSaverBanner &b) { return b.Account == i; });
            if (!has) {
                TSaverBanner b;
                b.Account = i;
                b.X = -500;
                Banners.push_back(std::move(b));
            }
        }
    }
    for (size_t i = 0; i < Banners.size();) {
        TSaverBanner &b = Banners[i];
        QRect before(b.X, b.Y, b.Width, b.Height);
        b.X -= b.Step;
        if (b.X + b.Width < 0) {
            // Wholly past the left edge: painted afresh, it enters again from
            // the right; an account whose mail is gone leaves the screen.
            if (!PaintBanner(b)) {
                update(before);
                Banners.erase(Banners.begin() + long(i));
                continue;
            }
            b.X = ScreenWidth;
        }
        update(before.united(QRect(b.X, b.Y, b.Width, b.Height)));
        ++i;
    }
    // The desktop's own saver, should it have started after all, is sent away.
    if (++FTicks % 25 == 1 && Desktop().ScreenSaverActive())
        Desktop().PokeScreenSaver();
    if (!isVisible()) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        show();
    }
    raise();
}

void TfrmMainScr::paintEvent(QPaintEvent *event) {
    QPainter p(this);
    const QRect area = event->rect();
    p.fillRect(area, Qt::black);
    for (const TSaverBanner &b : Banners) {
        QRect r(b.X, b.Y, b.Width, b.Height);
        if (!b.Bitmap.isNull() && r.intersects(area))
            p.drawImage(b.X, b.Y, b.Bitmap);
    }
    if (StatusVisible && !StatusText.empty()) {
        p.setFont(SaverFont("Arial", 10, false, true, false));
        p.setPen(ColorToQColor(clGreen));
        p.drawText(0, QFontMetrics(p.font()).ascent(), QString::fromStdString(StatusText));
    }
}

void TfrmMainScr::EndSaver() {
    if (FEnded)
        return;
    FEnded = true;
    Timer1->SetEnabled(false);
    // A check running beneath goes on to its end: its mail still gets its
    // alerts. Until it ends, this saver's loop cannot return, so the screen
    // and the desktop are handed back here and now.
    releaseMouse();
    releaseKeyboard();
    unsetCursor();
    ReleaseDesktopSaver();
    reject();
}

void TfrmMainScr::ReleaseDesktopSaver() {
    if (FInhibitCookie != 0) {
        Desktop().UnInhibitScreenSaver(FInhibitCookie);
        FInhibitCookie = 0;
    }
}

void TfrmMainScr::CursorMoved(const QPoint &GlobalPos) {
    if (std::abs(GlobalPos.x() - LastCursor.x()) > 2 || std::abs(GlobalPos.y() - LastCursor.y()) > 2)
        EndSaver();
}

void TfrmMainScr::keyPressEvent(QKeyEvent *) { EndSaver(); }

void TfrmMainScr::mousePressEvent(QMouseEvent *) { EndSaver(); }

void TfrmMainScr::mouseMoveEvent(QMouseEvent *event) { CursorMoved(event->globalPosition().toPoint()); }

void TfrmMainScr::FormClose() {
    if (FClosed)
        return;
    FClosed = true;
    Timer1->SetEnabled(false);
    releaseMouse();
    releaseKeyboard();
    unsetCursor();
    if (FrmMain) {
        TTrayIcon *tray = FrmMain->TrayIcon1;
        if (tray && tray->CycleIcons() && tray->IconList() == FrmMain->ImageList1) {
            if (FrmMain->State.Accounts.TotalNew > 0 && FrmMain->State.Options.AnimNewMails) {
                tray->SetIconList(FrmMain->ImageList2);
                tray->SetCycleInterval(200);
            } else {
                tray->SetCycleIcons(false);
                tray->SetIconIndex(0);
            }
        }
    }
    ReleaseDesktopSaver();
}

void ShowScreenSaver() {
    if (GShown)
        return;
    auto *form = new TfrmMainScr;
    GForm = form;
    GShown = true;
    try {
        form->FormCreate();
        ShowModal(*form);
    } catch (...) {
        form->FormClose();
        GShown = false;
        delete form;
        throw;
    }
    form->FormClose();
    GShown = false;
    GForm = nullptr;
    delete form;
}

// An ended saver whose loop still waits for a check beneath it is off the
// screen already: it is not shown, yet no other saver starts before its loop
// has returned.
bool ScreenSaverShown() { return GShown && GForm && !GForm->Ended(); }

TfrmMainScr *ScreenSaverForm() { return ScreenSaverShown() ? GForm.data() : nullptr; }

void DrawSaverStatus(const std::string &Text, bool Visible) {
    TfrmMainScr *form = ScreenSaverForm();
    if (!form)
        return;
    form->StatusText = Text + " " + LangText("MainForm", "SaverChecking", "checking messages...");
    form->StatusVisible = Visible;
    // The check blocks this thread; the line is drawn now, not at the next pass.
    if (form->isVisible())
        form->repaint(0, 0, form->width(), 40);
}
