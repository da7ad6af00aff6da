// Extracts an untrusted archive into a target folder that holds planted
// links to a folder beside it, then checks that nothing landed outside the
// target. Names that climb, links followed out of the target, or a write
// through a link under an entry's own name would all put a file there.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Classes.h"
#include "FuzzZipQuestions.h"
#include "updates/Kel_Files.h"
#include "SysUtils.h"
#include "ZipArchiver.h"

namespace {

struct Sandbox {
    std::string Root, Target, Outside;
    Sandbox() {
        char tmpl[] = "/tmp/fuzz-zipextract-XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        Root = tmpl;
        Outside = Root + "/outside";
        Target = Root + "/target/";
        ::mkdir(Outside.c_str(), 0700);
        ::mkdir(Target.c_str(), 0700);
    }
    // The planted links, made again before each input (an entry may have
    // replaced one, which is allowed).
    void Plant() {
        DeleteFolder(Target);
        ::mkdir(Target.c_str(), 0700);
        for (const char *name : {"Lang", "lang", "a", "x.txt"}) {
            std::string link = Target + name;
            if (::symlink("../outside", link.c_str()) != 0) std::abort();
        }
    }
    bool OutsideEmpty() const {
        DIR *d = ::opendir(Outside.c_str());
        if (!d) return false;
        bool empty = true;
        while (dirent *e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") empty = false;
        }
        ::closedir(d);
        return empty;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FuzzZipQuestions questions(TZipQuestions::oaYes);
    static Sandbox box;
    static const bool cleanup = [] {
        std::atexit([] { DeleteFolder(box.Root); });
        return true;
    }();
    (void)cleanup;

    TMemoryStream stream;
    stream.Write(data, int64_t(size));
    TZipArchiver zip;
    zip.Questions = &questions;
    try {
        zip.OpenZipStream(&stream);
    } catch (const EZipException &) {
        return 0;
    }
    // Large outputs only cost disk and time here; what is being looked for
    // is where small ones land.
    if (zip.FileCount() > 64) return 0;
    for (int i = 0; i < zip.FileCount(); ++i)
        if (zip.Files(i).UncompressedSize > (1u << 20)) return 0;

    box.Plant();
    zip.BaseDir = box.Target;
    zip.Options.CreateDirs = true;
    zip.Options.OverwriteMode = omAlways;
    try {
        zip.ExtractMatching();
    } catch (const EZipException &) {
    } catch (const Exception &) {
    }
    zip.CloseZip();
    if (!box.OutsideEmpty()) {
        std::fprintf(stderr, "an entry was written outside the target folder\n");
        std::abort();
    }
    return 0;
}
