// Common pieces of the archive tests: a source tree, archives made from it by
// real tools, and a question seam that answers from a script.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
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
        pw = Next(Passwords, std::string());
        return !pw.empty();
    }
    TOverwriteAnswer AskOverwrite(const std::string &text) override {
        Asked.push_back(text);
        return Next(Overwrites, oaNo);
    }
    TZipFailureAction AskFailure(const std::string &text) override {
        Asked.push_back(text);
        if (DuringFailure) DuringFailure();
        return Next(Failures, fxaIgnore);
    }
    bool AskOkCancel(const std::string &text) override {
        Asked.push_back(text);
        return false;
    }

private:
    template <class T>
    static T Next(std::deque<T> &queue, T whenEmpty) {
        if (queue.empty()) return whenEmpty;
        T a = queue.front();
        queue.pop_front();
        return a;
    }
};

// Python helper class: a stream zipfile cannot seek in, so it writes data
// descriptors after each entry and zero sizes in the local headers.
inline const char *PyUnseekable = R"(
import io
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
    def tell(self): raise OSError('unseekable')
    def seek(self, *a): raise OSError('unseekable')
)";

inline void PatchFile(const std::string &path, int64_t offset, const std::string &bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

// The native error code an operation fails with, or -1 when it succeeds.
template <class F>
int NativeErrorOf(F f) {
    try {
        f();
    } catch (const EZipException &e) {
        return e.NativeError;
    }
    return -1;
}

class ZipTest : public ::testing::Test {
protected:
    std::vector<int> Natives;
    // Records the native code of every entry that fails, in order.
    void RecordNatives(TZipArchiver &zip) {
        zip.OnProcessFileFailure = [this](TZipBaseArchiver *, const std::string &, TZipProcessOperation, int native,
                                          int, const std::string &, TZipFailureAction &) { Natives.push_back(native); };
    }
    void ClearOut() { RunTool("chmod -R u+w " + ShellQuote(Out()) + " 2>/dev/null; rm -rf " + ShellQuote(Out())); }
    // Spoils the CRC of a stored entry made of TextBytes by changing "mail"
    // in its data.
    void SpoilStoredText(const std::string &archive) {
        size_t at = ReadFileToString(archive).find("mail");
        ASSERT_NE(at, std::string::npos);
        PatchFile(archive, int64_t(at), "MAIL");
    }
    TempDir Tmp;
    std::string Src() const { return Tmp.Path() + "src/"; }
    std::string Out() const { return Tmp.Path() + "out/"; }
    std::string Zip(const std::string &name) const { return Tmp.Path() + name; }

    void Put(const std::string &rel, const std::string &bytes) { WriteTestFile(Src() + rel, bytes); }
    void Py(const std::string &script) { ASSERT_EQ(RunPython(script), 0) << script.substr(0, 2000); }
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
    // An entry's bytes through ExtractToStream, marked when the call fails.
    static std::string ToMemory(TZipArchiver &zip, int index) {
        TMemoryStream mem;
        return zip.ExtractToStream(index, mem) ? mem.DataString() : "(failed) " + mem.DataString();
    }
    void ExpectSameFile(const std::string &rel) {
        ASSERT_TRUE(FileExists(Out() + rel)) << rel;
        EXPECT_TRUE(ReadFileToString(Out() + rel) == ReadFileToString(Src() + rel)) << rel;
    }
    // Where an entry's data starts in the archive's bytes, after its local header.
    static size_t DataOffset(const std::string &bytes, const TZipDirItem &it) {
        size_t at = size_t(it.LocalHeaderOffset);
        return at + 30 + uint8_t(bytes[at + 26]) + 256u * uint8_t(bytes[at + 27]) + uint8_t(bytes[at + 28]) +
               256u * uint8_t(bytes[at + 29]);
    }
    // A password that the entry's 12-byte header rejects. Any wrong password
    // passes that one-byte check once in 256 tries, which would make a test
    // flaky; this picks one that does not.
    std::string WrongPassword(TZipArchiver &zip, std::initializer_list<int> indices) {
        std::string bytes = ReadFileToString(zip.FileName);
        auto rejects = [&](const std::string &candidate, int index) {
            const TZipDirItem &it = zip.Files(index);
            uint8_t check = it.HasDataDescriptor() ? uint8_t(it.ModTime >> 8) : uint8_t(it.Crc32 >> 24);
            std::string header = bytes.substr(DataOffset(bytes, it), 12);
            TZipCryptKeys(candidate).Decode(reinterpret_cast<uint8_t *>(header.data()), 12);
            return uint8_t(header[11]) != check;
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
