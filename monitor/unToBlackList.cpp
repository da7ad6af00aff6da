#include "unToBlackList.h"

namespace {
bool GOpen = false;
}

bool AddSenderDialogOpen() { return GOpen; }
void ShowAddSenderToRule(int, int) {}
