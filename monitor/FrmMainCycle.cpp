#include "FrmMain.h"

void TFrmMain::Timer6Timer() {}
void TFrmMain::Timer1Timer() {}
bool TFrmMain::CheckAccount(Tiedot &Account, bool &Changed) {
    Account.NewCount = 0;
    Changed = false;
    return false;
}
std::string TFrmMain::StripAngleAddress(const std::string &Text) const { return Text; }
bool TFrmMain::IsHiddenMessage(const std::string &) { return false; }
void TFrmMain::SaveDeletedMessage(const std::string &, const std::string &, const std::string &) {}
