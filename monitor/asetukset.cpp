#include "asetukset.h"

#include <QVBoxLayout>

#include "FrmMain.h"

TFormAsetukset *FormAsetukset = nullptr;

TFormAsetukset::TFormAsetukset(QWidget *owner) : QDialog(owner) {
    FormAsetukset = this;
    setWindowTitle("Tarnwick / Options");
    auto *layout = new QVBoxLayout(this);
    RichEdit1 = new QTextEdit(this);
    RichEdit1->setReadOnly(true);
    layout->addWidget(RichEdit1);
    Log = std::make_unique<TRichEditLog>(RichEdit1);
    Log->Clear();
    if (FrmMain) {
        FrmMain->Reporter.Log = Log.get();
        FrmMain->Reporter.LogReady = true;
    }
}

TFormAsetukset::~TFormAsetukset() {
    if (FrmMain && FrmMain->Reporter.Log == Log.get()) {
        FrmMain->Reporter.LogReady = false;
        FrmMain->Reporter.Log = nullptr;
    }
    if (FormAsetukset == this)
        FormAsetukset = nullptr;
}

void TFormAsetukset::SelectFirstPage() {}
void TFormAsetukset::SelectAboutPage() {}
void TFormAsetukset::SelectLogPage() {}
