#include "FrmMain.h"

#include <QPainter>

void TFrmMain::ShowMessageStep(int) {}
int TFrmMain::NextAccountWithMail(int) { return 0; }
int TFrmMain::PrevAccountWithMail(int) { return 0; }
void TFrmMain::Timer2Timer() {}
void TFrmMain::Timer3Timer() { Timer3->SetEnabled(false); }
void TFrmMain::Timer4Timer() { Timer4->SetEnabled(false); }
void TFrmMain::NappiClick(TSkinButton *) {}
void TFrmMain::LabelFromClick() {}
void TFrmMain::FormHide() { Player.Close(); }

// ---- events of the window ----------------------------------------------------------

void TFrmMain::paintEvent(QPaintEvent *) {
    if (Image1.isNull())
        return;
    QPainter p(this);
    p.drawImage(0, 0, Image1);
}
void TFrmMain::hideEvent(QHideEvent *) { Guard("FormHide", [this] { FormHide(); }); }
void TFrmMain::keyPressEvent(QKeyEvent *) {}
void TFrmMain::mousePressEvent(QMouseEvent *) {}
void TFrmMain::mouseMoveEvent(QMouseEvent *) {}
void TFrmMain::mouseReleaseEvent(QMouseEvent *) {}
void TFrmMain::leaveEvent(QEvent *) {}
