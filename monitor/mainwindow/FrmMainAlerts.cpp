// The alerts of new mail: balloon or popup, sound, programs, the monitor,
// the pulse of beeps and keyboard lights, the system screen saver, and the
// status file for external skin programs.
#include <QThread>

#include "Desktop.h"
#include "FrmMain.h"
#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "settings/ProgramPaths.h"
#include "settings/VeskRutins.h"
#include "unFrmHint.h"
#include "unScr.h"

namespace {

// A count setting: a text that is no number takes the default, a negative
// number means none; huge values are held to max.
int CountOption(const std::string &Key, int Default, int Max) {
    int v;
    if (!TryStrToInt(Trim(ReadOption(Key, IntToStr(Default))), v))
        v = Default;
    if (v < 0)
        v = 0;
    return v > Max ? Max : v;
}

// The pulse runs twice this many steps at most (about an hour at the
// shortest period).
constexpr int MaxBlinkTimes = 10000;

}  // namespace

void TFrmMain::RaiseNewMailAlerts() {
    Timer2->SetEnabled(true);
    // Each alert on its own: a balloon the desktop refuses must not keep the
    // sound from playing.
    Guard("ShowBalloon", [this] { ShowBalloon(); });
    Guard("PlayNewMailSound", [this] { PlayNewMailSound(); });
    Guard("RunProg", [] {
        if (StrToBoolean(ReadOption("RunProg", "False")))
            Desktop().StartProgram(ReadOption("ProgFile", ""));
    });
    Guard("RunMailClient", [] {
        if (StrToBoolean(ReadOption("RunMailClient", "False")))
            Desktop().StartProgram(ReadOption("EMailClPath", ""));
    });
    Guard("TurnMonOn", [] {
        if (StrToBoolean(ReadOption("TurnMonOn", "True")))
            Desktop().MonitorOn();
    });
    Guard("BlinkTimes", [this] {
        Timer7->Tag = CountOption("BlinkTimes", 3, MaxBlinkTimes) * 2;
        Timer7->SetEnabled(true);
    });
    Guard("StopScreenSaver", [this] {
        if (Desktop().ScreenSaverActive())
            StopScreenSaver();
    });
}

void TFrmMain::ShowBalloon() {
    if (!StrToBoolean(ReadOption("ShowBallTip", "False")))
        return;
    std::string text;
    for (const Tiedot &t : State.Accounts.Items)
        if (t.NewCount > 0)
            text += t.Name + " - " + State.Texts.YouGot + " " + IntToStr(t.NewCount) + " " + State.Texts.NewMails +
                    "\n";
    int seconds = CountOption("BTipSTime", 10, 3600);
    if (StrToBoolean(ReadOption("DefBTip", "False"))) {
        // The notification area keeps a balloon at most this long.
        TrayIcon1->ShowBalloonTip("Tarnwick", text, biInfo, uint8_t(seconds > 255 ? 255 : seconds));
    } else {
        ShowMailHint(text, seconds * 1000);
    }
}

void TFrmMain::PlayNewMailSound() {
    // This one setting has always been read as any true value: "true", "1".
    if (!StrToBoolDef(Trim(ReadOption("PlaySound", "False")), false))
        return;
    Player.FileName = SoundFileSetting(ReadOption("SoundFile", DefaultSoundFile()));
    if (!Player.FileName.empty() && !Player.Playing()) {
        Player.Open();
        Player.Play();
    }
}

void TFrmMain::BlinkKeyboardLeds() { Desktop().ToggleKeyboardLeds(); }

void TFrmMain::Timer7Timer() {
    const bool beep = StrToBoolean(ReadOption("Beep", "False"));
    const bool blink = StrToBoolean(ReadOption("Blink", "False"));
    if (!beep && !blink) {
        Timer7->Tag = 0;
        Timer7->SetEnabled(false);
        return;
    }
    if (blink)
        BlinkKeyboardLeds();
    if (beep && Timer7->Tag % 2 == 0)
        Desktop().Beep();
    --Timer7->Tag;
    if (Timer7->Tag < 1)
        Timer7->SetEnabled(false);
}

void TFrmMain::StopScreenSaver() {
    if (StrToBoolean(ReadOption("DisScreen", "True"))) {
        for (int i = 0; i < 100 && Desktop().ScreenSaverActive(); ++i) {
            Desktop().PokeScreenSaver();
            ProcessMessages();
            if (ExitRequested())
                return;
            // The saver needs a moment to notice the activity.
            QThread::msleep(1);
        }
    }
    SystemScreenSave();
}

void TFrmMain::WriteMailsFile(bool Changed) {
    std::string path = ProgramFile("temp/mails.dat");
    DeleteFile(path);
    if (ReadOption("UsedSkin", "").empty())
        return;
    ForceDirectories(ExtractFileDir(path));
    TMemIniFile ini(path, 0600);
    ini.WriteString("Other", "NewM", Changed ? "True" : "False");
    ini.WriteString("Other", "Activ", IntToStr(State.Accounts.ShownIndex));
    int written = 0;
    for (int a = 0; a < State.Accounts.Count() && !ExitRequested(); ++a) {
        const Tiedot &t = State.Accounts[a];
        const std::string section = IntToStr(a);
        ini.WriteString(section, "M", IntToStr(t.NewCount));
        auto entry = [](const TStringList &l, int k) { return k < l.Count() ? l[k] : std::string(); };
        for (int k = 1; k <= t.NewCount; ++k) {
            const std::string s = section + "_" + IntToStr(k);
            ini.WriteString(s, "Sender", entry(t.Senders, k - 1));
            ini.WriteString(s, "EMail", entry(t.Addresses, k - 1));
            ini.WriteString(s, "Subject", entry(t.Subjects, k - 1));
            ini.WriteString(s, "Date", entry(t.Dates, k - 1));
            ini.WriteString(s, "ID", entry(t.MessageIds, k - 1));
            if (++written % 200 == 0) {
                ProcessMessages();
                if (ExitRequested())
                    break;
            }
        }
    }
    ini.UpdateFile();
}
