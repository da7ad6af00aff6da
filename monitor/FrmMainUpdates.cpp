#include "FrmMain.h"

bool TFrmMain::CheckProgramUpdate() { return false; }
bool TFrmMain::UpdateUpdater() { return false; }
bool TFrmMain::CheckForSkinUpdate(const std::string &, bool) { return false; }
void TFrmMain::CountUse() {}
