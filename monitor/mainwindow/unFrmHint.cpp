#include "unFrmHint.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "Desktop.h"
#include "FrmMain.h"
#include "Graphics.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "SimpleTimer.h"
#include "settings/unLanguage.h"
#include "unScr.h"

namespace {

QPointer<TfrmHint> GForm;
bool GShown = false;

// Design sizes of the bubble and of the text's box inside it.
constexpr int BubbleWidth = 217, BubbleHeight = 177, TextLeft = 16, TextWidth = 193;
// However much text comes, the bubble stays on the screen.
constexpr int MaxTextLines = 40;

QFont HintFont(int points, bool bold = false, bool underline = false) {
    QFont f(MapFontFamily("MS Sans Serif"));
    f.setPixelSize(PointsToPixels(points));
    f.setBold(bold);
    f.setUnderline(underline);
    return f;
}

void SetColour(QLabel *l, const QColor &c) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, c);
    l->setPalette(p);
}

// The envelope of the popup, drawn at its 33 x 33 pixels.
QPixmap EnvelopePicture() {
    QPixmap pm(33, 33);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF body(2.5, 7.5, 28, 19);
    p.setPen(QPen(QColor(40, 60, 120), 1.5));
    p.setBrush(QColor(250, 250, 240));
    p.drawRoundedRect(body, 2, 2);
    p.setBrush(QColor(225, 230, 245));
    QPolygonF flap{QPointF(2.5, 8), QPointF(16.5, 19), QPointF(30.5, 8)};
    p.drawPolygon(flap);
    p.setPen(QPen(QColor(200, 40, 40), 1));
    p.setBrush(QColor(220, 50, 50));
    p.drawEllipse(QPointF(26.5, 8.5), 5, 5);
    return pm;
}

QRect Screen() {
    QScreen *s = QGuiApplication::primaryScreen();
    return s ? s->geometry() : QRect(0, 0, 1024, 768);
}

int WorkAreaBottom() {
    QScreen *s = QGuiApplication::primaryScreen();
    if (!s)
        return 768;
    QRect a = s->availableGeometry();
    return a.y() + a.height();
}

}  // namespace

TfrmHint::TfrmHint(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle("Tarnwick");
    Shape1 = QRect(0, 0, BubbleWidth, BubbleHeight);
    Shape3 = QRect(BubbleWidth - 57, BubbleHeight + 10, 17, 17);
    Shape4 = QRect(BubbleWidth - 57, BubbleHeight + 30, 9, 9);
    Bevel2 = QRect(9, 42, BubbleWidth - 18, 2);
    Bevel1 = QRect(9, BubbleHeight - 53, BubbleWidth - 18, 2);

    auto label = [this](const QFont &font, const QColor &colour) {
        auto *l = new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        l->setFont(font);
        SetColour(l, colour);
        l->installEventFilter(this);
        return l;
    };
    Image1 = new QLabel(this);
    Image1->setPixmap(EnvelopePicture());
    Image1->setGeometry(8, 5, 33, 33);
    Image1->installEventFilter(this);
    Label1 = label(HintFont(10, true, true), QColor(0, 0, 255));
    Label1->setText("Tarnwick:");
    Label1->move(48, 14);
    Label1->adjustSize();
    Label3 = label(HintFont(8), Qt::black);
    Label3->move(TextLeft, 46);
    Label5 = label(HintFont(8, false, true), QColor(0, 0, 255));
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->setText("Read messages with message reader");
    Label4 = label(HintFont(8, false, true), QColor(0, 0, 255));
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->setText("Run default emil client");

    Timer1 = new TTimer;
    Timer1->setParent(this);
    Timer1->SetOnTimer([this](QObject *) { Timer1Timer(); });
    Timer2 = new TTimer;
    Timer2->setParent(this);
    Timer2->SetInterval(100);
    Timer2->SetOnTimer([this](QObject *) { Timer2Timer(); });
}

TfrmHint::~TfrmHint() {
    if (GForm == this)
        GShown = false;
}

void TfrmHint::SetText(const std::string &Text) {
    // Lines end with CR (and maybe LF); trailing ends make no empty lines.
    QString t = QString::fromStdString(Text);
    t.replace("\r\n", "\n");
    t.replace('\r', '\n');
    while (t.endsWith('\n'))
        t.chop(1);
    QStringList lines = t.split('\n');
    // No more lines than the work area holds beside the bubble's own rows,
    // and no line wider than the screen beside its margins.
    QFontMetrics fm(Label3->font());
    const int fit = std::max(1, (WorkAreaBottom() - 160) / std::max(1, fm.lineSpacing()));
    const int maxLines = std::min(MaxTextLines, fit);
    if (lines.size() > maxLines) {
        lines = lines.mid(0, maxLines);
        lines.last() = "...";
    }
    int maxWidth = std::max(TextWidth, Screen().width() - 40);
    for (QString &line : lines)
        line = fm.elidedText(line, Qt::ElideRight, maxWidth);
    Label3->setText(lines.join('\n'));
    LayOut();
}

