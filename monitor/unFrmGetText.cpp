#include "unFrmGetText.h"

namespace {
bool GOpen = false;
}

bool TextInputDialogOpen() { return GOpen; }

std::string ShowTextInputDialog(const std::string &, const std::string &, const std::string &, int,
                                int, bool) {
    return {};
}
