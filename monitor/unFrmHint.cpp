#include "unFrmHint.h"

namespace {
bool GShown = false;
}

bool MailHintShown() { return GShown; }
void ShowMailHint(const std::string &, int) {}
void CloseMailHint() { GShown = false; }