void TfrmHint::LayOut() {
    // The text sizes itself; a wide text (or a long link in another
    // language) widens the bubble, a narrow one keeps the design width.
    Label3->adjustSize();
    Label4->adjustSize();
    Label5->adjustSize();
    int widest = std::max({Label3->width(), Label4->width() - 2, Label5->width() - 2});
    int bubbleWidth = widest > TextWidth ? widest + 21 : BubbleWidth;
    int bubbleHeight = Label3->height() + 100;
    Shape1 = QRect(0, 0, bubbleWidth, bubbleHeight);
    Bevel1 = QRect(9, bubbleHeight - 53, bubbleWidth - 18, 2);
    Bevel2.setWidth(bubbleWidth - 18);
    Label5->move(TextLeft, Bevel1.top() + 16);
    Label4->move(TextLeft, Label5->y() + 16);
    Shape3.moveTo(bubbleWidth - 57, bubbleHeight + 10);
    Shape4.moveTo(bubbleWidth - 57, bubbleHeight + 30);
    int formWidth = bubbleWidth + 1, formHeight = bubbleHeight + 45;
    QRect screen = Screen();
    int taskbar = screen.height() - WorkAreaBottom();
    setGeometry(screen.width() - bubbleWidth - 1, screen.height() - taskbar - formHeight + 5, formWidth,
                formHeight);
    setMask(Shape());
    update();
}

void TfrmHint::PaintShapes(QPainter &p, const QBrush &fill, const QPen &pen) const {
    p.setBrush(fill);
    p.setPen(pen);
    // Corners as the classic rounded-rectangle shape draws them: a quarter
    // of the shorter side across.
    int corner = std::min(Shape1.width(), Shape1.height()) / 8;
    p.drawRoundedRect(Shape1.adjusted(0, 0, -1, -1), corner, corner);
    p.drawEllipse(Shape3.adjusted(0, 0, -1, -1));
    p.drawEllipse(Shape4.adjusted(0, 0, -1, -1));
}

QRegion TfrmHint::Shape() const {
    // The mask is painted with the very shapes the window paints, outline
    // included, so the cut edge is the outline.
    QImage shapes(size(), QImage::Format_ARGB32_Premultiplied);
    shapes.fill(Qt::transparent);
    QPainter p(&shapes);
    PaintShapes(p, Qt::black, QPen(Qt::black, 1));
    p.end();
    return QRegion(QBitmap::fromImage(shapes.createAlphaMask()));
}

void TfrmHint::paintEvent(QPaintEvent *) {
    QPainter p(this);
    PaintShapes(p, QColor(255, 255, 225), QPen(QColor(60, 60, 60), 1));
    for (const QRect &b : {Bevel1, Bevel2}) {
        p.fillRect(b.x(), b.y(), b.width(), 1, QColor(160, 160, 150));
        p.fillRect(b.x(), b.y() + 1, b.width(), 1, Qt::white);
    }
}

void TfrmHint::Timer1Timer() {
    Timer2->SetEnabled(false);
    Timer1->SetEnabled(false);
    if (GForm == this) {
        GShown = false;
        GForm = nullptr;
    }
    hide();
    deleteLater();
}

void TfrmHint::Timer2Timer() {
    // Never over the program's own screen saver.
    if (!ScreenSaverShown() && isVisible())
        raise();
}

void TfrmHint::FormClick() {
    if (GForm != this || !GShown)
        return;
    Timer2->SetEnabled(false);
    Timer1->SetInterval(10);
    Timer1->SetEnabled(true);
}

void TfrmHint::Label5Click(QLabel *Sender) {
    hide();
    Timer2->SetEnabled(false);
    QPointer<TfrmHint> self = this;
    if (Sender == Label5) {
        bool running = Timer1->Enabled();
        Timer1->SetEnabled(false);
        if (FrmMain)
            FrmMain->Readmessges1Click();
        // The reader's own loop may have seen the popup go.
        if (!self)
            return;
        Timer1->SetEnabled(running);
    } else if (Sender == Label4) {
        std::string client;
        try {
            client = IniReadString(SettingsFilePath(), "Options", "EMailClPath", "");
        } catch (const Exception &) {
        }
        if (!client.empty())
            Desktop().StartProgram(client);
    }
    FormClick();
}

void TfrmHint::mousePressEvent(QMouseEvent *) { FormClick(); }

bool TfrmHint::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::MouseButtonPress)
        return QWidget::eventFilter(watched, event);
    try {
        if (watched == Label4 || watched == Label5)
            Label5Click(static_cast<QLabel *>(watched));
        else
            FormClick();
    } catch (...) {
        // Nothing a click starts may leave the event loop.
    }
    return true;
}

void ShowMailHint(const std::string &Text, int DurationMs) {
    if (GShown && GForm) {
        GForm->Timer1->SetEnabled(false);
        GForm->SetText(Text);
        GForm->Timer1->SetInterval(unsigned(std::max(0, DurationMs)));
        GForm->Timer1->SetEnabled(true);
        return;
    }
    auto *form = new TfrmHint;
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->Label4->setText(QString::fromStdString(LangText("Options", "RunEMClient", "Run default emil client")));
    form->Label5->setText(
        QString::fromStdString(LangText("MainForm", "ReadWithMR", "Read messages with message reader")));
    form->SetText(Text);
    form->Timer1->SetInterval(unsigned(std::max(0, DurationMs)));
    form->Timer1->SetEnabled(true);
    form->Timer2->SetEnabled(true);
    GForm = form;
    GShown = true;
    form->show();
}

bool MailHintShown() { return GShown && GForm; }

void CloseMailHint() {
    if (GForm) {
        TfrmHint *form = GForm;
        form->Timer1->SetEnabled(false);
        form->Timer1Timer();
    }
    GShown = false;
}

TfrmHint *MailHintForm() { return GShown ? GForm.data() : nullptr; }
