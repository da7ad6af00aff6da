// The rules page: the rule files of "rules/", each ticked while it takes
// part (OK writes the ticks), and adding, editing, renaming and removing
// them. The rule editor is unRulesForm; rule files are the engine's.
#include <QGuiApplication>
#include <QScreen>

#include "mainwindow/FrmMain.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "asetukset.h"
#include "dialogs/unFrmGetText.h"
#include "settings/unLanguage.h"
#include "settings/unRules.h"
#include "unRulesForm.h"
#include "dialogs/unitMessages.h"

namespace {

std::string Rule(const char *key, const char *design) { return LangText("Rule", key, design); }

// Asks a rule name with the text input dialog; empty when the user gave none.
std::string AskRuleName(const char *captionKey, const char *captionText, const char *promptKey,
                        const char *promptText, const std::string &initial) {
    // The dialog (283 x 171) stands at the right edge above the taskbar.
    std::string name = ShowTextInputDialog(Rule(captionKey, captionText), Rule(promptKey, promptText), initial,
                                           DialogScreenRight() - 283, DialogWorkAreaBottom() - 171, false);
    return Trim(name).empty() ? std::string() : name;
}

// The message for a name a rule file cannot have, listing what it must not hold.
std::string ForbiddenNameText() {
    return Rule("Mess_3", "The name holds characters that a file name can not have.") + "\r\n" +
           "\\  /  :  *  ?  \"  <  >  |";
}

}  // namespace

void TFormAsetukset::BitBtn5Click() {
    const std::string name = AskRuleName("GRuleN", "New rule", "NewRule", "Rule name:", "");
    if (name.empty()) return;
    QPoint corner = MessageCorner();
    const std::string folder = RulesFolder();
    if (RuleExists(folder, name)) {
        ShowMessageWindow(LangText("Messages", "50", "Warning"), Rule("Mess_2", "A rule with this name already exists."),
                          "", corner.x(), corner.y(), 0);
        return;
    }
    if (RuleNameHasForbiddenChar(name)) {
        ShowMessageWindow("Info", ForbiddenNameText(), "", corner.x(), corner.y(), 2);
        return;
    }
    const std::string file = RuleFilePath(folder, name);
    try {
        ForceDirectories(ExcludeTrailingPathDelimiter(ExtractFilePath(file)));
        IniWriteString(file, "Rule", "Rule1", "-1");
    } catch (const Exception &) {
        ShowMessageWindow(LangText("Messages", "50", "Warning"), Rule("Mess_4", "The rule could not be created."), "",
                          corner.x(), corner.y(), 0);
        return;
    }
    if (!FileExists(file)) return;
    ListBox1->AddLine(name, true);
    ListBox1->SetItemIndex(ListBox1->Count() - 1);
    ShowRuleEditor(name);
}

void TFormAsetukset::BitBtn7Click() {
    int i = ListBox1->ItemIndex();
    if (i < 0 || i >= ListBox1->Count() || RuleEditorOpen()) return;
    ShowRuleEditor(ListBox1->Line(i));
}

void TFormAsetukset::BitBtn8Click() {
    int i = ListBox1->ItemIndex();
    if (i < 0 || i >= ListBox1->Count()) return;
    const std::string old = ListBox1->Line(i);
    const std::string name = AskRuleName("GNewRN", "Rename rule", "Rule", "Rule", old);
    if (name.empty()) return;
    QPoint corner = MessageCorner();
    if (RuleNameHasForbiddenChar(name)) {
        ShowMessageWindow("Info", ForbiddenNameText(), "", corner.x(), corner.y(), 2);
        return;
    }
    switch (RenameRule(RulesFolder(), old, name)) {
    case TRuleRename::Renamed:
        ListBox1->SetLine(i, name);
        break;
    case TRuleRename::Exists:
        // Another rule of that name is never replaced.
        ShowMessageWindow(LangText("Messages", "50", "Warning"), Rule("Mess_2", "A rule with this name already exists."),
                          "", corner.x(), corner.y(), 0);
        break;
    case TRuleRename::Failed:
        ShowMessageWindow(LangText("Messages", "50", "Warning"), Rule("Mess_15", "The rule could not be renamed."), "",
                          corner.x(), corner.y(), 0);
        break;
    }
}

void TFormAsetukset::bbDelBLClick() {
    int i = ListBox1->ItemIndex();
    if (i < 0 || i >= ListBox1->Count()) return;
    const std::string file = RuleFilePath(RulesFolder(), ListBox1->Line(i));
    DeleteFile(file);
    if (FileExists(file)) return;
    delete ListBox1->takeItem(i);
    if (ListBox1->Count() > 0) ListBox1->SetItemIndex(std::min(i, ListBox1->Count() - 1));
}
