// The message window: tells the user something, optionally with a link,
// placed by its bottom-right corner. Used instead of system message boxes so
// its captions follow the language file.
#pragma once

#include <QDialog>
#include <QLabel>
#include <string>

class QFrame;
class QPushButton;

// A label that reports clicks (the link line).
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

class TForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TForm1(QWidget *owner = nullptr);

    QLabel *Label1;       // the title
    QLabel *Label2;       // the text
    QLabel *Image1;       // the picture shown
    QLabel *Image2;       // hidden: picture of kind 0 (error)
    QLabel *Image3;       // hidden: picture of kind 1 (warning)
    TClickLabel *Label3;  // the link
    QFrame *Bevel1;
    QPushButton *btOk;

public slots:
    void btOkClick();
    void Label3Click();
    void FormShow();
};

// PictureKind 1 warning, 0 error, anything else information.
void ShowMessageWindow(const std::string &Title, const std::string &Text, const std::string &Link,
                       int Right, int Bottom, int PictureKind);
