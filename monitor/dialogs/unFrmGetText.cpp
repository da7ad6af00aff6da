#include "unFrmGetText.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "DialogSeam.h"
#include "settings/unLanguage.h"

namespace {
bool GOpen = false;
std::string GResult;  // what the last OK took
}  // namespace

TfrmGetText::TfrmGetText(QWidget *owner) : QDialog(owner) {
    setObjectName("frmGetText");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(283, 171);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setTextFormat(Qt::PlainText);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label1->setGeometry(21, 16, 241, 33);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(21, 60, 241, 26);

    BitBtn1 = new QPushButton("Ok", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(40, 118, 95, 28);
    BitBtn2 = new QPushButton("Cancel", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(148, 118, 95, 28);
    // Enter and Escape are handled by keyPressEvent, not by default buttons.
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmGetText::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmGetText::BitBtn2Click);
}

void TfrmGetText::BitBtn1Click() {
    if (Edit1->text().isEmpty()) {
        Edit1->setFocus();
        return;
    }
    GResult = Edit1->text().toStdString();
    accept();
}

void TfrmGetText::BitBtn2Click() { reject(); }

void TfrmGetText::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        BitBtn1Click();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        BitBtn2Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TextInputDialogOpen() { return GOpen; }

std::string ShowTextInputDialog(const std::string &Title, const std::string &Prompt,
                                const std::string &InitialText, int Left, int Top, bool Password) {
    TfrmGetText form(QApplication::activeWindow());
    form.setWindowTitle(QString::fromStdString("Tarnwick / " + Title));
    form.Label1->setText(QString::fromStdString(Prompt));
    form.Edit1->setText(QString::fromStdString(InitialText));
    form.move(Left, Top);
    form.BitBtn1->setText(QString::fromStdString(LangText("Options", "Ok", form.BitBtn1->text().toStdString())));
    form.BitBtn2->setText(
        QString::fromStdString(LangText("Options", "Cancel", form.BitBtn2->text().toStdString())));
    if (Password) form.Edit1->setEchoMode(QLineEdit::Password);
    GResult.clear();
    GOpen = true;
    struct TClearOpen {
        ~TClearOpen() { GOpen = false; }
    } clearOpen;
    ShowModal(form);
    std::string result = GResult;
    GResult.clear();
    return result;
}
