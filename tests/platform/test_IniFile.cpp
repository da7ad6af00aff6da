#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Classes.h"
#include "IniFile.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "ZipTools.h"

namespace {

std::string Golden(const std::string &name) { return ReadFileToString(TestDataDir() + "ini/" + name); }

// Runs write in a child process whose files may not grow past 4 KiB, with
// SIGXFSZ handled by sigxfsz; answers the child's wait status.
template <class F>
int WaitStatusOfLimitedWrite(void (*sigxfsz)(int), F &&write) {
    pid_t pid = ::fork();
    if (pid == 0) {
        struct rlimit rl{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::signal(SIGXFSZ, sigxfsz);
        write();
        ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return status;
}

}  // namespace

TEST(IniFileRead, PrivateProfileQuirksOnCrlfFileWithBom) {
    TIniFile ini(TestDataDir() + "ini/read_crlf.ini");
    // Names without regard to case, trimmed names and values.
    struct Case {
        const char *section, *key, *want;
    } cases[] = {
        {"OPTIONS", "language", "english.lng"}, {"Options", "Skin", "Default"}, {"accounts", "NUM", "1"},
        // "Key=" is present and empty, not the default.
        {"Options", "Empty", ""},
        // One pair of enclosing quotes goes; inner and unmatched quotes stay.
        {"Options", "Quoted", "  spaced out  "}, {"Options", "Single", "x"}, {"Options", "Inner", "a \"b\" c"},
        {"Options", "OneQuote", "\"abc"}, {"Options", "Eq", "a=b=c"},
        // The first duplicate counts, of keys and of sections.
        {"Options", "DUP", "first"}, {"Options", "Late", "?"},
        // Comments, lines without "=" and keys before any section are no keys.
        {"Options", ";Commented", "?"}, {"Options", "Commented", "?"}, {"", "orphan", "?"}, {"Missing", "Key", "?"},
    };
    for (const Case &c : cases) EXPECT_EQ(ini.ReadString(c.section, c.key, "?"), c.want) << c.section << "/" << c.key;

    TStringList l;
    ini.ReadSections(l);
    EXPECT_EQ(l, (TStringList{"Options", "Accounts"}));
    ini.ReadSection("options", l);
    EXPECT_EQ(l, (TStringList{"Language", "Skin", "Empty", "Quoted", "Single", "Inner", "OneQuote",
                              "Eq", "Dup"}));
    ini.ReadSectionValues("Accounts", l);
    EXPECT_EQ(l, (TStringList{"Num=1"}));
    EXPECT_EQ(ini.ReadInteger("Accounts", "Num", -1), 1);
    EXPECT_EQ(ini.ReadInteger("Options", "Skin", -7), -7);
}

TEST(IniFileRead, LfFileWithoutFinalLineEndAndMissingFile) {
    TIniFile ini(TestDataDir() + "ini/read_lf.ini");
    EXPECT_EQ(ini.ReadString("Messages", "2", ""), "Done");
    EXPECT_EQ(ini.ReadString("Other", "k", ""), "v");
    TIniFile none(TestDataDir() + "ini/no_such_file.ini");
    TStringList l{"stale"};
    none.ReadSections(l);
    EXPECT_TRUE(l.Empty());
}

TEST(IniFileWrite, KeepsUntouchedLinesAndMatchesGolden) {
    TempDir dir;
    std::string path = dir.File("w.ini");
    WriteTestFile(path, Golden("write_src.ini"));
    TIniFile ini(path);
    ini.WriteString("a", "TWO", "22");
    ini.WriteString("A", "Three", "3");
    ini.DeleteKey("B", "x");
    ini.EraseSection("c");
    ini.WriteString("D", "New", "  padded ");
    ini.WriteString("D", "Line", "one\ntwo");
    EXPECT_EQ(ReadFileToString(path), Golden("write_expected.ini"));
    // What was written reads back as it was given.
    EXPECT_EQ(ini.ReadString("D", "New", ""), "  padded ");
    EXPECT_EQ(ini.ReadString("a", "two", ""), "22");
}

TEST(IniFileWrite, LfFileStaysLfAndNewFileIsPrivate) {
    TempDir dir;
    std::string lf = dir.File("lf.ini");
    WriteTestFile(lf, "[S]\nA=1\n");
    IniFileCacheClear();
    TIniFile(lf).WriteString("S", "B", "2");
    EXPECT_EQ(ReadFileToString(lf), "[S]\nA=1\nB=2\n");

    std::string fresh = dir.File("new.ini");
    TIniFile(fresh).WriteString("Sec", "Key", "'quoted'");
    EXPECT_EQ(ReadFileToString(fresh), "[Sec]\r\nKey=\"'quoted'\"\r\n");
    EXPECT_EQ(TIniFile(fresh).ReadString("sec", "key", ""), "'quoted'");
    EXPECT_EQ(FileMode(fresh) & 0777, 0600u);

    // An older copy that others could read does not keep the new text readable.
    std::string wide = dir.File("wide.ini");
    WriteTestFile(wide, "[0]\nName=x\n");
    ::chmod(wide.c_str(), 0644);
    TIniFile(wide).WriteString("0", "PW", "0_1_2_");
    EXPECT_EQ(FileMode(wide) & 0777, 0600u);
    // A file not asked for as private keeps its own mode.
    std::string script = dir.File("run.sh");
    WriteTestFile(script, "old");
    ::chmod(script.c_str(), 0755);
    WriteFileAtomic(script, "new", 0644);
    EXPECT_EQ(FileMode(script) & 0777, 0755u);
}

TEST(IniFileWrite, RejectsNamesThatWouldBreakTheFileAndHasNoValueLimit) {
    TempDir dir;
    std::string path = dir.File("x.ini");
    TIniFile ini(path);
    EXPECT_THROW(ini.WriteString("S", "a=b", "v"), EIniFileError);
    EXPECT_THROW(ini.WriteString("S", "", "v"), EIniFileError);
    EXPECT_THROW(ini.WriteString("S]x", "k", "v"), EIniFileError);
    EXPECT_THROW(ini.WriteString("S\n[T", "k", "v"), EIniFileError);
    // A value can not smuggle another section into the file.
    ini.WriteString("S", "k", "v\r\n[Evil]\r\nk2=1");
    EXPECT_FALSE(ini.SectionExists("Evil"));
    std::string big(300000, 'x');
    big[1000] = '\xE4';
    ini.WriteString("S", "Big", big);
    EXPECT_EQ(TIniFile(path).ReadString("S", "Big", ""), big);
}

TEST(IniFileWrite, SeesChangesMadeBehindItsBack) {
    TempDir dir;
    std::string path = dir.File("c.ini");
    WriteTestFile(path, "[S]\nk=1\n");
    EXPECT_EQ(TIniFile(path).ReadString("S", "k", ""), "1");
    WriteTestFile(path, "[S]\nk=2\n");  // same size, same instant
    EXPECT_EQ(TIniFile(path).ReadString("S", "k", ""), "2");
    // A held plain object reads the file anew at every call.
    TIniFile held(path);
    EXPECT_EQ(held.ReadString("S", "k", ""), "2");
    TIniFile(path).WriteString("S", "k", "3");
    EXPECT_EQ(held.ReadString("S", "k", ""), "3");
    held.WriteString("S", "j", "4");
    EXPECT_EQ(ReadFileToString(path), "[S]\nk=3\nj=4\n");
}

TEST(IniFileWrite, MemIniFileWritesOnlyOnUpdate) {
    TempDir dir;
    std::string path = dir.File("m.ini");
    {
        TMemIniFile mem(path);
        for (int i = 0; i < 200; ++i) mem.WriteString("S", IntToStr(i), IntToStr(i * i));
        EXPECT_FALSE(FileExists(path));
        mem.UpdateFile();
    }
    TStringList keys;
    TIniFile(path).ReadSection("S", keys);
    EXPECT_EQ(keys.Count(), 200);
    EXPECT_EQ(TIniFile(path).ReadString("S", "199", ""), "39601");
}

// Every read of the batch object, after a run of writes, matches what a
// fresh parse of the written file gives.
TEST(IniFileWrite, MemIniFileSeesItsWritesAsTheFileReadsBack) {
    TempDir dir;
    std::string path = dir.File("mix.ini");
    WriteTestFile(path, "; head\n[A]\nx=1\n;c\n\n\n[B]\ny=2\n[a]\nx=dup\nz=late\n[C]\nq\n\n");
    IniFileCacheClear();
    TMemIniFile mem(path);
    mem.WriteString("A", "new", "n1");       // into the first [A], before its blank lines
    mem.WriteString(" a ", "X", " padded "); // an existing key, by another case
    mem.WriteString("B", "w", "'q'");
    mem.WriteString("D", "d1", "v");         // a new section at the end
    mem.WriteString("d", "d2", "v2");
    mem.WriteString("A", "z", "first");      // the duplicate [a] keeps its own z
    mem.WriteString("C", "r", "");
    mem.DeleteKey("B", "y");
    mem.WriteString("B", "y2", "after delete");
    auto snapshot = [](TIniFile &ini) {
        TStringList all, sections, values;
        ini.ReadSections(sections);
        for (const auto &sec : sections) {
            ini.ReadSectionValues(sec, values);
            all.Add("[" + sec + "]");
            for (const auto &v : values) all.Add(v + "|" + ini.ReadString(sec, v.substr(0, v.find('=')), "?"));
        }
        return all;
    };
    TStringList before = snapshot(mem);
    mem.UpdateFile();
    IniFileCacheClear();
    TIniFile fresh(path);
    EXPECT_EQ(snapshot(fresh), before);
    EXPECT_EQ(fresh.ReadString("a", "new", ""), "n1");
    EXPECT_EQ(fresh.ReadString("A", "x", ""), " padded ");
    EXPECT_EQ(ReadFileToString(path),
              "; head\n[A]\nx=\" padded \"\n;c\nnew=n1\nz=first\n\n\n[B]\nw=\"'q'\"\ny2=after delete\n"
              "[a]\nx=dup\nz=late\n[C]\nq\nr=\n\n[D]\nd1=v\nd2=v2\n");

    // Many writes into a file of many lines take time of the writes, not of
    // writes times lines.
    std::string big = dir.File("big.ini");
    std::string text = "[S]\n";
    for (int i = 0; i < 200000; ++i) text += "k" + IntToStr(i) + "=v\n";
    WriteTestFile(big, text + "[T]\nt=1\n");
    TMemIniFile many(big);
    for (int i = 0; i < 5000; ++i) many.WriteString(i % 2 ? "S" : "T", "n" + IntToStr(i), "x");
    EXPECT_EQ(many.ReadString("T", "t", ""), "1");
    EXPECT_EQ(many.ReadString("S", "n4999", ""), "x");
    EXPECT_EQ(many.ReadString("S", "k199999", ""), "v");
}

// A file may repeat a key or a section many times over: removing them all
// takes one pass over the file, not one per repeat.
TEST(IniFileBounds, RepeatedKeysAndSectionsGoInOnePass) {
    TempDir dir;
    std::string path = dir.File("rep.ini");
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "[S]\nk=" + IntToStr(i) + "\n[T]\nt=" + IntToStr(i) + "\n";
    text += "[U]\n";
    for (int i = 0; i < 300000; ++i) text += "k=x\n";
    WriteTestFile(path, text + "keep=1\n");
    IniFileCacheClear();
    TMemIniFile ini(path);
    ini.EraseSection("s");
    ini.DeleteKey("U", "K");
    EXPECT_FALSE(ini.SectionExists("S"));
    EXPECT_EQ(ini.ReadString("T", "t", ""), "0");
    ini.UpdateFile();
    std::string expect;
    for (int i = 0; i < 100000; ++i) expect += "[T]\nt=" + IntToStr(i) + "\n";
    EXPECT_EQ(ReadFileToString(path), expect + "[U]\nkeep=1\n");
}

TEST(IniFileBounds, OversizedFileAndFifoNeitherHangNorLoad) {
    TempDir dir;
    std::string big = dir.File("big.ini");
    TFileStream(big, fmCreate).SetSize(MaxIniFileSize + 1);
    EXPECT_THROW(TIniFile(big).ReadString("S", "k", ""), EIniFileError);
    EXPECT_THROW(TIniFile(big).WriteString("S", "k", "x"), EIniFileError);
    EXPECT_EQ(FileSize(big), MaxIniFileSize + 1);

    // A small file of very many short lines would take a parse of many times
    // its size: refused the same way, and the file left as it was.
    std::string lines = dir.File("lines.ini");
    WriteTestFile(lines, "[S]\nk=v\n" + std::string(MaxIniLines, '\n'));
    EXPECT_TRUE(Contains(Thrown<EIniFileError>([&] { TIniFile(lines).ReadString("S", "k", ""); }),
                         "lines and is not read"));
    EXPECT_THROW(TIniFile(lines).WriteString("S", "k", "x"), EIniFileError);
    EXPECT_EQ(FileSize(lines), int64_t(MaxIniLines + 8));
    // A file just at the bound is read; a write that would pass it is refused.
    std::string full = dir.File("full.ini");
    WriteTestFile(full, "[S]\nk=v\n" + std::string(MaxIniLines - 2, '\n'));
    TMemIniFile fill(full);
    EXPECT_EQ(fill.ReadString("S", "k", ""), "v");
    fill.WriteString("S", "more", "x");
    EXPECT_THROW(fill.UpdateFile(), EIniFileError);
    IniFileCacheClear();
    EXPECT_FALSE(TIniFile(full).ValueExists("S", "more"));

    std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(TIniFile(fifo).ReadString("S", "k", "def"), "def");
}

TEST(IniFileWrite, InterruptedWriteLeavesTheOldFile) {
    TempDir dir;
    std::string path = dir.File("settings.ini");
    const std::string old = "[Accounts]\r\nNum=0\r\n[0]\r\nName=keep me\r\n";
    WriteTestFile(path, old);
    // The kernel kills the writer part-way through the file.
    int status = WaitStatusOfLimitedWrite(SIG_DFL, [&] { TIniFile(path).WriteString("0", "Name", std::string(100000, 'n')); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(ReadFileToString(path), old);
    EXPECT_EQ(TIniFile(path).ReadString("0", "Name", ""), "keep me");
}

TEST(IniFileWrite, FailedWriteRaisesAndLeavesNoTemporary) {
    TempDir dir;
    std::string path = dir.File("s.ini");
    WriteTestFile(path, "[S]\nk=1\n");
    // The write fails part-way (EFBIG) and must say so.
    int status = WaitStatusOfLimitedWrite(SIG_IGN, [&] {
        try {
            TIniFile(path).WriteString("S", "k", std::string(100000, 'n'));
        } catch (const EIniFileError &) {
            ::_exit(7);
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(TIniFile(path).ReadString("S", "k", ""), "1");
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"s.ini"});
}

TEST(IniFileRead, NameInAnotherLetterCaseIsTheSameFile) {
    TempDir dir;
    WriteTestFile(dir.File("Skins/Blue/Skin.SKN"), "[About]\nVersion=2\n");
    TIniFile ini(dir.File("skins/blue/skin.skn"));
    EXPECT_EQ(ini.ReadString("About", "Version", ""), "2");
    ini.WriteString("About", "Version", "3");
    EXPECT_EQ(ListDirectory(dir.File("Skins/Blue")), std::vector<std::string>{"Skin.SKN"});
    EXPECT_EQ(ReadFileToString(dir.File("Skins/Blue/Skin.SKN")), "[About]\nVersion=3\n");
}

namespace {
std::string Utf16Le(const std::u16string &s) {
    std::string out = "\xFF\xFE";
    for (char16_t c : s) out.append({char(c & 0xFF), char(c >> 8)});
    return out;
}
}  // namespace

TEST(IniFileRead, UnicodeFileIsReadAndStaysUnicode) {
    TempDir dir;
    std::string path = dir.File("finnish.lng");
    WriteTestFile(path, Utf16Le(u"[Options]\r\nOk=Selv\u00E4\r\n[Messages]\r\n1=\u20AC \U0001F600\r\n"));
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("options", "ok", ""), "Selv\xC3\xA4");
    EXPECT_EQ(ini.ReadString("Messages", "1", ""), "\xE2\x82\xAC \xF0\x9F\x98\x80");
    ini.WriteString("Options", "Cancel", "Peruuta \xC3\xA4");
    EXPECT_EQ(ReadFileToString(path),
              Utf16Le(u"[Options]\r\nOk=Selv\u00E4\r\nCancel=Peruuta \u00E4\r\n[Messages]\r\n1=\u20AC \U0001F600\r\n"));
    // A lone surrogate and an odd last byte read as replacement characters.
    WriteTestFile(path, Utf16Le(u"[S]\r\nk=a") + std::string("\x00\xD8", 2) + "b" + std::string("\x00", 1) + "\x01");
    EXPECT_EQ(TIniFile(path).ReadString("S", "k", ""), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

namespace {
// A file of about kib KiB: long values, so the parse weighs about as much as
// the text; the value of [S] "mark" tells the files apart.
std::string BulkIni(int kib, const std::string &mark) {
    std::string text = "[S]\nmark=" + mark + "\n";
    const std::string value(1000, 'v');
    for (int i = 0; text.size() < size_t(kib) * 1024; ++i) text += "k" + IntToStr(i) + "=" + value + "\n";
    return text;
}
}  // namespace

TEST(IniFileCache, BoundedByMemoryWhileReadsStayRight) {
    IniFileCacheClear();
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
        paths.push_back(dir.File("bulk" + IntToStr(i) + ".ini"));
        WriteTestFile(paths.back(), BulkIni(1024, IntToStr(i)));
        EXPECT_EQ(TIniFile(paths.back()).ReadString("S", "mark", ""), IntToStr(i));
        EXPECT_LE(IniFileCacheStats().Bytes, MaxIniCacheBytes);
    }
    // The least recently used went; read again, it comes back right.
    EXPECT_LT(IniFileCacheStats().Files, 6u);
    EXPECT_FALSE(IniFileIsCached(paths[0]));
    EXPECT_EQ(TIniFile(paths[0]).ReadString("S", "k5", ""), std::string(1000, 'v'));
    EXPECT_TRUE(IniFileIsCached(paths[0]));

    // A file whose parse alone is above the bound is read, not kept, and
    // pushes nothing else out.
    std::string big = dir.File("big.ini");
    WriteTestFile(big, BulkIni(9 * 1024, "big"));
    const TIniCacheStats before = IniFileCacheStats();
    EXPECT_EQ(TIniFile(big).ReadString("S", "mark", ""), "big");
    EXPECT_FALSE(IniFileIsCached(big));
    EXPECT_EQ(IniFileCacheStats().Bytes, before.Bytes);

    // A cached file that grows past the bound loses its entry and reads new.
    WriteTestFile(paths[0], BulkIni(9 * 1024, "grown"));
    EXPECT_EQ(TIniFile(paths[0]).ReadString("S", "mark", ""), "grown");
    EXPECT_FALSE(IniFileIsCached(paths[0]));
    // Writing through the program keeps the same bound.
    TIniFile(big).WriteString("S", "mark", "written");
    EXPECT_FALSE(IniFileIsCached(big));
    EXPECT_EQ(TIniFile(big).ReadString("S", "mark", ""), "written");
    EXPECT_LE(IniFileCacheStats().Bytes, MaxIniCacheBytes);

    // Many small files: bounded by count, the newest kept.
    for (int i = 0; i < 70; ++i) {
        std::string p = dir.File("small" + IntToStr(i) + ".ini");
        WriteTestFile(p, "[S]\nk=" + IntToStr(i) + "\n");
        EXPECT_EQ(TIniFile(p).ReadString("S", "k", ""), IntToStr(i));
    }
    EXPECT_LE(IniFileCacheStats().Files, 64u);
    EXPECT_TRUE(IniFileIsCached(dir.File("small69.ini")));
}
