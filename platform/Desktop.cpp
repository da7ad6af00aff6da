#include "Desktop.h"

#include <algorithm>

#include "SysUtils.h"

TDesktop::~TDesktop() = default;

void TDesktop::LogOnce(const std::string &Key, const std::string &Text) {
    if (std::find(FLogged.begin(), FLogged.end(), Key) != FLogged.end())
        return;
    FLogged.push_back(Key);
    if (OnLog)
        OnLog(Text);
}

namespace {
TDesktop *GInstalled = nullptr;
}

TDesktop *CreateLinuxDesktop();  // DesktopLinux.cpp

TDesktop &Desktop() {
    if (GInstalled)
        return *GInstalled;
    static TDesktop *linux = CreateLinuxDesktop();
    return *linux;
}

TDesktop *SetDesktop(TDesktop *desktop) {
    TDesktop *old = GInstalled;
    GInstalled = desktop;
    return old;
}

std::vector<std::string> SplitCommandLine(const std::string &commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < commandLine.size(); ++i) {
        char c = commandLine[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
            continue;
        }
        if (c == '\\' && i + 1 < commandLine.size()) {
            word += commandLine[++i];
            inWord = true;
            continue;
        }
        if (quote == '"') {
            if (c == '"')
                quote = 0;
            else
                word += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

// ---- recording back-end ------------------------------------------------------

bool TRecordingDesktop::StartProgram(const std::string &commandLine) {
    Calls.push_back("StartProgram " + commandLine);
    return StartResult;
}
void TRecordingDesktop::MonitorOn() { Calls.push_back("MonitorOn"); }
void TRecordingDesktop::ToggleKeyboardLeds() { Calls.push_back("ToggleKeyboardLeds"); }
void TRecordingDesktop::Beep() { Calls.push_back("Beep"); }
bool TRecordingDesktop::PlaySound(const std::string &fileName) {
    Calls.push_back("PlaySound " + fileName);
    Playing = true;
    return true;
}
bool TRecordingDesktop::SoundPlaying() { return Playing; }
void TRecordingDesktop::StopSound() {
    Calls.push_back("StopSound");
    Playing = false;
}
bool TRecordingDesktop::ScreenSaverActive() {
    if (SaverActiveAnswers > 0) {
        --SaverActiveAnswers;
        return true;
    }
    return false;
}
void TRecordingDesktop::PokeScreenSaver() { Calls.push_back("PokeScreenSaver"); }
uint32_t TRecordingDesktop::InhibitScreenSaver(const std::string &reason) {
    Calls.push_back("InhibitScreenSaver " + reason);
    return 7;
}
void TRecordingDesktop::UnInhibitScreenSaver(uint32_t cookie) {
    Calls.push_back("UnInhibitScreenSaver " + std::to_string(cookie));
}
void TRecordingDesktop::TrimWorkingSet() { Calls.push_back("TrimWorkingSet"); }

int TRecordingDesktop::Count(const std::string &prefix) const {
    return int(std::count_if(Calls.begin(), Calls.end(),
                             [&](const std::string &c) { return c.rfind(prefix, 0) == 0; }));
}
