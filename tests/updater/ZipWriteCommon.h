// Common pieces of the archive writing tests: a source tree, and the peers
// that must accept every archive the component writes (Info-ZIP's unzip,
// 7-Zip and Python's zipfile) and extract it byte for byte.
#pragma once

#include "ChildProcess.h"
#include "ZipTestCommon.h"

#include <sys/stat.h>

class ZipWriteTest : public ZipTest {
protected:
    // Names with blanks and non-ASCII letters, an empty file and folder, an
    // executable, text that deflates and bytes that do not.
    const std::vector<std::string> Tree = {"empty.txt", "text.txt", "random.bin", "with space.txt",
                                           "gr\xC3\xBC\xC3\x9F" "e/na\xC3\xAFve.txt", "deep/er/still/file.dat",
                                           "tool.sh"};
    void MakeTree() {
        const std::string bytes[] = {"", TextBytes(300000, 3), RandomBytes(200000, 4), "spaces in the name\n",
                                     "non-ascii names\n", TextBytes(5000, 9), "#!/bin/sh\necho hi\n"};
        for (size_t i = 0; i < Tree.size(); ++i) Put(Tree[i], bytes[i]);
        ForceDirectories(Src() + "emptydir");
        ::chmod((Src() + "tool.sh").c_str(), 0755);
    }

    // 7-Zip finds no archive behind a prefix of some hundred megabytes (not
    // behind Info-ZIP's either); a test with such a prefix leaves it out.
    bool SevenZipTakesIt = true;

    // The peers run in a UTF-8 locale, so that they keep non-ASCII names.
    static std::vector<std::string> Env() { return {"LC_ALL=C.UTF-8"}; }

    // unzip -t, 7z t and Python's zipfile test every entry of the archive.
    // bigData: Python reads the entries in large blocks (its tester reads 4
    // GiB of zeros slowly), checking the same CRCs.
    void ExpectPeersAccept(const std::string &archive, const std::string &password = "", bool bigData = false) {
        SCOPED_TRACE(archive);
        std::string out;
        std::vector<std::string> unzip = {"unzip", "-t", "-q"};
        if (!password.empty()) unzip.insert(unzip.end(), {"-P", password});
        unzip.push_back(archive);
        // Four gigabytes take a while on a busy machine.
        const int timeout = bigData ? 280 : 120;
        EXPECT_EQ(RunProgram(unzip, &out, nullptr, Env(), "", timeout), 0) << out;
        if (HaveTool("7z") && SevenZipTakesIt) {
            std::vector<std::string> seven = {"7z", "t", "-bd"};
            if (!password.empty()) seven.push_back("-p" + password);
            seven.push_back(archive);
            out.clear();
            EXPECT_EQ(RunProgram(seven, &out, nullptr, Env(), "", timeout), 0) << out;
        }
        out.clear();
        if (password.empty() && !bigData) {
            EXPECT_EQ(RunProgram({PythonProgram(), "-m", "zipfile", "-t", archive}, &out, nullptr, Env(), "", timeout), 0)
                << out;
        } else {
            const char *script = "import sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1])\n"
                                 "z.setpassword(sys.argv[2].encode())\n"
                                 "for n in z.namelist():\n"
                                 "    with z.open(n) as f:\n"
                                 "        while f.read(1 << 24): pass\n"
                                 "print('Done testing')\n";
            EXPECT_EQ(RunProgram({PythonProgram(), "-c", script, archive, password}, &out, nullptr, Env(), "", timeout),
                      0)
                << out;
        }
        EXPECT_TRUE(Contains(out, "Done testing") && !Contains(out, "corrupted")) << out;
    }

    // Info-ZIP's unzip extracts the archive into a fresh folder, which then
    // holds exactly the files of the source tree (and their modes).
    void ExpectUnzipGivesSource(const std::string &archive, const std::string &password = "") {
        SCOPED_TRACE(archive);
        std::string dir = Tmp.Path() + "unzipped/";
        RunTool("rm -rf " + ShellQuote(dir));
        std::vector<std::string> unzip = {"unzip", "-q", "-o"};
        if (!password.empty()) unzip.insert(unzip.end(), {"-P", password});
        unzip.insert(unzip.end(), {archive, "-d", dir});
        std::string out;
        ASSERT_EQ(RunProgram(unzip, &out, nullptr, Env()), 0) << out;
        out.clear();
        EXPECT_EQ(RunProgram({"diff", "-r", Src(), dir}, &out), 0) << out;
        EXPECT_EQ(FileMode(dir + "tool.sh") & 0777, FileMode(Src() + "tool.sh") & 0777);
    }

    // The component's own reader extracts the archive into a cleared Out().
    void ExpectReaderGivesSource(const std::string &archive, const std::string &password = "") {
        SCOPED_TRACE(archive);
        ClearOut();
        TZipArchiver zip;
        zip.Password = password;
        Open(zip, archive);
        zip.ExtractMatching();
        EXPECT_TRUE(zip.LastResult().Ok()) << zip.LastResult().Failed.Text();
        std::string out;
        EXPECT_EQ(RunProgram({"diff", "-r", Src(), Out()}, &out), 0) << out;
        EXPECT_EQ(FileMode(Out() + "tool.sh") & 0777, FileMode(Src() + "tool.sh") & 0777);
    }

    // A new archive of the whole source tree.
    void MakeArchive(const std::string &archive, int mode, const std::string &password = "",
                     TZipZip64Mode zip64 = zmAuto) {
        TZipArchiver zip;
        zip.FileName = archive;
        zip.SetCompressionMode(mode);
        zip.Password = password;
        zip.Zip64Mode = zip64;
        zip.OpenZip();
        zip.BaseDir = Src();
        zip.AddFiles("*.*");
        EXPECT_TRUE(zip.LastResult().Ok()) << zip.LastResult().Failed.Text();
        zip.CloseZip();
    }

    static std::string Bytes(const std::string &path) { return ReadFileToString(path); }
};
