#include <gtest/gtest.h>

#include "ZipArchiver.h"
#include "ZipExcept.h"
#include "ZipHashedStringList.h"
#include "ZipStrFunc.h"

TEST(MatchWildcard, StarsQuestionMarksAndCase) {
    struct Case {
        const char *name, *mask;
        bool ignoreCase, match;
    } cases[] = {
        {"", "*", true, true},           {"readme", "*.*", true, true},     {"abc", "a*c", true, true},
        {"ac", "a*c", true, true},       {"ab", "a*c", true, false},        {"", "?", true, false},
        {"x", "?", true, true},          {"xy", "?", true, false},          {"skins/Blue/blue.skn", "*.skn", true, true},
        {"a.b.c", "*.c", true, true},    {"a.b.c", "*.b", true, false},     {"a", "a*", true, true},
        {"abc", "", true, false},        {"TARNWICK.EXE", "tarn*.exe", true, true},
        {"TARNWICK.EXE", "tarn*.exe", false, false},                        {"tarnwick.exe", "tarn*.exe", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.mask);
        EXPECT_EQ(MatchWildcard(c.name, c.mask, c.ignoreCase), c.match);
    }
    // Many stars on a long name stay quick.
    std::string name(4000, 'a');
    EXPECT_FALSE(MatchWildcard(name, "*a*a*a*a*a*a*a*a*a*b", true));
    EXPECT_TRUE(MatchWildcard(name + "b", "*a*a*a*a*a*a*a*a*a*b", true));
}

TEST(ZipCompare, LengthLimitedWithAndWithoutCase) {
    EXPECT_EQ(ZipStrLComp("abcdef", "abcxyz", 3), 0);
    EXPECT_LT(ZipStrLComp("abc", "abd", 3), 0);
    EXPECT_GT(ZipStrLComp("abd", "abc", 10), 0);
    EXPECT_LT(ZipStrLComp("ab", "abc", 10), 0);
    EXPECT_NE(ZipStrLComp("ABC", "abc", 3), 0);
    EXPECT_EQ(ZipStrLIComp("ABCx", "abcy", 3), 0);
    EXPECT_NE(ZipStrLIComp("ABCx", "abcy", 4), 0);
}

TEST(ZipStringHash, ChainsFindsAndRemoves) {
    TZipStringHash h(7);
    for (int i = 0; i < 100; ++i) h.Add("key" + std::to_string(i), i);
    EXPECT_EQ(h.ValueOf("key42"), 42);
    EXPECT_EQ(h.ValueOf("KEY42"), -1);
    h.Remove("key42");
    EXPECT_EQ(h.ValueOf("key42"), -1);
    EXPECT_EQ(h.ValueOf("key43"), 43);
    h.Add("dup", 1);
    h.Add("dup", 2);
    EXPECT_EQ(h.ValueOf("dup"), 2);  // newest heads its chain
}

TEST(ZipHashedStringList, ChangesAndGrowthKeepBothIndicesTrue) {
    TZipHashedStringList big;  // the name index is dropped and rebuilt larger as it grows
    for (int i = 0; i < 6000; ++i) big.Add("item" + std::to_string(i));
    EXPECT_EQ(big.IndexOf("ITEM3"), 3);
    EXPECT_EQ(big.IndexOf("item5000"), 5000);
    EXPECT_EQ(big.IndexOf("item5999"), 5999);
    EXPECT_EQ(big.IndexOf("missing"), -1);

    TZipHashedStringList list;
    list.Add("Name=one");
    list.Add("Other=two");
    list.Add("plain");
    EXPECT_EQ(list.IndexOfName("name"), 0);
    EXPECT_EQ(list.IndexOfName("plain"), -1);
    EXPECT_EQ(list.IndexOf("PLAIN"), 2);
    list.Delete(0);
    EXPECT_EQ(list.IndexOfName("other"), 0);
    EXPECT_EQ(list.IndexOf("plain"), 1);
    list.Put(1, "Third=3");
    EXPECT_EQ(list.IndexOf("plain"), -1);
    EXPECT_EQ(list.IndexOf("third=3"), 1);
    EXPECT_EQ(list.IndexOfName("THIRD"), 1);
    list.Add("added=x");
    EXPECT_EQ(list.IndexOfName("added"), 2);
    list.Clear();
    EXPECT_EQ(list.IndexOf("third=3"), -1);
    EXPECT_EQ(list.IndexOfName("added"), -1);

    TZipHashedStringList exact(true);
    exact.Add("Abc");
    EXPECT_EQ(exact.IndexOf("abc"), -1);
    EXPECT_EQ(exact.IndexOf("Abc"), 0);
}

TEST(ZipDirArray, NamesAreUniqueWithoutRegardToCase) {
    TZipDirArray dir;
    TZipDirItem a, b;
    a.Name = "Folder/File.TXT";
    b.Name = "other.txt";
    dir.Add(a);
    dir.Add(b);
    EXPECT_EQ(dir.IndexOf("folder/file.txt"), 0);
    EXPECT_FALSE(dir.Rename(1, "FOLDER/file.txt"));
    EXPECT_TRUE(dir.Rename(1, "renamed.txt"));
    EXPECT_EQ(dir.IndexOf("RENAMED.TXT"), 1);
    EXPECT_EQ(dir.IndexOf("other.txt"), -1);
}

TEST(EZipException, TextsCarryNameAndNativeCode) {
    TZipArchiver zip;
    zip.Name = "ZipArchiver1";
    EZipException e(12, {"a.zip"}, &zip);
    EXPECT_EQ(e.Message(), "ZipArchiver1: File \"a.zip\" not found - Native error: 00012");
    EXPECT_EQ(e.ErrorCode, 6);
    EZipException unknown(77);
    EXPECT_EQ(unknown.Message(), "Unknown error - Native error: 00077");
    EXPECT_EQ(EZipException(8).Message(),
              "Invalid size or check sum of file or unsupported compression format - Native error: 00008");
    EXPECT_EQ(EZipException(40).Message(), "Cannot find Zip64 directory end record - Native error: 00040");
    EXPECT_EQ(EZipException(34, {"10", "7"}).Message(),
              "Invalid compressed size, rfs.size = 10, count = 7 - Native error: 00034");
    EXPECT_STREQ(ZipErrorMessage(20), "Archive is open. You should close it beore performing this operation.");
}

TEST(ZipNames, OemNamesBecomeUtf8AndUtf8NamesStay) {
    EXPECT_TRUE(IsValidUtf8("plain.txt"));
    EXPECT_TRUE(IsValidUtf8("gr\xC3\xBC\xC3\x9F" "e"));
    EXPECT_FALSE(IsValidUtf8("caf\x82"));
    EXPECT_FALSE(IsValidUtf8("\xC3"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));  // overlong
    EXPECT_EQ(ZipOemToAnsi("caf\x82.txt"), "caf\xC3\xA9.txt");
    EXPECT_EQ(ZipOemToAnsi("\x81\xE1"), "\xC3\xBC\xC3\x9F");
    EXPECT_EQ(ZipOemToAnsi("gr\xC3\xBC\xC3\x9F" "e"), "gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(ZipAnsiToOem("caf\xC3\xA9.txt"), "caf\x82.txt");
    EXPECT_EQ(ZipAnsiToOem("\xE2\x82\xAC"), "_");  // the euro sign is not in the code page
}
