// A new profile's Options dialog shows, for every setting, what the program
// does: with nothing stored, each box, number and text shows the value that
// the code acting on the setting reads. The program is run through the work
// that reads them (start-up, a check that finds mail and raises its alerts,
// browsing, the pulse, a deleted-message record, the reader, an update
// check, the log), and every read of the settings file is noted.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <map>
#include <set>

#include "HTTPGet.h"
#include "HttpTestServer.h"
#include "IniFile.h"
#include "NetPOP3.h"
#include "OpenSSLServer.h"
#include "settings/Kel_Reg.h"
#include "mainwindow/MainWindowFixture.h"
#include "mainwindow/unFrmHint.h"
#include "mainwindow/unScr.h"
#include "reader/ReaderFixture.h"
#include "updates/UpdateFiles.h"
#include "../../mailproto/dovecot_suite.h"

namespace {

class OptionDefaults : public DovecotSuite<OptionDefaults> {
protected:
    static void SetUpTestSuite() {
        DovecotServer::Options o;
        o.Users.push_back({"fresh", "pw-fresh"});
        if (!StartDovecot(o)) return;
        Server->FillMailbox("fresh", 3);
    }
};

// Every value the program read from one file, by "section/key"; keys the
// test stored itself are left out.
class TSettingsReads {
public:
    explicit TSettingsReads(std::string File) : FFile(std::move(File)) {
        SetIniReadObserver([this](const std::string &file, std::string_view section, std::string_view key,
                                  std::string_view, const std::string &value) {
            const std::string name = std::string(section) + "/" + std::string(key);
            if (Recording && file == FFile && !Stored.count(name)) Values[name].insert(value);
        });
    }
    ~TSettingsReads() { SetIniReadObserver({}); }
    std::map<std::string, std::set<std::string>> Values;
    std::set<std::string> Stored;
    bool Recording = true;

private:
    std::string FFile;
};

}  // namespace

TEST_F(OptionDefaults, ANewProfileShowsWhatTheProgramDoes) {
    TempDir home, www;
    TEnvVar config("XDG_CONFIG_HOME", home.File("config"));
    // An older release made the plain profile's autostart entry; the
    // profile's settings were lost since.
    const std::string entry = home.File("config/autostart/Tarnwick.desktop");
    WriteTestFile(entry, "[Desktop Entry]\nType=Application\nExec=/opt/tarnwick/tarnwick\n");
    // An update site that has a newer version.
    const TestPKI &pki = TestPKI::Get();
    SetHTTPGetCAFile(pki.CAFile);
    HttpTestServer site(www.Path(), pki.ServerCert, pki.Key);
    TEnvVar updates(UpdateUrlVariable, site.Url("/tarnwick/"));
    WriteTestFile(www.File("tarnwick/fenlow.dat"), "[File]\r\nVersion=99.0.0.0\r\nName=tarnwick.zip\r\n");

    MainWindowHarness h;
    TTestAccount fresh{.Name = "fresh", .Port = Server->Pop3Port(), .User = "fresh", .Password = "pw-fresh"};
    // Nothing of the dialog's is stored: the account and the language only.
    h.WriteSettings({fresh});
    TSettingsReads reads(h.Dir.File("Tarnwick.ini"));
    TFrmMain &m = h.Start();
    m.NetPOP31->SetReadTimeout(20000);
    m.UpdatePauseMs = 0;

    // What the dialog shows.
    reads.Recording = false;
    h.Options->ShowFromMenu(TFormAsetukset::mpFirst);
    const auto shown = h.Options->ShownSettings();
    const std::pair<const char *, QCheckBox *> flagBoxes[] = {
        {"Options/ViewSendFrom", h.Options->CheckBox3}, {"Options/AnimGetMails", h.Options->CheckBox4},
        {"Options/AnimNewMails", h.Options->CheckBox5}, {"Options/AnimError", h.Options->CheckBox7},
        {"Options/AnimUpdating", h.Options->CheckBox9}, {"Options/ShowOnDown", h.Options->cbShowDown},
    };
    std::map<std::string, std::string> flags;
    for (const auto &[key, box] : flagBoxes) flags[key] = BooleanToStr(box->isChecked());
    h.Options->btCancel->click();
    reads.Recording = true;
    ASSERT_EQ(shown.size(), h.Options->SettingKeys().size());

    // The program at work. The own saver, when it comes, is left at once.
    int savers = 0;
    auto leaveSavers = [&] {
        SetModalHook([&](QDialog &d) {
            if (auto *s = dynamic_cast<TfrmMainScr *>(&d)) {
                ++savers;
                s->EndSaver();
            }
        });
    };
    leaveSavers();
    m.LoadSettings();
    m.Timer5Timer();  // the delayed start-up
    // The scheduler's check finds mail while the desktop's saver runs.
    h.Desk.SaverActiveAnswers = 1;
    m.State.Options.NextCheck = Now() - 0.001;
    m.Timer6Timer();
    ASSERT_EQ(m.State.Accounts.TotalNew, 3) << h.Log();
    EXPECT_TRUE(WaitUntil([&] { return savers > 0; }, 5000));
    m.Timer2Timer();  // browsing
    m.Timer7Timer();  // the pulse
    m.SaveDeletedMessage("fresh", "Sender <s@example.org>", "Subject");
    EXPECT_TRUE(RunLoadedReader([](TfrmMessBody &) {}));
    leaveSavers();
    m.CheckProgramUpdate();
    // Settings that count only when another is on: that one stored, each of
    // them is read while it is still missing.
    for (const char *gate : {"PlaySound", "ShowBallTip", "RunProg"}) {
        IniWriteString(SettingsFilePath(), "Options", gate, "True");
        reads.Stored.insert(std::string("Options/") + gate);
    }
    m.RaiseNewMailAlerts();
    CloseMailHint();
    h.Stop();  // the log is kept or not
    SetModalHook({});
    SetHTTPGetCAFile("");

    for (const auto &[key, value] : shown) {
        SCOPED_TRACE(key);
        if (key == "Options/StartOnW") {
            // What the desktop does: its autostart entry.
            EXPECT_EQ(value, "True");
            EXPECT_TRUE(FileExists(entry));
            continue;
        }
        auto it = reads.Values.find(key);
        if (it == reads.Values.end()) {
            ADD_FAILURE() << "no work of the program read it";
            continue;
        }
        EXPECT_EQ(it->second, std::set<std::string>{value});
    }
    for (const auto &[key, value] : flags) {
        SCOPED_TRACE(key);
        EXPECT_EQ(reads.Values[key], std::set<std::string>{value});
    }
}

// A stored sound setting counts as the alert reads it: any true value.
TEST(OptionDefaultsStored, ThePlaySoundBoxReadsTheSettingAsTheAlertDoes) {
    for (const char *stored : {"True", "true", "1", "-1", "False", "0", "no"}) {
        SCOPED_TRACE(stored);
        MainWindowHarness h;
        h.WriteSettings({}, {std::string("PlaySound=") + stored});
        TFrmMain &m = h.Start();
        m.PlayNewMailSound();
        const bool plays = h.Desk.Count("PlaySound") == 1;
        h.Options->ShowFromMenu(TFormAsetukset::mpFirst);
        EXPECT_EQ(h.Options->cbPlaySound->isChecked(), plays);
        h.Options->btCancel->click();
    }
}
