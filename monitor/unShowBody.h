// The message reader: every message waiting in the shown account, with
// bodies on request, delete, hide and add-sender.
#pragma once

// Bottom-right corner at (X, Y); modal; nothing while one is open.
void ShowMessageReader(int X, int Y);
bool MessageReaderOpen();
