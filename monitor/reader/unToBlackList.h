// The add-sender dialog: a sender of the mail now listed (or the one the
// caller names) goes into the sender list of a rule.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

class TfrmToBlackList : public QDialog {
    Q_OBJECT
public:
    explicit TfrmToBlackList(QWidget *owner = nullptr);
    ~TfrmToBlackList() override;

    QLabel *Label1;        // "E-Mail or Name:"
    QComboBox *ComboBox1;  // the sender, editable
    QLabel *Label2;        // "Rule:"
    QComboBox *ComboBox2;  // the rules, a choice only
    QPushButton *btOk;
    QPushButton *btCancel;
    // The bottom the caller gave (the "type a sender" message stands on it).
    int KeptBottom = 0;
    // Where the window's outer bottom-right corner goes.
    void PlaceCorner(int Right, int Bottom);

    void FormCreate();
    // The rule files of the rules folder in directory order, as the box
    // lists them (names without ".rul").
    static std::vector<std::string> RuleFiles();
    // The file name of the rule chosen in ComboBox2, bytes as the folder
    // holds them (an older install's names are Windows-1252); "" for none.
    std::string ChosenRuleFile() const;

public slots:
    void btOkClick();
    void btCancelClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QPoint FCorner{-1, -1};
    // The file names ComboBox2 lists; each item keeps its index here, since
    // a name that is not UTF-8 would not come back whole from its text.
    std::vector<std::string> FRuleFiles;
};

// Bottom-right corner at (Right, Bottom). Sender, when given, stands in the
// sender box at first (the message reader passes the selected sender).
void ShowAddSenderToRule(int Right, int Bottom, const std::string &Sender = {});
// True from the dialog's creation to its end (callers do not open a second one).
bool AddSenderDialogOpen();
