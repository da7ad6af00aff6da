// The languages and skins pages of the Options dialog, and applying a
// language file to the whole dialog. A choice here reaches the main window
// only at OK.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

#include "Desktop.h"
#include "mainwindow/FrmMain.h"
#include "IniFile.h"
#include "updates/Kel_Files.h"
#include "settings/Kel_Reg.h"
#include "updates/ProductWeb.h"
#include "settings/ProgramPaths.h"
#include "mainwindow/SkinPictures.h"
#include "Shell.h"
#include "settings/VeskRutins.h"
#include "asetukset.h"
#include "settings/unDecodes.h"
#include "settings/unLanguage.h"
#include "dialogs/unitDown.h"
#include "dialogs/unitMessages.h"

namespace {

std::string Display(const std::string &s) { return IsValidUtf8(s) ? s : Cp1252ToUtf8(s); }

// One argument of a command line, as SplitCommandLine takes it apart again.
std::string QuoteArg(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A skin name that can only mean a folder directly under "skins".
bool IsPlainFolderName(const std::string &name) {
    return !name.empty() && name != "." && name != ".." && !Contains(name, "/") && !Contains(name, "\\");
}

}  // namespace

std::string TFormAsetukset::TickedLine(TCheckListBox *List) const {
    for (int i = 0; i < List->Count(); ++i)
        if (List->Checked(i)) return List->Line(i);
    return {};
}

// ---- lists --------------------------------------------------------------------------------

void TFormAsetukset::ListLanguageFiles() {
    std::string current = FrmMain ? FrmMain->State.Options.Language : LanguageFileName();
    TStringList names;
    for (const auto &n : ListDirectory(ProgramFile("Lang"), true, false))
        if (MatchesMask(n, "*.lng")) names.Add(LowerCase(n));
    names.Sort();
    FBuilding = true;
    CheckListBox1->clear();
    for (const auto &n : names) {
        bool tick = SameText(n, current);
        CheckListBox1->AddLine(n, tick);
        if (tick) CheckListBox1->SetItemIndex(CheckListBox1->Count() - 1);
    }
    FBuilding = false;
}

void TFormAsetukset::ListSkinFolders() {
    std::string current = FrmMain ? FrmMain->State.Options.Skin : std::string("Default");
    TStringList names;
    for (const auto &n : ListDirectory(ProgramFile("skins"), false, true)) names.Add(LowerCase(n));
    names.Sort();
    FBuilding = true;
    CheckListBox2->clear();
    QString ownSkin = cbOwnSkins->currentText();
    cbOwnSkins->clear();
    cbOwnSkins->addItem("");
    for (const auto &n : names) {
        bool tick = SameText(n, current);
        CheckListBox2->AddLine(n, tick);
        if (tick) CheckListBox2->SetItemIndex(CheckListBox2->Count() - 1);
        cbOwnSkins->addItem(QString::fromStdString(Display(n)), QByteArray::fromStdString(n));
    }
    cbOwnSkins->setEditText(ownSkin);
    FBuilding = false;
}

void TFormAsetukset::ShowSkinInfo(const std::string &Name) {
    std::string version = ".....", author = ".....", email = ".....", other;
    QImage preview;
    if (IsPlainFolderName(Name)) {
        const std::string folder = ProgramFile("skins/" + Name);
        try {
            TMemIniFile ini(ResolvePathCI(folder + "/" + Name + ".skn"));
            version = ini.ReadString("About", "Version", version);
            author = ini.ReadString("About", "Author", author);
            email = ini.ReadString("About", "AuthorEmail", email);
            other = ini.ReadString("About", "Other", other);
        } catch (const Exception &) {
            // An unreadable skin file shows no information.
        }
        const std::string bmp = ResolvePathCI(folder + "/screenshot.bmp");
        const std::string jpg = ResolvePathCI(folder + "/screenshot.jpg");
        // A downloaded skin's picture is read as the main window reads its own:
        // bounded, and a broken one shows no preview.
        const std::string &file = FileExists(bmp) ? bmp : jpg;
        if (FileExists(file) && !LoadSkinPicture(file, preview))
            preview = QImage();
    }
    Label15->setText(QString::fromStdString(Display(version)));
    Label12->setText(QString::fromStdString(Display(author)));
    Label13->setText(QString::fromStdString(Display(email)));
    Label26->setText(QString::fromStdString(Display(other)));
    Label13->setVisible(!email.empty());
    Label32->setVisible(!other.empty());
    Label26->setVisible(!other.empty());
    if (!preview.isNull()) {
        Image1->setPixmap(QPixmap::fromImage(
            preview.scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        Label18->setText("");
    } else {
        Image1->setPixmap(QPixmap());
        Label18->setText("review is not available");
    }
}

// ---- language -------------------------------------------------------------------------------

void TFormAsetukset::ApplyOptionsLanguage(const std::string &LanguageFile) {
    std::unique_ptr<TMemIniFile> ini;
    try {
        ini = std::make_unique<TMemIniFile>(LanguageFile);
        ini->ReadString("Options", "Ok", "");  // reads the file now: a bad one changes nothing
    } catch (const Exception &e) {
        if (FrmMain) FrmMain->ReportEvent(LanguageFile + ": " + e.Message(), 0, 6, TEventReporter::clRed);
        return;
    }
    auto read = [&](const std::string &section, const std::string &key, const std::string &shown) {
        return Display(ini->ReadString(section, key, shown));
    };
    for (const auto &c : FCaptions) c.Set(read(c.Section, c.Key, c.Get()));
    // The child of "Message options" carries both words.
    std::string messageOptions = read("Options", "Message options", FFixedNodes[0]->text(0).toStdString());
    std::string otherOptions = read("Options", "Other options", "Other Options");
    FFixedNodes[1]->setText(0, QString::fromStdString(messageOptions + " / " + otherOptions));
    setWindowTitle(QString::fromStdString("Tarnwick / " + read("Options", "Options", "Options")));
    Label3->setText(QString::fromStdString(read("About", "Language", Label3->text().toStdString())));
    Label4->setText(QString::fromStdString(read("About", "Version", Label4->text().toStdString())));
    Label5->setText(QString::fromStdString(read("About", "Author", Label5->text().toStdString())));
    Label9->setText(QString::fromStdString(read("About", "AuthorEmail", Label9->text().toStdString())));
    if (QTreeWidgetItem *node = TreeView1->currentItem()) Label23->setText("   " + node->text(0));
    FitTreeWidth();
}

void TFormAsetukset::CheckListBox1ClickCheck(TCheckListBox *List, int Row) {
    FBuilding = true;
    for (int i = 0; i < List->Count(); ++i)
        if (i != Row && List->Checked(i)) List->SetChecked(i, false);
    FBuilding = false;
}

void TFormAsetukset::CheckListBox1Click(TCheckListBox *List, int Row) {
    if (Row < 0 || Row >= List->Count()) return;
    FBuilding = true;
    for (int i = 0; i < List->Count(); ++i) List->SetChecked(i, i == Row);
    FBuilding = false;
    const std::string line = List->Line(Row);
    if (List == CheckListBox1) {
        ApplyOptionsLanguage(LanguageFilePath(line));
        return;
    }
    if (FrmMain && FrmMain->SkinExists(line)) {
        ShowSkinInfo(line);
        return;
    }
    QRect r = frameGeometry();
    ShowMessageWindow(LangText("Messages", "50", "Warning"), LangText("Messages", "51", "Wrong Skin"), "",
                      r.right(), r.bottom(), 0);
    // Back to the skin in use.
    std::string current = FrmMain ? FrmMain->State.Options.Skin : std::string("Default");
    FBuilding = true;
    for (int i = 0; i < List->Count(); ++i) {
        bool tick = SameText(List->Line(i), current);
        List->SetChecked(i, tick);
        if (tick) List->SetItemIndex(i);
    }
    FBuilding = false;
}

void TFormAsetukset::Label9Click(QLabel *Sender) {
    std::string address = Trim(Sender->text().toStdString());
    if (address.empty() || address == ".....") return;
    ShellOpen("mailto:" + address);
}

// ---- skin buttons --------------------------------------------------------------------------

void TFormAsetukset::ShowFenlowJob(bool Running) {
    // What would collide with Fenlow's job is not offered while it runs: a
    // second job, a program update beside it, deleting or editing the skin
    // it may be putting in place.
    for (QPushButton *b : {BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn6}) b->setEnabled(!Running);
}

bool TFormAsetukset::RefusedForFenlowJob() {
    QPoint corner = MessageCorner();
    return FrmMain && FrmMain->RefusedForFenlowJob(true, corner.x(), corner.y());
}

void TFormAsetukset::BitBtn2Click(QObject *Sender) {
    const std::string name = TickedLine(CheckListBox2);
    if (!FrmMain || RefusedForFenlowJob()) return;
    QRect r = frameGeometry();
    if (Sender == BitBtn2) {
        if (name.empty()) return;
        if (!FrmMain->CheckForSkinUpdate(name, true)) return;
        ShowSkinInfo(name);
        FrmMain->LoadSkin(name, true);
        FrmMain->ApplySkinRegion();
        if (!FrmMain->State.WindowShown) {
            int left = FrmMain->ScreenWidth() - FrmMain->width() - 3;
            int top = FrmMain->State.Options.ShowOnDown ? FrmMain->ScreenHeight() : -5 - FrmMain->height();
            FrmMain->move(left, top);
        }
        return;
    }
    // Delete this skin: only a folder directly under "skins", never the
    // fallback skin, and never with an empty name (that would be them all).
    if (name.empty()) return;
    if (SameText(name, "default")) {
        ShowMessageWindow(LangText("Messages", "50", "Warning"), LangMessage(57), "", r.right(), r.bottom(), 0);
        return;
    }
    const std::string folder = ProgramFile("skins/" + name);
    if (IsPlainFolderName(name) && DirectoryExists(folder) && DeleteFolder(folder)) {
        FrmMain->State.Options.Skin = "Default";
        ListSkinFolders();
        ShowSkinInfo("Default");
        FrmMain->ReportEvent("", 55, 3, TEventReporter::clBlue);
    } else {
        FrmMain->ReportEvent("", 56, 3, TEventReporter::clRed);
    }
}

void TFormAsetukset::BitBtn4Click() {
    // One Fenlow job at a time: they share the skin information file. Nor
    // one beside a check, whose pumping the wait would hold until it ends.
    if (!FrmMain || RefusedForFenlowJob()) return;
    const QPoint corner = MessageCorner();
    if (FrmMain->RefusedForCheck(true, corner.x(), corner.y())) return;
    const std::string temp = ProgramFile("temp");
    ForceDirectories(temp);
    const std::string target = IncludeTrailingPathDelimiter(temp) + "allskins.zip";
    const std::string url = ProductWebLocation() + "zip/skins/allskins.zip";
    std::string why;
    if (!DownloadFile("Download...", LangMessage(87), url, target, DownloadWindowLeft(), DownloadWindowTop(), true,
                      &why)) {
        FrmMain->TellUpdateFailure(DownloadFailureText(url, why), true, corner.x(), corner.y());
        return;
    }
    // A job that started while the download window was up owns the file.
    if (RefusedForFenlowJob()) return;
    IniWriteString(ProgramFile("skins.dat"), "FENLOW_File", "Path", target);
    // Installed is what Fenlow says it installed, not that it started. One
    // that runs on far past its time is told of in the log when it ends.
    QPointer<TFormAsetukset> self(this);
    const TFrmMain::TFenlowJobEnd end = FrmMain->RunFenlowJob("-all", FrmMain->FenlowJobLimitMs, [self](bool done) {
        if (self) self->AllSkinsJobEnded(done, false);
    });
    if (FrmMain->ExitRequested()) return;
    if (end == TFrmMain::TFenlowJobEnd::NotStarted) {
        FrmMain->TellUpdateFailure(TFrmMain::UpdaterNotStarted(), true, corner.x(), corner.y());
        return;
    }
    if (end == TFrmMain::TFenlowJobEnd::Running) {
        const QRect r = frameGeometry();
        FrmMain->ReportFenlowNotFinished(true, r.right(), r.bottom());
        return;
    }
    AllSkinsJobEnded(end == TFrmMain::TFenlowJobEnd::Done, true);
}

void TFormAsetukset::AllSkinsJobEnded(bool Done, bool Show) {
    const QRect r = frameGeometry();
    if (Done) {
        FrmMain->ReportEvent("", 88, 3, TEventReporter::clBlue);
        if (Show) ShowMessageWindow("Info", LangMessage(88), "", r.right(), r.bottom(), 2);
    } else {
        const std::string failed = LangText("Messages", "100", "The skins could not be installed.");
        FrmMain->ReportEvent(failed, 0, 5, TEventReporter::clRed);
        if (Show) ShowMessageWindow(LangText("Messages", "50", "Warning"), failed, "", r.right(), r.bottom(), 1);
    }
    ListSkinFolders();
}

void TFormAsetukset::BitBtn6Click() {
    if (RefusedForFenlowJob()) return;
    const std::string editor = ProgramFile("Brisvel");
    if (FileExists(editor)) {
        Desktop().StartProgram(QuoteArg(editor) + " " + QuoteArg(TickedLine(CheckListBox2)));
        return;
    }
    const std::string temp = ProgramFile("temp");
    ForceDirectories(temp);
    if (DownloadFile("Download Skin Editor...", LangMessage(63) + "\r\n" + LangMessage(64) + "\r\n",
                     ProductWebLocation() + "zip/Brisvel.zip", IncludeTrailingPathDelimiter(temp) + "Brisvel.zip",
                     DownloadWindowLeft(), DownloadWindowTop(), false))
        Desktop().StartProgram(QuoteArg(ProgramFolder() + "fenlow") + " -ske");
}
