// The option pages beside the accounts, log, languages and skins: the
// dependent controls, the samples and their fonts, the file choosers, start
// with Windows (an XDG autostart entry here), the default mail client, the
// date-format help, the update check and the About page's links. The rules
// page is in asetuksetRules.cpp.
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "Desktop.h"
#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "settings/Kel_Reg.h"
#include "Registry.h"
#include "updates/ProductWeb.h"
#include "settings/ProgramPaths.h"
#include "Shell.h"
#include "asetukset.h"
#include "settings/unLanguage.h"
#include "dialogs/unitMessages.h"

namespace {
QColor BgrColour(int bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

void SetLabelFont(QLabel *label, const TFont &font) {
    label->setFont(FontToQFont(font));
    QPalette p = label->palette();
    // Stored colours may be system colours (negative): those keep the text colour.
    if (font.Color >= 0) p.setColor(QPalette::WindowText, BgrColour(font.Color));
    label->setPalette(p);
}

// The Run key of the current user.
const char *kRunKey = "Software\\MicroSoft\\Windows\\CurrentVersion\\Run";

// The program the desktop starts at log-in.
std::string StartProgramPath() { return ProgramFolder() + "tarnwick"; }

// The font a font dialog chose, with what it has no say in (colour and
// character set) kept from the old one.
TFont ChosenFont(const QFont &chosen, const TFont &old) {
    TFont f = old;
    f.Name = chosen.family().toStdString();
    if (chosen.pointSize() > 0) f.Size = chosen.pointSize();
    f.Style = (chosen.bold() ? fsBold : 0) | (chosen.italic() ? fsItalic : 0) |
              (chosen.underline() ? fsUnderline : 0) | (chosen.strikeOut() ? fsStrikeOut : 0);
    return f;
}

// Runs the font dialog on a font; false when the user cancelled.
bool ChooseFont(QWidget *owner, TFont &font) {
    QFontDialog dialog(FontToQFont(font), owner);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    if (ShowModal(dialog) != QDialog::Accepted) return false;
    font = ChosenFont(dialog.selectedFont(), font);
    return true;
}

// A word of a command line as the command-line splitter reads it back: no
// quotes, blanks and the characters it treats specially escaped.
std::string EscapedWord(const std::string &word) {
    std::string out;
    for (char c : word) {
        if (c == ' ' || c == '\t' || c == '\\' || c == '\'' || c == '\r' || c == '\n') out += '\\';
        out += c;
    }
    return out;
}

// The name of a profile's start entry, its Run value's and its Startup
// shortcut's alike: "Tarnwick" for the plain profile (the name every release
// has used), "Tarnwick " + profile for another, with what a file name can not
// hold replaced as the desktop-entry names replace it.
std::string StartEntryName(const std::string &user) {
    if (user.empty()) return "Tarnwick";
    std::string name = "Tarnwick ";
    for (char c : user) name += (static_cast<unsigned char>(c) < ' ' || c == '/' || c == '\\') ? '_' : c;
    return name;
}

// The Run value's data: the program, and the switch of a profile.
std::string StartCommandLine(const std::string &user) {
    if (user.empty()) return StartProgramPath();
    return EscapedWord(StartProgramPath()) + " -user " + EscapedWord("-" + user);
}

}  // namespace

// ---- routines -------------------------------------------------------------------------------

void GetDefaultMailClient(std::string &Name, std::string &Command) {
    Name = RegReadString(TRegRoot::HKEY_LOCAL_MACHINE, "\\Software\\Clients\\Mail", "", "");
    Command.clear();
    if (Name.empty()) return;
    Command = RegReadString(TRegRoot::HKEY_LOCAL_MACHINE, "\\Software\\Clients\\Mail\\" + Name + "\\shell\\open\\command",
                            "", "");
}

std::string CleanCommandPath(const std::string &Command) {
    const std::string programs = GetSpecialFolderPath(10);
    std::string out;
    for (std::string word : SplitCommandLine(Command)) {
        // The splitter has taken the quotes away; a quote inside a word goes too.
        word = StringReplaceAll(word, "\"", "");
        word = StringReplaceAll(word, "%ProgramFiles%", programs);
        if (word.empty()) continue;
        if (!out.empty()) out += ' ';
        out += EscapedWord(word);
    }
    return out;
}

std::string DateFormatHelpText(TDateTime Now) {
    return "t = " + FormatDateTime("t", Now) + "\r\n" + "tt = " + FormatDateTime("tt", Now) + "\r\n" +
           "dd.mm.yy = " + FormatDateTime("dd.mm.yy", Now) + "\r\n" + "ddd d mmm yyyy = " +
           FormatDateTime("ddd d mmm yyyy", Now);
}

std::string DateFormatHelpLink() { return ProductWebLocation() + "dateformats.html"; }

QPoint TFormAsetukset::MessageCorner() const {
    QRect r = frameGeometry();
    return QPoint(r.right(), r.bottom());
}

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

// ---- handlers -------------------------------------------------------------------------------

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

void TFormAsetukset::bbBrowseClick(QObject *Sender) {
    const bool sound = Sender == bbBrowse;
    TRawEdit *edit = sound ? labSoundFile : labRunProg;
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (sound) {
        dialog.setNameFilters({"*.mp3;*.wav;*.mid (*.mp3 *.wav *.mid)", "*.mp3 (*.mp3)", "*.wav (*.wav)",
                               "*.mid (*.mid)"});
    } else {
        // A program here is any file the user may run, whatever its name.
        dialog.setNameFilters({QString::fromStdString(LangText("Options", "Programs", "Programs") + " (*)")});
        dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    }
    // The box's text is where the choice starts, when it names a place here
    // (not the "..." of an empty choice or a path from another system).
    const std::string start = edit->Raw();
    const std::string folder = ExtractFileDir(start);
    if (!folder.empty() && DirectoryExists(folder)) {
        dialog.setDirectory(QString::fromStdString(folder));
        dialog.selectFile(QString::fromStdString(ExtractFileName(start)));
    } else {
        dialog.setDirectory(QDir::home());
    }
    if (ShowModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    edit->SetRaw(dialog.selectedFiles().first().toStdString());
}

void TFormAsetukset::CheckBox6Click() {
    try {
        bool registry = StrToBoolean(IniReadString(SettingsFilePath(), "Options", "RegStartUp", "False"));
        const std::string startup = GetSpecialFolderPath(9);
        if (startup.empty()) registry = true;
        const std::string user = FrmMain ? FrmMain->State.User : std::string();
        // Each profile has an entry of its own, and this touches no other
        // profile's: the Run value and the shortcut carry the profile in
        // their name (both are the same autostart entry here) and start the
        // program with its switch. An entry an older release made under the
        // plain name stays the plain profile's.
        const std::string name = StartEntryName(user);
        const std::string link = startup + "/" + name + ".lnk";
        const std::string entry = ShortcutFileName(link);
        const bool ticked = CheckBox6->isChecked();
        if (registry) {
            if (!startup.empty() && FileExists(entry)) DeleteFile(entry);
            if (ticked) RegWriteString(kRunKey, name, StartCommandLine(user));
            else RegDeleteValue(kRunKey, name);
            return;
        }
        RegDeleteValue(kRunKey, name);
        if (ticked) {
            ForceDirectories(startup);
            // Quoted, so that a profile name with a blank stays one argument.
            if (!CreateShortcut(link, "", StartProgramPath(), user.empty() ? "" : "-user \"-" + user + "\"",
                                ProgramFolder(), "", 0, 0))
                RegWriteString(kRunKey, name, StartCommandLine(user));
        } else if (FileExists(entry)) {
            DeleteFile(entry);
        }
    } catch (const Exception &e) {
        // OK runs this too: its failure must not keep the other settings.
        if (FrmMain) FrmMain->ReportEvent("Start with the desktop: " + e.Message(), 0, 6, TEventReporter::clRed);
    }
}

bool TFormAsetukset::StartsWithDesktop() const {
    try {
        // The Run value and the shortcut are the same autostart entry.
        return RegValueExists(TRegRoot::HKEY_CURRENT_USER, kRunKey,
                              StartEntryName(FrmMain ? FrmMain->State.User : std::string()));
    } catch (const Exception &) {
        return false;
    }
}

void TFormAsetukset::cbRunEmailClClick() {
    std::string name, command;
    GetDefaultMailClient(name, command);
    Label27->setText(QString::fromStdString(name));
    if (cbRunEmailCl->isChecked()) {
        Label27->setEnabled(true);
        IniWriteString(SettingsFilePath(), "Options", "EMailClPath", CleanCommandPath(command));
    } else {
        Label27->setEnabled(false);
    }
}

void TFormAsetukset::Label38Click() {
    QPoint corner = MessageCorner();
    ShowMessageWindow(LangText("Options", "SomeValues", "Some values"), DateFormatHelpText(Now()),
                      DateFormatHelpLink(), corner.x(), corner.y(), 2);
}

void TFormAsetukset::Label40Click(QObject *Sender) {
    for (QObject *quote : {Label42, Label43, Label44, Label45, Label46, Label47})
        if (Sender == quote) {
            if (ChooseFont(this, QuotesFont)) SetSampleFont();
            return;
        }
    Label48Click();
}

void TFormAsetukset::Label48Click() {
    if (ChooseFont(this, MessageFont)) SetSampleFont();
}

void TFormAsetukset::BitBtn1Click() {
    if (!FrmMain || RefusedForFenlowJob()) return;
    FrmMain->CheckProgramUpdate();
    QPoint corner = MessageCorner();
    FrmMain->ShowUpdateOutcome(corner.x(), corner.y());
}
