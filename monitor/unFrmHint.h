// The program's own new-mail popup, a speech bubble above the panel.
#pragma once

#include <string>

void ShowMailHint(const std::string &Text, int DurationMs);
bool MailHintShown();
// Closes a shown popup at once (the tray menu opening does this).
void CloseMailHint();
