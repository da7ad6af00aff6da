// The yes/no question, placed by its bottom-right corner (3 pixels inside).
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QFrame;
class QPushButton;

class TfrmMessYesNo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMessYesNo(QWidget *owner = nullptr);

    QLabel *Label1;  // the question
    QLabel *Label2;  // the note
    QFrame *Bevel1;
    QPushButton *BitBtn1;  // Yes
    QPushButton *BitBtn2;  // No

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
};

// 0 Yes, 1 No, 2 closed otherwise.
int AskYesNo(const std::string &Caption, const std::string &Question, const std::string &Note,
             int Right, int Bottom);
