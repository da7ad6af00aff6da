// Extraction speed of the archive component beside Info-ZIP's unzip on the
// same archives in the same run: a deflate archive and a stored archive of
// about 200 MB each (bench_unzip [MB] [work folder]).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "SysUtils.h"
#include "ZipArchiver.h"
#include "ZipBenchCommon.h"

int main(int argc, char **argv) {
    size_t mb = argc > 1 ? size_t(std::atoi(argv[1])) : 200;
    std::string work = argc > 2 ? argv[2] : "/tmp/bench_unzip";
    work = IncludeTrailingPathDelimiter(work);
    Shell("rm -rf '" + work + "'");
    ForceDirectories(work + "src");
    const int files = 8;
    // Deflate sources: about twice the target size so the archive is near it.
    std::printf("preparing %zu MB archives in %s ...\n", mb, work.c_str());
    std::fflush(stdout);
    for (int i = 0; i < files; ++i)
        WriteSource(work + "src/part" + std::to_string(i) + ".txt", mb * 2 * 1024 * 1024 / files, uint64_t(i + 1));
    if (Shell("cd '" + work + "src' && zip -q -6 ../deflate.zip part*.txt") != 0) return 1;
    Shell("rm -rf '" + work + "src'");
    ForceDirectories(work + "src");
    for (int i = 0; i < files; ++i)
        WriteSource(work + "src/part" + std::to_string(i) + ".txt", mb * 1024 * 1024 / files, uint64_t(i + 11));
    if (Shell("cd '" + work + "src' && zip -q -0 ../stored.zip part*.txt") != 0) return 1;
    Shell("rm -rf '" + work + "src'");

    for (const char *name : {"deflate", "stored"}) {
        std::string archive = work + name + ".zip";
        std::string ours = work + name + "-ours/", theirs = work + name + "-unzip/";
        ForceDirectories(ours);
        ForceDirectories(theirs);
        bool ok = true;
        double tOurs = Seconds([&] {
            TZipArchiver zip;
            zip.FileName = archive;
            zip.OpenZip();
            zip.BaseDir = ours;
            zip.ExtractMatching("*.*", 0x28BF, "");
            ok = zip.LastResult().Ok();
            zip.CloseZip();
        });
        double tUnzip = Seconds([&] { Shell("unzip -o -q '" + archive + "' -d '" + theirs + "'"); });
        bool same = Shell("diff -r -q '" + ours + "' '" + theirs + "' >/dev/null") == 0;
        std::printf("%-8s archive %7.1f MB: TZipArchiver %6.2f s   unzip -o -q %6.2f s   %s\n", name,
                    double(FileSize(archive)) / 1048576.0, tOurs, tUnzip,
                    ok && same ? "same output" : "OUTPUT DIFFERS");
        Shell("rm -rf '" + ours + "' '" + theirs + "'");
    }
    Shell("rm -rf '" + work + "'");
    return 0;
}
