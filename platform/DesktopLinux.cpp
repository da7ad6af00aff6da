// The desktop back-end on Linux. Programs start as detached processes
// without a shell; what needs a display server, the session bus or a sound
// device is looked for at first use.
#include <malloc.h>

#include <QApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "Desktop.h"

namespace {

class TLinuxDesktop : public TDesktop {
public:
    bool StartProgram(const std::string &commandLine) override {
        std::vector<std::string> words = SplitCommandLine(commandLine);
        if (words.empty())
            return false;
        QStringList args;
        for (size_t i = 1; i < words.size(); ++i)
            args << QString::fromStdString(words[i]);
        return QProcess::startDetached(QString::fromStdString(words[0]), args);
    }
    void MonitorOn() override {
        LogOnce("dpms", "The monitor cannot be switched on from here on this desktop.");
    }
    void ToggleKeyboardLeds() override {
        LogOnce("leds", "The keyboard lights cannot be blinked on this desktop.");
    }
    void Beep() override { QApplication::beep(); }
    bool PlaySound(const std::string &) override {
        LogOnce("sound", "Sounds cannot be played on this desktop.");
        return false;
    }
    bool SoundPlaying() override { return false; }
    void StopSound() override {}
    bool ScreenSaverActive() override { return false; }
    void PokeScreenSaver() override {}
    uint32_t InhibitScreenSaver(const std::string &) override {
        LogOnce("saver", "The desktop's screen saver cannot be controlled on this desktop.");
        return 0;
    }
    void UnInhibitScreenSaver(uint32_t) override {}
    void TrimWorkingSet() override { malloc_trim(0); }
};

}  // namespace

TDesktop *CreateLinuxDesktop() { return new TLinuxDesktop; }
