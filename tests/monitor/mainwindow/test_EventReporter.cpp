#include <gtest/gtest.h>

#include <QTextEdit>
#include <map>
#include <memory>

#include "mainwindow/EventReporter.h"
#include "ImgList.h"
#include "QtTestApp.h"
#include "settings/ProgramPaths.h"
#include "TestSupport.h"
#include "settings/unLanguage.h"
#include "settings/Tiedot.h"
#include "TrayIcon.h"

namespace {

class RecordingLog : public TRichEditLog {
public:
    using TRichEditLog::TRichEditLog;
    void LogLineAdded() override { ++Added; }
    int Added = 0;
};

// A reporter writing into a real rich-text box, with its language texts and
// settings in maps and a tray icon on a recording notification area.
class EventReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        FPrevious = SetTrayBackend(&Shell);
        Tray = std::make_unique<TTrayIcon>(nullptr);
        Tray->SetIconVisible(true);
        ErrorImages.Add(QIcon());
        ErrorImages.Add(QIcon());
        Log.Clear();
        R.Log = &Log;
        R.LogReady = true;
        R.TrayIcon = Tray.get();
        R.ErrorImages = &ErrorImages;
        R.Clock = [] { return EncodeDate(2026, 12, 8) + EncodeTime(14, 3, 22, 0); };
        R.MessageText = [this](int n) {
            auto it = Messages.find(n);
            return it == Messages.end() ? std::string() : it->second;
        };
        R.OptionText = [this](const std::string &key, const std::string &def) {
            auto it = Options.find(key);
            return it == Options.end() ? def : it->second;
        };
    }
    void TearDown() override {
        Tray.reset();
        SetTrayBackend(FPrevious);
    }
    std::string Last() const { return Log.Line(Log.LineCount() - 1); }

    // Widgets below need the application object before they are built.
    struct AppFirst {
        AppFirst() { EnsureQApplication(); }
    } App;

    TRecordingTrayBackend Shell;
    std::unique_ptr<TTrayIcon> Tray;
    TImageList ErrorImages;
    QTextEdit Edit;
    RecordingLog Log{&Edit};
    TEventReporter R;
    std::map<int, std::string> Messages{{1, "Bad login!"},       {2, "Connection error!"},
                                        {4, "Could not connect"}, {6, "Settings saved"},
                                        {10, "Checking"},         {11, "Ready."},
                                        {13, "Unable to log in"}};
    std::map<std::string, std::string> Options;

private:
    TTrayBackend *FPrevious = nullptr;
};

}  // namespace

TEST_F(EventReporterTest, ReportsAreDroppedUntilTheLogIsReadyAndAfterItIsGone) {
    R.LogReady = false;
    R.ReportEvent("mail.example.org", 10, 4, TEventReporter::clBlack);
    R.ReportEvent(" Bad login", 0, 1, 0);
    EXPECT_EQ(Log.LineCount(), 2);
    EXPECT_FALSE(R.ErrorFlag);
    EXPECT_EQ(Shell.Current(Tray->Id()).szTip, "");
    R.LogReady = true;
    R.Log = nullptr;
    R.ReportEvent("mail.example.org", 10, 4, 0);  // no crash without a view
    R.Log = &Log;
    R.ReportEvent("mail.example.org", 10, 4, 0);
    EXPECT_EQ(Log.LineCount(), 3);
    EXPECT_EQ(Log.Added, 1);
}

TEST_F(EventReporterTest, EachKindBuildsItsLine) {
    R.ReportEvent("ignored", 6, 3, TEventReporter::clBlue);
    EXPECT_EQ(Last(), "14:03:22  Settings saved");
    R.ReportEvent("mail.example.org", 10, 4, 0);
    EXPECT_EQ(Last(), "14:03:22  Checking mail.example.org");
    R.ReportEvent("You got 2 new mails", 11, 2, 0);
    EXPECT_EQ(Last(), "14:03:22  Ready. You got 2 new mails");
    R.ReportEvent("Update found", 99, 5, 0);
    EXPECT_EQ(Last(), "14:03:22  Update found");
    // A number the language file lacks: time and argument still appear.
    R.ReportEvent("pop.example.org", 77, 4, 0);
    EXPECT_EQ(Last(), "14:03:22   pop.example.org");
    EXPECT_EQ(Log.Line(0), "Tarnwick Log:");
    EXPECT_EQ(Log.Line(1), std::string(26, '-'));
    EXPECT_EQ(Log.Added, 5);
    // Server text stays one line of plain text.
    R.ReportEvent("-ERR <b>no</b>\r\nsecond", 0, 1, TEventReporter::clRed);
    EXPECT_EQ(Log.LineCount(), 8);
    EXPECT_EQ(Last(), "14:03:22  -ERR <b>no</b>  second");
}

