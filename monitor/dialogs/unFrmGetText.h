// A small modal dialog asking for one line of text, optionally a password.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TfrmGetText : public QDialog {
    Q_OBJECT
public:
    explicit TfrmGetText(QWidget *owner = nullptr);

    QLabel *Label1;       // the prompt
    QLineEdit *Edit1;     // the answer
    QPushButton *BitBtn1;  // Ok
    QPushButton *BitBtn2;  // Cancel

public slots:
    void BitBtn1Click();
    void BitBtn2Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// The text entered, exactly as typed; empty when the user cancelled.
std::string ShowTextInputDialog(const std::string &Title, const std::string &Prompt,
                                const std::string &InitialText, int Left, int Top, bool Password);
// True while the dialog is shown (callers do not open a second one).
bool TextInputDialogOpen();
