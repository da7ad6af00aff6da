// Common pieces of the archive tests: a source tree, archives made from it by
// real tools, and a question seam that answers from a script.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "SysUtils.h"
#include "TestSupport.h"
#include "ZipArchiver.h"
#include "ZipCrypto.h"
#include "ZipTools.h"

// Answers the component's default questions from queues; records every text.
class ScriptedQuestions : public TZipQuestions {
public:
    std::deque<std::string> Passwords;  // "" entries mean Cancel
    std::deque<TOverwriteAnswer> Overwrites;
    std::deque<TZipFailureAction> Failures;
    std::vector<std::string> Asked;
    std::function<void()> DuringFailure;

    bool InputPassword(const std::string &title, const std::string &prompt, std::string &pw) override {
        Asked.push_back(title + "|" + prompt);
        if (Passwords.empty()) return false;
        pw = Passwords.front();
        Passwords.pop_front();
        return !pw.empty();
    }
    TOverwriteAnswer AskOverwrite(const std::string &text) override {
        Asked.push_back(text);
        if (Overwrites.empty()) return oaNo;
        auto a = Overwrites.front();
        Overwrites.pop_front();
        return a;
    }
    TZipFailureAction AskFailure(const std::string &text) override {
        Asked.push_back(text);
        if (DuringFailure) DuringFailure();
        if (Failures.empty()) return fxaIgnore;
        auto a = Failures.front();
        Failures.pop_front();
        return a;
    }
    bool AskOkCancel(const std::string &text) override {
        Asked.push_back(text);
        return false;
    }
};

class ZipTest : public ::testing::Test {
protected:
    TempDir Tmp;
    std::string Src() const { return Tmp.Path() + "src/"; }
    std::string Out() const { return Tmp.Path() + "out/"; }
    std::string Zip(const std::string &name) const { return Tmp.Path() + name; }

    void Put(const std::string &rel, const std::string &bytes) { WriteTestFile(Src() + rel, bytes); }
    // Runs a command inside the source folder; fails the test on a non-zero exit.
    void InSrc(const std::string &command) {
        ASSERT_EQ(RunTool("cd " + ShellQuote(Src()) + " && " + command), 0) << command;
    }
    // Opens the archive into a fresh component extracting to Out().
    void Open(TZipArchiver &zip, const std::string &archive) {
        zip.FileName = archive;
        zip.OpenZip();
        zip.BaseDir = Out();
        ForceDirectories(Out());
    }
    void ExpectSameFile(const std::string &rel) {
        ASSERT_TRUE(FileExists(Out() + rel)) << rel;
        EXPECT_TRUE(ReadFileToString(Out() + rel) == ReadFileToString(Src() + rel)) << rel;
    }
    // A password that the entry's 12-byte header rejects. Any wrong password
    // passes that one-byte check once in 256 tries, which would make a test
    // flaky; this picks one that does not.
    std::string WrongPassword(TZipArchiver &zip, std::initializer_list<int> indices) {
        std::string bytes = ReadFileToString(zip.FileName);
        auto rejects = [&](const std::string &candidate, int index) {
            const TZipDirItem &it = zip.Files(index);
            size_t at = size_t(it.LocalHeaderOffset);
            size_t data = at + 30 + uint8_t(bytes[at + 26]) + 256u * uint8_t(bytes[at + 27]) +
                          uint8_t(bytes[at + 28]) + 256u * uint8_t(bytes[at + 29]);
            uint8_t check = it.HasDataDescriptor() ? uint8_t(it.ModTime >> 8) : uint8_t(it.Crc32 >> 24);
            TZipCryptKeys keys(candidate);
            uint8_t header[12];
            std::memcpy(header, bytes.data() + data, 12);
            keys.Decode(header, 12);
            return header[11] != check;
        };
        for (int i = 0;; ++i) {
            std::string candidate = "wrong" + std::to_string(i);
            bool all = true;
            for (int index : indices) all = all && rejects(candidate, index);
            if (all) return candidate;
        }
    }
    // Files whose names start with "." in a folder: temporaries left behind.
    int LeftoverTemporaries(const std::string &folder) {
        int n = 0;
        for (const std::string &name : ListDirectory(folder, true, false))
            if (!name.empty() && name[0] == '.') ++n;
        return n;
    }
};
