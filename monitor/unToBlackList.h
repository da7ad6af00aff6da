// The add-sender dialog: a sender of the mail now listed goes into a rule.
#pragma once

void ShowAddSenderToRule(int Right, int Bottom);
bool AddSenderDialogOpen();
