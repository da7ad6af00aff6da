// An edit box that gives back exactly the text it was given, bytes and all
// (a name, password or path from an old Windows-1252 file is not UTF-8),
// until the user changes it. It shows such text as Windows-1252 letters.
#pragma once

#include <QLineEdit>
#include <string>

class TRawEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    void SetRaw(const std::string &Text);
    std::string Raw() const;

private:
    std::string FRaw;
    QString FShown;
};
