#include "FrmMain.h"

void TFrmMain::ShowMessageStep(int) {}
int TFrmMain::NextAccountWithMail(int) { return 0; }
int TFrmMain::PrevAccountWithMail(int) { return 0; }
void TFrmMain::Timer2Timer() {}
void TFrmMain::Timer3Timer() { Timer3->SetEnabled(false); }
void TFrmMain::Timer4Timer() { Timer4->SetEnabled(false); }
void TFrmMain::NappiClick(TSkinButton *) {}
void TFrmMain::LabelFromClick() {}
void TFrmMain::FormHide() { Player.Close(); }
