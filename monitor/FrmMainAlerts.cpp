#include "FrmMain.h"

void TFrmMain::ShowBalloon() {}
void TFrmMain::PlayNewMailSound() {}
void TFrmMain::BlinkKeyboardLeds() {}
void TFrmMain::Timer7Timer() { Timer7->SetEnabled(false); }
void TFrmMain::StopScreenSaver() {}
void TFrmMain::WriteMailsFile(bool) {}
