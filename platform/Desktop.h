// What the monitor asks of the desktop beyond windows and the tray: start a
// program, switch the monitor on, blink the keyboard lights, beep, play the
// new-mail sound, and deal with the system's screen saver. Code above this
// seam never calls D-Bus, X11 or QProcess itself.
//
// The desktop back-end works on what the session offers (X11 for DPMS and the
// keyboard lights, the freedesktop ScreenSaver service on the session bus,
// Qt Multimedia for sound). Where a facility is missing it says so once
// through the log hook and does nothing. Tests install a TRecordingDesktop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TDesktop {
public:
    virtual ~TDesktop();

    // Starts a command line as a detached process: the line is split into
    // the program and its arguments as a shell would quote them, but no
    // shell runs it. False when it could not be started.
    virtual bool StartProgram(const std::string &commandLine) = 0;
    // Wakes the monitor (DPMS on).
    virtual void MonitorOn() = 0;
    // Toggles the Num Lock, Caps Lock and Scroll Lock lights, never the
    // lock states themselves.
    virtual void ToggleKeyboardLeds() = 0;
    // The desktop's default beep.
    virtual void Beep() = 0;

    // The new-mail sound. PlaySound answers false when the file could not be
    // opened for playing.
    virtual bool PlaySound(const std::string &fileName) = 0;
    virtual bool SoundPlaying() = 0;
    virtual void StopSound() = 0;

    // The system's screen saver: whether it is running now, a poke that
    // counts as user activity (ends a running saver), and keeping it from
    // starting while the program shows its own (the cookie goes back to
    // UnInhibitScreenSaver; 0 means nothing was inhibited).
    virtual bool ScreenSaverActive() = 0;
    virtual void PokeScreenSaver() = 0;
    virtual uint32_t InhibitScreenSaver(const std::string &reason) = 0;
    virtual void UnInhibitScreenSaver(uint32_t cookie) = 0;

    // Gives unused heap back to the system.
    virtual void TrimWorkingSet() = 0;

    // Where "not available on this desktop" notes go (the main window's log).
    std::function<void(const std::string &Text)> OnLog;

protected:
    // Logs Text once per Key for the life of the back-end.
    void LogOnce(const std::string &Key, const std::string &Text);

private:
    std::vector<std::string> FLogged;
};

// The back-end in use: the desktop's unless a test installed another.
TDesktop &Desktop();
// Installs a back-end (not owned); nullptr goes back to the desktop's.
// Returns the one installed before.
TDesktop *SetDesktop(TDesktop *desktop);

// Splits a command line into words: blanks separate, double and single
// quotes group, a backslash outside single quotes escapes the next
// character. Empty when the line holds no word.
std::vector<std::string> SplitCommandLine(const std::string &commandLine);

// Records every call as one line ("StartProgram a b", "Beep", ...), for tests.
class TRecordingDesktop : public TDesktop {
public:
    bool StartProgram(const std::string &commandLine) override;
    void MonitorOn() override;
    void ToggleKeyboardLeds() override;
    void Beep() override;
    bool PlaySound(const std::string &fileName) override;
    bool SoundPlaying() override;
    void StopSound() override;
    bool ScreenSaverActive() override;
    void PokeScreenSaver() override;
    uint32_t InhibitScreenSaver(const std::string &reason) override;
    void UnInhibitScreenSaver(uint32_t cookie) override;
    void TrimWorkingSet() override;

    std::vector<std::string> Calls;
    int Count(const std::string &prefix) const;  // calls that begin with prefix
    // Answers the tests set.
    bool StartResult = true;
    bool Playing = false;
    // The saver counts as running for this many more questions.
    int SaverActiveAnswers = 0;
};
