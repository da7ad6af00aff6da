// A program folder for Fenlow's tests: a stand-in Tarnwick that records its
// start, program and skin archives made by Info-ZIP's zip, and the form run
// offscreen with short ticks.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "IniFile.h"
#include "settings/Kel_Reg.h"
#include "updates/ProgramLock.h"
#include "QtTestApp.h"
#include "SysUtils.h"
#include "settings/TarnwickVersion.h"
#include "TestSupport.h"
#include "updates/UpdateFiles.h"
#include "ZipTools.h"
#include "unFenlow.h"

// A shell script standing in for Tarnwick: when started, it appends its tag,
// the [FENLOW] Version it finds in the settings file and the arguments it
// was given (if any) to "started.txt" beside it. Behind its end it carries a
// version marker as an executable does (the shell never reads that far): by
// default this build's version.
inline std::string TarnwickStandIn(const std::string &tag, const std::string &version = TarnwickVersion) {
    return "#!/bin/sh\n"
           "cd \"$(dirname \"$0\")\" || exit 1\n"
           "v=$(grep -as '^Version=' Tarnwick.ini | tr -d '\\r\\n')\n"
           "echo \"" + tag + " $v${1:+ $*}\" >> started.txt\n"
           "exit 0\n"
           "TW-FILEVERSION:" + version + std::string(1, '\0');
}

class FenlowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        EnsureQApplication();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { IniFileCacheClear(); }

    std::string P(const std::string &rel) const { return Dir.File(rel); }
    std::string Read(const std::string &rel) const { return ReadTestFile(P(rel)); }
    bool Exists(const std::string &rel) const {
        struct stat st;
        return ::lstat(P(rel).c_str(), &st) == 0;
    }
    void Put(const std::string &rel, const std::string &bytes, unsigned mode = 0644) {
        WriteTestFile(P(rel), bytes);
        ::chmod(P(rel).c_str(), mode);
    }
    void InstallOldTarnwick() { Put(TarnwickExeName, TarnwickStandIn("old"), 0755); }

    // An archive made by Info-ZIP's zip from the given files (relative name,
    // contents, mode), stored at `archive`.
    struct TEntry {
        std::string Name, Bytes;
        unsigned Mode = 0644;
    };
    void MakeZip(const std::string &archive, const std::vector<TEntry> &entries, const std::string &flags = "-q -X -r") {
        std::string src = Src.Path() + std::to_string(++FZipCount) + "/";
        for (const auto &e : entries) {
            WriteTestFile(src + e.Name, e.Bytes);
            ::chmod((src + e.Name).c_str(), e.Mode);
        }
        ForceDirectories(ExtractFileDir(archive));
        DeleteFile(archive);
        ASSERT_EQ(RunTool("cd " + ShellQuote(src) + " && zip " + flags + " " + ShellQuote(archive) + " ."), 0);
    }
    // The usual program archive: a new Tarnwick and a language file.
    void MakeProgramZip(const std::string &archive, const std::string &tag = "new") {
        MakeZip(archive, {{TarnwickExeName, TarnwickStandIn(tag, "0.9.0.0"), 0755},
                          {"Lang/english.lng", "[About]\r\nVersion=new\r\n"}});
    }
    // "fenlow.dat" as Tarnwick leaves it for Fenlow.
    void WriteFenlowDat(const std::string &path, const std::string &sha = "") {
        std::string text = "[File]\r\nVersion=0.9.0.0\r\nName=tarnwick.zip\r\nPath=" + path + "\r\n";
        if (!sha.empty()) text += "SHA256=" + sha + "\r\n";
        text += "[FENLOW]\r\nVersion=0.1.2.5\r\n";
        Put("fenlow.dat", text);
    }

    // Runs the form until it closes (at most 30 s); the form stays for the
    // caller to look at and is destroyed by Finish().
    TfrmFenlow &Start(const std::vector<std::string> &args, int tickMs = 20) {
        Form = std::make_unique<TfrmFenlow>(args, Dir.Path(), tickMs);
        Form->LockWaitMs = 200;
        Form->show();
        return *Form;
    }
    bool WaitClosed(int timeoutMs = 30000) {
        return WaitUntil([this] { return Form->Finished(); }, timeoutMs);
    }
    TfrmFenlow &Run(const std::vector<std::string> &args, int tickMs = 20) {
        Start(args, tickMs);
        EXPECT_TRUE(WaitClosed()) << "the form did not close";
        return *Form;
    }
    // Destroys the form (the version is written then, when it still is due).
    void Finish() {
        Form.reset();
        IniFileCacheClear();
    }

    // What the started Tarnwick recorded, once a line arrived (or "").
    std::string WaitStarted() {
        WaitUntil([this] { return !Read("started.txt").empty(); }, 10000);
        return Read("started.txt");
    }
    // A Tarnwick that should not start has had time to write its line.
    std::string StartedAfterAWhile() {
        ProcessEventsFor(300);
        return Read("started.txt");
    }
    // The program folder's temp/ made a link to a folder on another file
    // system (/dev/shm), which goes with the test; false where there is none.
    bool TempOnAnotherFileSystem() {
        struct stat here, shm;
        if (::stat(Dir.Path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev)
            return false;
        char folder[] = "/dev/shm/tw-fenlow-XXXXXX";
        if (!::mkdtemp(folder)) return false;
        FOtherTemp.Path = folder;
        return ::symlink(folder, P("temp").c_str()) == 0;
    }
    std::string FenlowVersionInSettings() {
        IniFileCacheClear();
        return IniReadString(P("Tarnwick.ini"), "FENLOW", "Version", "");
    }

    TempDir Dir, Src;
    std::unique_ptr<TfrmFenlow> Form;

private:
    struct TOtherTemp {
        std::string Path;
        ~TOtherTemp() {
            if (!Path.empty()) RunTool("rm -rf " + ShellQuote(Path));
        }
    };
    int FZipCount = 0;
    TOtherTemp FOtherTemp;
};
