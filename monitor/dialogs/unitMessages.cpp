#include "unitMessages.h"

#include <QApplication>
#include <QFrame>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>

#include "DialogSeam.h"
#include "Shell.h"
#include "settings/unLanguage.h"

void TClickLabel::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) emit clicked();
    QLabel::mousePressEvent(event);
}

namespace {

QPixmap StandardPicture(QStyle::StandardPixmap which) {
    return QApplication::style()->standardIcon(which).pixmap(48, 48);
}

}  // namespace

TForm1::TForm1(QWidget *owner) : QDialog(owner) {
    setObjectName("Form1");
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(361, 177);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setGeometry(8, 8, 48, 48);
    Image1->setPixmap(StandardPicture(QStyle::SP_MessageBoxInformation));
    Image2 = new QLabel(this);
    Image2->setObjectName("Image2");
    Image2->setPixmap(StandardPicture(QStyle::SP_MessageBoxCritical));
    Image2->hide();
    Image3 = new QLabel(this);
    Image3->setObjectName("Image3");
    Image3->setPixmap(StandardPicture(QStyle::SP_MessageBoxWarning));
    Image3->hide();

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setTextFormat(Qt::PlainText);
    Label1->setGeometry(64, 8, 289, 20);
    Label1->setAlignment(Qt::AlignCenter);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);

    Label2 = new QLabel(this);
    Label2->setObjectName("Label2");
    Label2->setTextFormat(Qt::PlainText);
    Label2->setGeometry(64, 32, 289, 72);
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setWordWrap(true);

    Label3 = new TClickLabel(this);
    Label3->setObjectName("Label3");
    Label3->setGeometry(0, 108, 361, 18);
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setStyleSheet("color: blue; text-decoration: underline;");
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->setTextFormat(Qt::PlainText);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 130, 345, 4);

    btOk = new QPushButton("OK", this);
    btOk->setObjectName("btOk");
    btOk->setGeometry(143, 140, 75, 25);
    btOk->setDefault(true);

    connect(btOk, &QPushButton::clicked, this, &TForm1::btOkClick);
    connect(Label3, &TClickLabel::clicked, this, &TForm1::Label3Click);
}

void TForm1::btOkClick() { accept(); }

void TForm1::Label3Click() {
    try {
        ShellOpen(Label3->text().toStdString());
    } catch (...) {
        // Opening a link must never take the window down.
    }
}

void TForm1::FormShow() {}

void ShowMessageWindow(const std::string &Title, const std::string &Text, const std::string &Link,
                       int Right, int Bottom, int PictureKind) {
    TForm1 form(QApplication::activeWindow());
    form.setWindowTitle(QString::fromStdString("Tarnwick / " + Title));
    // The corner is the frame's: the window stands above the panel, not
    // under it by the height of its title.
    const QSize outer = ExpectedFrameSize(form);
    form.move(Right - outer.width(), Bottom - outer.height());
    form.Label1->setText(QString::fromStdString(Title));
    form.Label2->setText(QString::fromStdString(Text));
    form.btOk->setText(QString::fromStdString(LangText("Options", "Ok", form.btOk->text().toStdString())));
    form.Label3->setVisible(!Link.empty());
    form.Label3->setText(QString::fromStdString(Link));
    if (PictureKind == 1) form.Image1->setPixmap(form.Image3->pixmap());
    else if (PictureKind == 0) form.Image1->setPixmap(form.Image2->pixmap());
    ShowModal(form);
}
