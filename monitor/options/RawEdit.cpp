#include "RawEdit.h"

#include "settings/unDecodes.h"

void TRawEdit::SetRaw(const std::string &Text) {
    FRaw = Text;
    FShown = QString::fromStdString(IsValidUtf8(Text) ? Text : Cp1252ToUtf8(Text));
    setText(FShown);
    setCursorPosition(0);  // a long path shows its beginning
}

std::string TRawEdit::Raw() const { return text() == FShown ? FRaw : text().toStdString(); }
