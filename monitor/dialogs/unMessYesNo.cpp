#include "unMessYesNo.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "DialogSeam.h"
#include "settings/unLanguage.h"

namespace {
// The answer of the question on screen; closing leaves it at 2.
int gAnswer = 2;
}  // namespace

TfrmMessYesNo::TfrmMessYesNo(QWidget *owner) : QDialog(owner) {
    setObjectName("frmMessYesNo");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(390, 223);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setTextFormat(Qt::PlainText);
    Label1->setGeometry(6, 6, 377, 145);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);

    Label2 = new QLabel(this);
    Label2->setObjectName("Label2");
    Label2->setTextFormat(Qt::PlainText);
    Label2->setGeometry(6, 154, 377, 18);
    Label2->setAlignment(Qt::AlignCenter);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(6, 176, 377, 4);

    BitBtn1 = new QPushButton("Yes", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(104, 188, 85, 27);
    BitBtn2 = new QPushButton("No", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(201, 188, 85, 27);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmMessYesNo::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmMessYesNo::BitBtn2Click);
}

void TfrmMessYesNo::BitBtn1Click() {
    gAnswer = 0;
    accept();
}

void TfrmMessYesNo::BitBtn2Click() {
    gAnswer = 1;
    accept();
}

int AskYesNo(const std::string &Caption, const std::string &Question, const std::string &Note,
             int Right, int Bottom) {
    TfrmMessYesNo form(QApplication::activeWindow());
    form.setWindowTitle(QString::fromStdString("Tarnwick / " + Caption));
    form.Label1->setText(QString::fromStdString(Question));
    form.Label2->setText(QString::fromStdString(Note));
    form.move(Right - form.width() - 3, Bottom - form.height() - 3);
    form.BitBtn1->setText(QString::fromStdString(LangText("Options", "Yes", form.BitBtn1->text().toStdString())));
    form.BitBtn2->setText(QString::fromStdString(LangText("Options", "No", form.BitBtn2->text().toStdString())));
    gAnswer = 2;
    ShowModal(form);
    int answer = gAnswer;
    gAnswer = 2;
    return answer;
}
