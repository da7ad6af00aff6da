#include "unBrowse.h"

// The window itself comes with the message reader's dialogs; until then
// nothing is chosen.
void ShowBrowseDialog(int, int, std::string &Path) { Path.clear(); }
