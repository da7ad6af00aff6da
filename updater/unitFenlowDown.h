// Fenlow's download window: the download window of the monitor with a
// smaller face (no message, fixed English button texts) and placed by its
// bottom-right corner. Its names are those of the monitor's window; the unit
// keeps them apart, as the two programs' units always did.
#pragma once

#include <string>

#include "dialogs/unitDown.h"

namespace unitFenlowDown {

class TForm2 : public ::TForm2 {
    Q_OBJECT

public:
    explicit TForm2(QWidget *parent = nullptr);
};

// Shows the window modally with the caption "Tarnwick - " + Caption, its
// right edge at the screen's right edge and its bottom at Bottom, and
// downloads Url into TargetFile (at once and again every second after a
// failure when AutoStart is set, else when "Yes" is clicked). True only when
// the whole file arrived; Cancel answers false. Text and Left are not used:
// this window has no message and is placed by its corner.
bool DownloadFile(const std::string &Caption, const std::string &Text, const std::string &Url,
                  const std::string &TargetFile, int Left, int Bottom, bool AutoStart);

}  // namespace unitFenlowDown
