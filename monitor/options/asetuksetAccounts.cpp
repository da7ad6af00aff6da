// The account list and the account page of the Options dialog. They edit
// the dialog's working copy; nothing reaches the main window or the settings
// file before OK.
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "settings/ColorNames.h"
#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "settings/HostData.h"
#include "NetSSLOpenSSLHeaders.h"
#include "settings/ProgramPaths.h"
#include "asetukset.h"
#include "settings/unDecodes.h"
#include "dialogs/unFrmGetText.h"
#include "settings/unLanguage.h"
#include "dialogs/unitMessages.h"

namespace {

QString Shown(const std::string &raw) {
    return QString::fromStdString(IsValidUtf8(raw) ? raw : Cp1252ToUtf8(raw));
}

QColor BgrColour(int bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

int ColourBgr(const QColor &c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

}  // namespace

// ---- the working copy --------------------------------------------------------------------

void TFormAsetukset::NewWorkingAccount() {
    Tiedot t;
    t.Port = 110;
    t.OwnColor = "clGreen";
    t.Inbox = "INBOX";
    t.Enabled = false;
    Work.push_back(std::move(t));
}

void TFormAsetukset::DropLastWorkingAccount() {
    if (!Work.empty()) Work.pop_back();
}

void TFormAsetukset::DeleteWorkingAccount(int Index) {
    if (Index < 0 || Index > LastWorkingIndex()) return;
    Work.erase(Work.begin() + Index);
}

void TFormAsetukset::MoveWorkingAccount(int From, int To) {
    if (From < 0 || To < 0 || From > LastWorkingIndex() || To > LastWorkingIndex() || From == To) return;
    if (From < To) std::rotate(Work.begin() + From, Work.begin() + From + 1, Work.begin() + To + 1);
    else std::rotate(Work.begin() + To, Work.begin() + From, Work.begin() + From + 1);
}

void TFormAsetukset::CopyWorkingAccount(int To, int From) {
    if (To < 0 || From < 0 || To > LastWorkingIndex() || From > LastWorkingIndex() || To == From) return;
    Work[size_t(To)] = Work[size_t(From)];
}

// ---- account list ---------------------------------------------------------------------------

void TFormAsetukset::Button2Click() {
    std::string name = Trim(ShowTextInputDialog(LangMessage(52), LangText("Options", "Account", "Account"), "",
                                                x(), y(), false));
    if (name.empty()) return;
    NewWorkingAccount();
    Work.back().Name = name;
    auto *node = new QTreeWidgetItem(FRoot, QStringList(Shown(name)));
    lbAccounts->AddLine(name, true);
    TreeView1->expandItem(FRoot);
    FitTreeWidth();
    SelectNode(node);
}

void TFormAsetukset::Button4Click() {
    int i = lbAccounts->ItemIndex();
    if (i < 0 || i > LastWorkingIndex()) return;
    const std::string old = Work[size_t(i)].Name;
    const std::string oldShown = Shown(old).toStdString();
    std::string name = Trim(ShowTextInputDialog(LangMessage(53), LangText("Options", "Account", "Account"),
                                                oldShown, x(), y(), false));
    if (name.empty() || name == oldShown) return;  // an unchanged name keeps its bytes
    Work[size_t(i)].Name = name;
    lbAccounts->SetLine(i, name);
    if (QTreeWidgetItem *node = FRoot->child(i)) node->setText(0, Shown(name));
    FitTreeWidth();
}

void TFormAsetukset::Button3Click() {
    int i = lbAccounts->ItemIndex();
    if (i < 0 || i > LastWorkingIndex()) return;
    FBuilding = true;
    delete FRoot->takeChild(i);
    FBuilding = false;
    DeleteWorkingAccount(i);
    delete lbAccounts->takeItem(i);
}

void TFormAsetukset::Label50Click(bool Check) {
    for (int i = 0; i < lbAccounts->Count(); ++i) lbAccounts->SetChecked(i, Check);
}

void TFormAsetukset::lbAccountsDblClick() {
    int i = lbAccounts->ItemIndex();
    if (i >= 0 && i < FRoot->childCount()) SelectNode(FRoot->child(i));
}

void TFormAsetukset::lbAccountsMouseDown(int Row) { DragSource = Row; }

void TFormAsetukset::lbAccountsDragDrop(int Target) {
    int source = DragSource;
    if (source < 0 || Target < 0 || source >= lbAccounts->Count() || Target >= lbAccounts->Count() ||
        source > LastWorkingIndex() || Target > LastWorkingIndex() || source == Target)
        return;
    QListWidgetItem *line = lbAccounts->takeItem(source);
    lbAccounts->insertItem(Target, line);
    lbAccounts->SetItemIndex(Target);
    MoveWorkingAccount(source, Target);
    for (int k = 0; k < FRoot->childCount() && k < lbAccounts->Count(); ++k)
        FRoot->child(k)->setText(0, lbAccounts->item(k)->text());
    DragSource = Target;
}

// ---- account page ----------------------------------------------------------------------------

bool TFormAsetukset::ParsePort(const std::string &Text, int &Port) {
    int v = 0;
    if (!TryStrToInt(Trim(Text), v) || v < 0 || v > 65535) return false;
    Port = v;
    return true;
}

void TFormAsetukset::ShowAccount(int Index) {
    if (Index < 0 || Index > LastWorkingIndex()) return;
    const Tiedot t = Work[size_t(Index)];  // a copy: the handlers below may store
    TxtHost->SetRaw(t.Host);
    TxtPort->SetRaw(IntToStr(t.Port));
    TxtUser->SetRaw(t.UserName);
    TxtPassword->SetRaw(t.Password);
    txtInbox->SetRaw(t.Inbox);
    cbOwnSkins->setEditText(Shown(t.OwnSkin));
    ComboBox2->setCurrentIndex(t.Kind <= ckHTTP ? t.Kind : ckPOP3);
    ApplyConnectionKind();
    int colour = 0x008000;
    if (!TryStringToColor(t.OwnColor, colour)) colour = 0x008000;
    SwatchColour = colour;
    SwatchColourText = t.OwnColor;
    DrawColorSwatch();
    CheckBox2->setChecked(t.SSL);
    cbNotRead->setChecked(t.Protected);
}

bool TFormAsetukset::StoreAccount(int Index) {
    if (Index < 0 || Index > LastWorkingIndex()) return true;
    int port = 0;
    if (!ParsePort(TxtPort->Raw(), port)) {
        if (FQuiet) return false;
        QRect r = frameGeometry();
        ShowMessageWindow(LangText("Messages", "50", "Warning"),
                          LangText("Messages", "66", "The port must be a number from 0 to 65535."), "",
                          r.right(), r.bottom(), 1);
        TxtPort->setFocus();
        TxtPort->selectAll();
        return false;
    }
    Tiedot &t = Work[size_t(Index)];
    t.Host = TxtHost->Raw();
    t.Port = port;
    t.UserName = TxtUser->Raw();
    t.Password = TxtPassword->Raw();
    t.SSL = CheckBox2->isChecked();
    uint8_t kind = ConnectionKindFromName(ComboBox2->currentText().toStdString());
    t.Kind = kind == ckUnknown ? ckPOP3 : kind;
    t.Inbox = txtInbox->Raw();
    if (cbOwnSkins->currentText() != Shown(t.OwnSkin)) t.OwnSkin = cbOwnSkins->currentText().toStdString();
    t.OwnColor = SwatchColourText;
    t.Protected = cbNotRead->isChecked();
    return true;
}

void TFormAsetukset::ApplyConnectionKind() {
    const QString kind = ComboBox2->currentText();
    const bool http = kind == "HTTP", imap = kind == "IMAP4";
    for (QWidget *w : {static_cast<QWidget *>(TxtHost), static_cast<QWidget *>(LabelHost),
                       static_cast<QWidget *>(TxtPort), static_cast<QWidget *>(LabelPort)})
        w->setEnabled(!http);
    CheckBox2->setEnabled(!http && !imap);
    FAccountForm->setRowVisible(txtInbox, imap);
}

void TFormAsetukset::ComboBox2Change() {
    const QString kind = ComboBox2->currentText();
    if (kind == "POP3") TxtPort->setText("110");
    else if (kind == "IMAP4") TxtPort->setText("143");
    else if (kind == "HTTP") TxtPort->setText("0");
    else TxtPort->setText("");
    ApplyConnectionKind();
}

void TFormAsetukset::LoadHostPresets() {
    ComboBox1->clear();
    TStringList names;
    try {
        ReadPresetNames(HostDataFilePath(), names);
    } catch (const Exception &e) {
        if (FrmMain) FrmMain->ReportEvent("host_data.dat: " + e.Message(), 0, 6, TEventReporter::clRed);
    }
    for (const auto &n : names) ComboBox1->addItem(Shown(n), QByteArray::fromStdString(n));
    ComboBox1->setEditText("");
}

void TFormAsetukset::ComboBox1Change() {
    int i = ComboBox1->currentIndex();
    std::string name = i >= 0 ? ComboBox1->itemData(i).toByteArray().toStdString()
                              : ComboBox1->currentText().toStdString();
    if (name.empty()) return;
    THostPreset p = ReadHostPreset(HostDataFilePath(), name);
    TxtHost->SetRaw(p.Host);
    TxtPort->SetRaw(p.Port);
    CheckBox2->setChecked(p.SSL);
    uint8_t kind = ConnectionKindFromName(p.Connection);
    ComboBox2->setCurrentIndex(kind <= ckHTTP ? kind : ckPOP3);
    ApplyConnectionKind();
}

void TFormAsetukset::CheckBox2Click() {
    // Secure connections use the system's OpenSSL: nothing is downloaded;
    // the user learns which package the program needs.
    if (OpenSSLLibraryLoaded() || LoadOpenSSLLibrary()) return;
    QRect r = frameGeometry();
    std::string why = OpenSSLLoadErrorText();
    ShowMessageWindow(LangText("Messages", "50", "Warning"),
                      LangMessage(61) + "\r\n" +
                          LangText("Messages", "65",
                                   "Install the package libssl3 (OpenSSL) with the system's package manager.") +
                          (why.empty() ? std::string() : "\r\n(" + why + ")"),
                      "", r.right(), r.bottom(), 1);
}

void TFormAsetukset::cbNotReadClick() {
    if (cbNotReadTag == -1) {
        cbNotReadTag = 0;
        return;
    }
    if (cbNotRead->isChecked() || TextInputDialogOpen()) return;
    if (ShownAccount < 0 || ShownAccount > LastWorkingIndex()) return;
    const int account = ShownAccount;
    const std::string password = Work[size_t(account)].Password;
    if (password.empty()) return;
    std::string answer = ShowTextInputDialog(LangMessage(58), LangText("Options", "Password", "Password"), "",
                                             x(), y(), true);
    if (AccountPasswordMatches(answer, password)) return;
    // The question waited in a message loop of its own, where an error
    // report or the tray may have moved the dialog to another page, and the
    // page switch stored the unticked box: the record keeps its protection
    // whatever page shows now.
    if (account <= LastWorkingIndex() && Work[size_t(account)].Password == password)
        Work[size_t(account)].Protected = true;
    if (ShownAccount == account) cbNotRead->setChecked(true);
}

void TFormAsetukset::imColorClick() {
    QColorDialog dialog(BgrColour(SwatchColour), this);
    if (ShowModal(dialog) != QDialog::Accepted) return;
    QColor chosen = dialog.selectedColor().isValid() ? dialog.selectedColor() : dialog.currentColor();
    SwatchColour = ColourBgr(chosen);
    SwatchColourText = ColorToString(SwatchColour);
    DrawColorSwatch();
}

void TFormAsetukset::DrawColorSwatch() {
    QPixmap swatch(imColor->size());
    swatch.fill(BgrColour(SwatchColour));
    imColor->setPixmap(swatch);
}