TEST_F(EventReporterTest, OwnErrorsAreLoggedOnlyWhenMyErrorsIsExactlyTrue) {
    R.ReportEvent("Error: #0054", 0, 6, TEventReporter::clRed);
    Options["MyErrors"] = "true";
    R.ReportEvent("Error: #0054", 0, 6, TEventReporter::clRed);
    EXPECT_EQ(Log.LineCount(), 2);
    EXPECT_EQ(Log.Added, 0);  // nothing at all, not even the hook
    Options["MyErrors"] = "True";
    R.ReportEvent("Error: #0054", 0, 6, TEventReporter::clRed);
    EXPECT_EQ(Last(), "14:03:22  Error: #0054");
}

TEST_F(EventReporterTest, ErrorTextsMapToTheirMessagesFlagsAndTrayHint) {
    struct Case {
        const char *text;
        std::string line;
        bool flag;
        int kind;
    };
    const Case cases[] = {
        {" Bad login or password", "14:03:22  Bad login!", true, 111},
        {"Socket Error # 10061", "14:03:22  Connection error!", true, 222},
        {"Cannot connect to the host", "14:03:22  Connection error!", true, 222},
        {"Could not resolve host", "14:03:22  Could not connect", true, 0},
        {"Unable to read the greeting", "14:03:22  Unable to log in", true, 0},
        {"-ERR [AUTH] Authentication failed.", "14:03:22  -ERR [AUTH] Authentication failed.", false, 0},
        {"Bad login", "14:03:22  Bad login", false, 0},  // the known text begins with a blank
        {"", "14:03:22  ", false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        R.ErrorFlag = false;
        R.LastErrorKind = 0;
        R.ReportEvent(c.text, 0, 1, TEventReporter::clRed);
        EXPECT_EQ(Last(), c.line);
        EXPECT_EQ(R.ErrorFlag, c.flag);
        EXPECT_EQ(R.LastErrorKind, c.kind);
        EXPECT_EQ(Shell.Current(Tray->Id()).szTip, c.line);
    }
}

TEST_F(EventReporterTest, AGoodAccountAfterALoginOrSocketErrorEndsTheErrorSignal) {
    R.ReportEvent(" Bad login", 0, 1, TEventReporter::clRed);
    EXPECT_TRUE(R.ErrorFlag);
    EXPECT_EQ(Tray->IconList(), &ErrorImages);
    EXPECT_EQ(Tray->CycleInterval(), 200u);
    EXPECT_TRUE(Tray->CycleIcons());
    R.ReportEvent("You got 0 new mails", 11, 2, TEventReporter::clBlack);
    EXPECT_FALSE(R.ErrorFlag);

    // Other errors are not ended by the next account.
    R.LastErrorKind = 0;
    R.ReportEvent("Could not ", 0, 1, TEventReporter::clRed);
    R.ReportEvent("You got 0 new mails", 11, 2, TEventReporter::clBlack);
    EXPECT_TRUE(R.ErrorFlag);

    // Without AnimError the flag never stays set and the icon is left alone.
    TMainOptions options;
    options.AnimError = false;
    R.MainOptions = &options;
    Tray->SetIconList(nullptr);
    R.ReportEvent("Socket Error # 10060", 0, 1, TEventReporter::clRed);
    EXPECT_FALSE(R.ErrorFlag);
    EXPECT_EQ(R.LastErrorKind, 222);
    EXPECT_EQ(Tray->IconList(), nullptr);
}

TEST_F(EventReporterTest, AnErrorWhileTheOptionsDialogShowsSelectsTheLogPage) {
    bool showing = false;
    int selected = 0;
    R.OptionsShowing = [&] { return showing; };
    R.SelectLogPage = [&] { ++selected; };
    R.ReportEvent(" Bad login", 0, 1, 0);
    EXPECT_EQ(selected, 0);
    showing = true;
    R.ReportEvent("mail.example.org", 10, 4, 0);  // the flag is still set
    EXPECT_EQ(selected, 1);
}

TEST_F(EventReporterTest, TheLogKeepsItsHeaderAndAtMostLogValueLines) {
    Options["LogValue"] = "3";
    for (int i = 1; i <= 6; ++i)
        R.ReportEvent("line " + std::to_string(i), 0, 5, 0);
    ASSERT_EQ(Log.LineCount(), 5);
    EXPECT_EQ(Log.Line(0), "Tarnwick Log:");
    EXPECT_EQ(Log.Line(2), "14:03:22  line 4");
    EXPECT_EQ(Last(), "14:03:22  line 6");

    Options["LogValue"] = "0";
    R.ReportEvent("gone at once", 0, 5, 0);
    EXPECT_EQ(Log.LineCount(), 2);
    EXPECT_EQ(Log.Line(1), std::string(26, '-'));

    for (const char *bad : {"-5", "many", "99999999999999"}) {
        SCOPED_TRACE(bad);
        Options["LogValue"] = bad;
        R.ReportEvent("x", 0, 5, 0);
        EXPECT_GE(Log.LineCount(), 2);
    }
    // The largest number there is keeps every line (and does not overflow).
    Options["LogValue"] = "9223372036854775807";
    const int before = Log.LineCount();
    R.ReportEvent("kept", 0, 5, 0);
    EXPECT_EQ(Log.LineCount(), before + 1);
    Options["LogValue"] = "many";  // unreadable: the default of 30
    for (int i = 0; i < 40; ++i)
        R.ReportEvent("y", 0, 5, 0);
    EXPECT_EQ(Log.LineCount(), 32);
}

TEST_F(EventReporterTest, LinesAreColouredUnlessUseColorsIsOff) {
    R.ReportEvent("blue", 0, 5, TEventReporter::clBlue);
    R.ReportEvent("green", 0, 5, TEventReporter::clGreen);
    EXPECT_EQ(Log.LineColour(Log.LineCount() - 2), TEventReporter::clBlue);
    EXPECT_EQ(Log.LineColour(Log.LineCount() - 1), TEventReporter::clGreen);
    Options["UseColors"] = "False";
    R.ReportEvent("plain", 0, 5, TEventReporter::clRed);
    EXPECT_EQ(Log.LineColour(Log.LineCount() - 1), TEventReporter::clBlack);
}

TEST_F(EventReporterTest, ALogBoxAlreadyFreedOrAFailingLookupIsNoCrash) {
    // At exit the Options dialog, and with it the log box, may go before the
    // main window makes its last reports.
    auto *edit = new QTextEdit;
    TRichEditLog log(edit);
    log.Clear();
    R.Log = &log;
    R.ReportEvent("mail.example.org", 10, 4, TEventReporter::clBlue);
    EXPECT_EQ(log.LineCount(), 3);
    delete edit;
    EXPECT_NO_THROW(R.ReportEvent("Error: #0031", 0, 5, TEventReporter::clRed));
    EXPECT_EQ(log.LineCount(), 0);
    // So may the tray icon and its pictures.
    auto *images = new TImageList;
    R.ErrorImages = images;
    delete images;
    Tray.reset();
    R.Log = &Log;
    EXPECT_NO_THROW(R.ReportEvent(" Bad login", 0, 1, TEventReporter::clRed));
    EXPECT_TRUE(R.ErrorFlag);
    EXPECT_EQ(log.Line(0), "");
    EXPECT_EQ(log.LineColour(0), -1);
    log.Clear();
    // Nor does a failing lookup escape the reporter.
    R.MessageText = [](int) -> std::string { throw std::runtime_error("language file gone"); };
    EXPECT_NO_THROW(R.ReportEvent("x", 10, 4, 0));
}

// Without seams the reporter reads the current language file and the
// settings file in the program folder, at the moment of each report.
TEST(EventReporterFiles, ReadsTheLanguageFileAndSettingsAtEachReport) {
    EnsureQApplication();
    TempDir dir;
    SetProgramFolder(dir.Path());
    SetSettingsFileName("Tarnwick.ini");
    SetLanguageFileName("test.lng");
    WriteTestFile(dir.File("Lang/Test.LNG"), "[Messages]\r\n10=Checking\r\n2=No connection\r\n");
    WriteTestFile(dir.File("Tarnwick.ini"), "[Options]\r\nLogValue=1\r\nMyErrors=True\r\n");

    QTextEdit edit;
    TRichEditLog log(&edit);
    log.Clear();
    TEventReporter r;
    r.Log = &log;
    r.LogReady = true;
    r.ReportEvent("pop.example.org", 10, 4, 0);
    EXPECT_TRUE(EndsText("  Checking pop.example.org", log.Line(2)));
    r.ReportEvent("Socket Error # 10061", 0, 1, 255);
    EXPECT_EQ(log.LineCount(), 3);  // LogValue 1
    EXPECT_TRUE(EndsText("  No connection", log.Line(2)));
    r.ReportEvent("Error: #0051", 0, 6, 255);
    EXPECT_TRUE(EndsText("  Error: #0051", log.Line(2)));

    // A language switch shows at the next report; a vanished settings file
    // gives the readers' defaults.
    SetLanguageFileName("missing.lng");
    DeleteFile(dir.File("Tarnwick.ini"));
    r.ReportEvent("pop.example.org", 10, 4, 0);
    EXPECT_TRUE(EndsText("   pop.example.org", log.Line(log.LineCount() - 1)));
    EXPECT_EQ(log.LineCount(), 4);
    r.ReportEvent("Error: #0051", 0, 6, 255);
    EXPECT_EQ(log.LineCount(), 4);

    SetProgramFolder("");
    SetLanguageFileName(DefaultLanguageFile);
}
