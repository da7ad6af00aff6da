// The option pages beside the accounts, log, languages and skins, and the
// rules page: the dependent controls, the samples, the rule list and the
// About page's links. The file choosers, start with Windows, the default
// mail client, the font and date-format dialogs, the update check and the
// rule buttons are not built yet: their handlers do nothing so far.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "FrmMain.h"
#include "Kel_Reg.h"
#include "ProductWeb.h"
#include "ProgramPaths.h"
#include "Shell.h"
#include "asetukset.h"
#include "unitMessages.h"

namespace {
QColor BgrColour(int bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

void SetLabelFont(QLabel *label, const TFont &font) {
    label->setFont(FontToQFont(font));
    QPalette p = label->palette();
    // Stored colours may be system colours (negative): those keep the text colour.
    if (font.Color >= 0) p.setColor(QPalette::WindowText, BgrColour(font.Color));
    label->setPalette(p);
}
}  // namespace

void TFormAsetukset::cbShowTopClick(QObject *Sender) {
    if (Sender == cbShowTop) cbShowDown->setChecked(!cbShowTop->isChecked());
    else if (Sender == cbShowDown) cbShowTop->setChecked(!cbShowDown->isChecked());
    else if (Sender == cbShowMwssage) {
        cbShowTop->setEnabled(cbShowMwssage->isChecked());
        cbShowDown->setEnabled(cbShowMwssage->isChecked());
    } else if (Sender == cbSatunSkinVaihto) {
        CheckListBox2->setEnabled(!cbSatunSkinVaihto->isChecked());
    } else if (Sender == cbPlaySound) {
        labSoundFile->setEnabled(cbPlaySound->isChecked());
        bbBrowse->setEnabled(cbPlaySound->isChecked());
    } else if (Sender == cbRunProg) {
        labRunProg->setEnabled(cbRunProg->isChecked());
        bbBrowse2->setEnabled(cbRunProg->isChecked());
    } else if (Sender == CheckBox10) {
        IniWriteString(SettingsFilePath(), "Options", "AutoUpdate", BooleanToStr(CheckBox10->isChecked()));
    } else if (Sender == imColor) {
        imColorClick();
    } else if (Sender == btnVewDel) {
        btnVewDelClick();
    } else if (Sender == CheckBox12) {
        SpinEdit5->setEnabled(CheckBox12->isChecked());
    }
}

void TFormAsetukset::CheckBox3Click() {
    Label16->setText(CheckBox3->isChecked() ? "Tarnwick Team <team@tarnwick.example.org>" : "Tarnwick Team");
}

void TFormAsetukset::SetSampleFont() {
    SetLabelFont(Label40, MessageFont);
    for (QLabel *quote : {Label42, Label43, Label44, Label45, Label46, Label47}) SetLabelFont(quote, QuotesFont);
}

void TFormAsetukset::ListRuleFiles() {
    const std::string folder = RulesFolder();
    FBuilding = true;
    ListBox1->clear();
    for (const auto &name : ListDirectory(folder, true, false)) {
        if (!MatchesMask(name, "*.rul")) continue;
        bool enabled = true;
        try {
            enabled = StrToBoolean(IniReadString(folder + name, "Rule", "Enabled", "True"));
        } catch (const Exception &) {
            // A rule file that cannot be read is listed as it would run.
        }
        ListBox1->AddLine(CutExtension(name), enabled);
    }
    FBuilding = false;
}

void TFormAsetukset::Label2Click(QObject *Sender) {
    if (Sender == Label2) ShellOpen("mailto:" + Label2->text().toStdString());
    else ShellOpen(ProductWebLocation());
}

// Not built yet (the option pages' own work).
void TFormAsetukset::bbBrowseClick(QObject *) {}
void TFormAsetukset::CheckBox6Click() {}
void TFormAsetukset::cbRunEmailClClick() {}
void TFormAsetukset::Label38Click() {}
void TFormAsetukset::Label40Click(QObject *) {}
void TFormAsetukset::Label48Click() {}
void TFormAsetukset::BitBtn1Click() {}
void TFormAsetukset::BitBtn5Click() {}
void TFormAsetukset::BitBtn7Click() {}
void TFormAsetukset::BitBtn8Click() {}
void TFormAsetukset::bbDelBLClick() {}
