// The program's own new-mail popup: a speech bubble in the bottom-right
// corner above the panel, with the new-mail text and two links (the message
// reader and the mail client). A click anywhere else closes it.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <string>

class TTimer;

class TfrmHint : public QWidget {
public:
    explicit TfrmHint(QWidget *parent = nullptr);
    ~TfrmHint() override;

    // The bubble, the two circles of its tail, and the separators (left, top, width).
    QRect Shape1, Shape3, Shape4;
    QRect Bevel1, Bevel2;
    QLabel *Image1 = nullptr;  // the envelope
    QLabel *Label1 = nullptr;  // "Tarnwick:"
    QLabel *Label3 = nullptr;  // the text
    QLabel *Label4 = nullptr;  // run the mail client
    QLabel *Label5 = nullptr;  // read with the message reader
    TTimer *Timer1 = nullptr;  // the display time
    TTimer *Timer2 = nullptr;  // keeps the popup on top

    // The text as the label shows it; then the bubble is laid out again.
    void SetText(const std::string &Text);
    void LayOut();
    // The window's shape: the bubble and its tail.
    QRegion Shape() const;

    void Timer1Timer();
    void Timer2Timer();
    void FormClick();
    void Label5Click(QLabel *Sender);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void PaintShapes(QPainter &p, const QBrush &fill, const QPen &pen) const;
};

// Shows the popup with Text for DurationMs milliseconds; a popup already
// shown takes the new text and starts its time again.
void ShowMailHint(const std::string &Text, int DurationMs);
bool MailHintShown();
// Closes a shown popup at once (the tray menu opening does this).
void CloseMailHint();
// The popup on screen, or null (for tests and the main window).
TfrmHint *MailHintForm();
