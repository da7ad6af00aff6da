// The rule editor: one rule file of "rules/" shown as its job, accounts,
// senders and subject words, and saved back. The reading and writing of the
// file is the rules engine's (unRules.h), which stays free of windows
// because Fenlow shares it; this unit holds only the window.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <functional>
#include <string>

#include "RawEdit.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct TRuleDefinition;

// A list whose entries the user reorders by dragging within it (nowhere
// else): the entry under the mouse-down point moves to the entry under the
// drop point.
class TDragListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDragListBox(QWidget *parent = nullptr);
    // The row under a point of the viewport, -1 when none.
    int RowAt(const QPoint &Point) const;
    std::function<void(int Row)> OnMouseDown;
    std::function<void(int Target)> OnDragDrop;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

class TfrmBlackList : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBlackList(QWidget *owner = nullptr);

    // Job items of CheckListBox2, sender tests of ComboBox3, subject tests of ComboBox1.
    enum { jobHide = 0, jobDelete = 1, JobCount = 2 };
    enum { srEqual = 0, srServer = 1, srContains = 2, SenderTestCount = 3 };
    enum {
        wrInclude = 0, wrNotInclude, wrSame, wrNotSame, wrBlanc, wrNotBlanc, wrAll, WordTestCount
    };

    std::string RuleName;
    // Row of the last mouse-down in a list (the entry a drag moves).
    int DragSource = -1;

    QGroupBox *GroupBox3;        // rule job
    QListWidget *CheckListBox2;  // the two jobs, at most one ticked
    QGroupBox *GroupBox4;        // accounts
    QListWidget *CheckListBox1;  // account names (each item keeps the name as stored)
    QCheckBox *CheckBox2;        // do to all accounts
    QGroupBox *GroupBox1;        // senders
    TDragListBox *ListBox1;
    QComboBox *ComboBox2;        // sender to add
    QPushButton *BitBtn1, *BitBtn2, *BitBtn3;  // add, remove, rename sender
    QCheckBox *CheckBox1;        // do to all senders
    QComboBox *ComboBox3;        // sender test
    QGroupBox *GroupBox2;        // subject words
    TDragListBox *ListBox2;
    QComboBox *ComboBox4;        // word to add
    QPushButton *BitBtn4, *BitBtn5, *BitBtn6;  // add, remove, rename word
    QComboBox *ComboBox1;        // subject test
    QGroupBox *GroupBox5;        // extra settings
    QLabel *LblSmtp, *LblHost, *LblPort, *LblUsername, *LblPassword;
    // The values come back byte for byte until the user changes them.
    TRawEdit *TxtHost, *TxtPort, *TxtUser, *TxtPassword, *Edit1;
    QPushButton *bbBrowse;
    QPushButton *BitBtn7;  // Save
    QPushButton *BitBtn8;  // Close

    // The rule file being edited, found without regard to letter case.
    std::string RuleFile() const;

    void FormShow();
    void LoadRule();
    void ApplyLanguage();
    void UpdateControls();
    // True when the rule was written (false when the user withdrew or the
    // file could not be written, which the user is told).
    bool SaveRule();
    // False keeps the window open (the rule could not be written).
    bool FormClose();

    void CheckListBox2Click(int Row);
    void BitBtn1Click();  // add sender
    void BitBtn2Click();  // remove sender
    void BitBtn3Click();  // rename sender (also double click)
    void BitBtn4Click();  // add word
    void BitBtn5Click();  // remove word
    void BitBtn6Click();  // rename word (also double click)
    void BitBtn7Click();  // save
    void BitBtn8Click();  // close
    void bbBrowseClick();
    void ListBoxDragDrop(TDragListBox *List, int Target);
    // A change of a control that only enables Save / that also affects others.
    void Changed();
    void ChangedAndUpdate();

    // The checked job, -1 when none.
    int CheckedJob() const;
    // The rule as the controls show it.
    TRuleDefinition ControlsRule() const;

    void reject() override;

    // Where the window's outer bottom-right corner goes, and the screen area
    // it stays within (FitRuleEditor sets both).
    QPoint Corner{-1, -1};
    QRect Area;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Safe(const char *Where, const std::function<void()> &Work);
    void AddEntry(TDragListBox *List, QComboBox *Box, const char *DuplicateKey,
                  const char *DuplicateText);
    void RemoveEntry(TDragListBox *List);
    void RenameEntry(TDragListBox *List, QPushButton *Button, const char *PromptKey,
                     const char *PromptText, const char *DuplicateKey, const char *DuplicateText);
    bool FLoading = false;
    bool FClosed = false;
    bool FWriteFailed = false;  // the last save could not write the file
};

// Opens the editor on "rules/<Name>.rul" of the program folder; modal.
void ShowRuleEditor(const std::string &Name);
// Sizes the editor down to a screen smaller than its design size and
// places it by its bottom-right corner, title bar on the screen.
void FitRuleEditor(TfrmBlackList &Form);
// True while the editor is shown (other windows do not open a second one).
bool RuleEditorOpen();
