// What the marker search does that its users' own tests never reach: files
// that are not regular ones, the end of the search in a very large file, and
// a marker that is empty.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileMarker.h"
#include "TestSupport.h"

namespace {

// Takes the two bytes after the marker; "no" is not a text.
bool TakeTwo(std::string_view text, std::string &out) {
    if (text.size() < 2 || text.substr(0, 2) == "no") return false;
    out = std::string(text.substr(0, 2));
    return true;
}

std::string Find(const std::string &path, std::string_view marker = "MARK:") {
    return FindMarkedText(path, marker, 2, TakeTwo);
}

// A sparse file of the size with the bytes at the offset.
void WriteSparse(const std::string &path, int64_t size, int64_t offset, const std::string &bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(::ftruncate(fd, size), 0);
    EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), ssize_t(bytes.size()));
    ::close(fd);
}

}  // namespace

TEST(FileMarker, OnlyTheFirst512MiBOfARegularFileAreSearched) {
    TempDir dir;
    WriteTestFile(dir.File("f.bin"), "MARK:no MARK:ab MARK:cd");
    EXPECT_EQ(Find(dir.File("f.bin")), "ab");
    EXPECT_EQ(Find(dir.File("f.bin"), ""), "");
    EXPECT_EQ(FindMarkedText(dir.File("f.bin"), "", 0, [](std::string_view, std::string &) { return false; }), "");

    // A FIFO with nobody writing to it would hold an ordinary open for good.
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(Find(dir.File("fifo")), "");
    EXPECT_EQ(Find(dir.Path()), "");
    EXPECT_EQ(Find(dir.File("none.bin")), "");

    constexpr int64_t kMiB = 1 << 20, kLimit = 512 * kMiB;
    WriteSparse(dir.File("big.bin"), kLimit + kMiB, kLimit - 7, "MARK:ef");
    EXPECT_EQ(Find(dir.File("big.bin")), "ef");
    WriteSparse(dir.File("big.bin"), kLimit + kMiB, kLimit - 6, "MARK:ef");
    EXPECT_EQ(Find(dir.File("big.bin")), "");
}
