#include "FrmMain.h"

bool TFrmMain::SkinExists(const std::string &) { return false; }
void TFrmMain::LoadSkin(const std::string &, bool) {}
void TFrmMain::ApplySkinRegion() {}
std::string TFrmMain::RandomSkin() { return State.Options.Skin; }
std::string TFrmMain::NextSkinName(const std::string &Name) { return Name; }
