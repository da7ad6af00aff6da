// A small modal dialog asking for one line of text, optionally a password.
#pragma once

#include <string>

// The text entered; empty when the user cancelled.
std::string ShowTextInputDialog(const std::string &Title, const std::string &Prompt,
                                const std::string &InitialText, int Left, int Top, bool Password);
// True while the dialog is shown (callers do not open a second one).
bool TextInputDialogOpen();
