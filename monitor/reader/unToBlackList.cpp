#include "unToBlackList.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "dialogs/DialogSeam.h"
#include "mainwindow/FrmMain.h"
#include "IniFile.h"
#include "settings/ProgramPaths.h"
#include "SysUtils.h"
#include "settings/VeskRutins.h"
#include "settings/unDecodes.h"
#include "settings/unLanguage.h"
#include "settings/unRules.h"
#include "dialogs/unitMessages.h"

namespace {

bool GOpen = false;

QString Q(const std::string &s) { return QString::fromStdString(s); }

}  // namespace

bool AddSenderDialogOpen() { return GOpen; }

TfrmToBlackList::TfrmToBlackList(QWidget *owner) : QDialog(owner) {
    setObjectName("frmToBlackList");
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle("Tarnwick / Add sender to rule");
    setFixedSize(297, 150);

    Label1 = new QLabel("E-Mail or Name:", this);
    Label1->setObjectName("Label1");
    Label1->setTextFormat(Qt::PlainText);
    Label1->setGeometry(12, 10, 273, 18);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    // Typed text is the entry; it never becomes an item of the box.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(12, 30, 273, 26);

    Label2 = new QLabel("Rule:", this);
    Label2->setObjectName("Label2");
    Label2->setTextFormat(Qt::PlainText);
    Label2->setGeometry(12, 62, 273, 18);
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->setEditable(false);
    ComboBox2->setGeometry(12, 82, 273, 26);

    btOk = new QPushButton("OK", this);
    btOk->setObjectName("btOk");
    btOk->setGeometry(60, 116, 85, 26);
    btCancel = new QPushButton("Cancel", this);
    btCancel->setObjectName("btCancel");
    btCancel->setGeometry(152, 116, 85, 26);
    btOk->setDefault(true);

    connect(btOk, &QPushButton::clicked, this, &TfrmToBlackList::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TfrmToBlackList::btCancelClick);
    FormCreate();
}

TfrmToBlackList::~TfrmToBlackList() { GOpen = false; }

std::vector<std::string> TfrmToBlackList::RuleFiles() {
    std::vector<std::string> out;
    for (const std::string &name : ListDirectory(RulesFolder(), true, false))
        // A file named only ".rul" has no rule name to show or choose.
        if (name.size() > 4 && SameText(ExtractFileExt(name), ".rul")) out.push_back(name);
    return out;
}

void TfrmToBlackList::FormCreate() {
    GOpen = true;
    TStringList senders;
    if (FrmMain) FrmMain->CollectSenders(senders);
    for (const std::string &s : senders) ComboBox1->addItem(Q(s));
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
    FRuleFiles = RuleFiles();
    for (size_t i = 0; i < FRuleFiles.size(); ++i)
        ComboBox2->addItem(Q(Utf8ToLatin1(CutExtension(FRuleFiles[i]))), int(i));
    Label1->setText(Q(LangText("Rule", "MailOrName", Label1->text().toStdString())));
    Label2->setText(Q(LangText("Rule", "Rule", Label2->text().toStdString())));
}

void TfrmToBlackList::btOkClick() {
    std::string text = ComboBox1->currentText().toStdString();
    if (Trim(text).empty()) {
        ShowMessageWindow(LangMessage(54), LangMessage(31), "", DialogScreenRight(), KeptBottom, 0);
        return;
    }
    // Only a rule the box lists: a typed or empty name would make a file
    // of its own ("rules/.rul") or reach outside the folder.
    const std::string ruleFile = ChosenRuleFile();
    if (ruleFile.empty()) {
        ShowMessageWindow(LangMessage(54), LangText("Rule", "NoRule", "Choose a rule first."), "",
                          DialogScreenRight(), KeptBottom, 0);
        return;
    }
    std::string entry = Utf8LowerCase(Trim(text));
    std::string file = RulesFolder() + ruleFile;
    // A rule removed since the dialog listed it is not made anew: a file of
    // senders alone would be a rule that never acts.
    if (!FileExists(file)) {
        ShowMessageWindow(LangMessage(54), LangText("Rule", "Mess_14", "The rule could not be saved."), "",
                          DialogScreenRight(), KeptBottom, 0);
        return;
    }
    try {
        TMemIniFile ini(file);
        TStringList names, values;
        ini.ReadSection("EMails", names);
        bool known = false;
        for (const std::string &n : names) {
            values.Add(ini.ReadString("EMails", n, ""));
            // An entry an older editor stored with capitals or blanks is
            // still the same sender to the rules.
            known = known || RuleEntryKey(values[values.Count() - 1]) == entry;
        }
        if (known) {
            ShowMessageWindow(LangMessage(54), LangText("Rule", "Mess_1", "This entry is already in the list."),
                              "", DialogScreenRight(), DialogWorkAreaBottom(), 0);
            return;
        }
        values.Add(entry);
        // Keys "0".."n-1" and nothing else, so no older key is left to
        // stand beside them.
        ini.EraseSection("EMails");
        for (int i = 0; i < values.Count(); ++i) ini.WriteString("EMails", IntToStr(i), values[i]);
        ini.UpdateFile();
    } catch (const std::exception &e) {
        ShowMessageWindow(LangMessage(54), e.what(), "", DialogScreenRight(), KeptBottom, 0);
        return;
    }
    accept();
}

std::string TfrmToBlackList::ChosenRuleFile() const {
    bool ok = false;
    const int i = ComboBox2->currentData().toInt(&ok);
    return ok && i >= 0 && size_t(i) < FRuleFiles.size() ? FRuleFiles[size_t(i)] : std::string();
}

void TfrmToBlackList::btCancelClick() { reject(); }

void TfrmToBlackList::PlaceCorner(int Right, int Bottom) {
    FCorner = QPoint(Right, Bottom);
    move(Right - width(), Bottom - height());
}

void TfrmToBlackList::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The frame is known once the window is shown: the corner is the
    // frame's, not the client area's.
    // A move can change what the frame reports, so look again once.
    for (int i = 0; i < 2 && FCorner.x() >= 0; ++i) {
        QPoint off = FCorner - (frameGeometry().bottomRight() + QPoint(1, 1));
        if (off.isNull()) break;
        move(pos() + off);
    }
}

void ShowAddSenderToRule(int Right, int Bottom, const std::string &Sender) {
    if (GOpen) return;
    TfrmToBlackList form(QApplication::activeWindow());
    form.PlaceCorner(Right, Bottom);
    form.KeptBottom = Bottom;
    form.btOk->setText(Q(LangText("Options", "Ok", form.btOk->text().toStdString())));
    form.btCancel->setText(Q(LangText("Options", "Cancel", form.btCancel->text().toStdString())));
    if (!Sender.empty()) {
        if (form.ComboBox1->findText(Q(Sender)) < 0) form.ComboBox1->insertItem(0, Q(Sender));
        form.ComboBox1->setEditText(Q(Sender));
    }
    ShowModal(form);
}
