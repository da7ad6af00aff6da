// Archive writing speed of the zip component beside Info-ZIP's zip on the
// same files in the same run: a deflate archive (level 6, zip's default) and
// a stored archive of about 200 MB each (bench_zip [MB] [work folder]).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>

#include "SysUtils.h"
#include "ZipArchiver.h"
#include "ZipBenchCommon.h"

int main(int argc, char **argv) {
    size_t mb = argc > 1 ? size_t(std::atoi(argv[1])) : 200;
    std::string work = argc > 2 ? argv[2] : "/tmp/bench_zip";
    work = IncludeTrailingPathDelimiter(work);
    Shell("rm -rf '" + work + "'");
    const int files = 8;
    std::printf("preparing %zu MB of sources in %s ...\n", mb, work.c_str());
    std::fflush(stdout);
    // Deflate sources: about twice the target size so the archive is near it.
    struct Run {
        const char *name;
        int mode;
        size_t sourceBytes;
    } runs[] = {{"deflate", 6, mb * 2 * 1024 * 1024}, {"stored", 0, mb * 1024 * 1024}};
    int failures = 0;
    for (const Run &run : runs) {
        std::string src = work + run.name + "-src/";
        ForceDirectories(src + "sub");
        for (int i = 0; i < files; ++i)
            WriteSource(src + (i % 2 ? "sub/" : "") + "part" + std::to_string(i) + ".txt", run.sourceBytes / files,
                        uint64_t(i + 1 + run.mode));
        std::string ours = work + run.name + "-ours.zip", theirs = work + run.name + "-zip.zip";
        // Each tool once before the measured run, so both find the sources in
        // the page cache.
        Shell("cat '" + src + "'*.txt '" + src + "'sub/*.txt > /dev/null");
        bool ok = true;
        double tOurs = Seconds([&] {
            TZipArchiver zip;
            zip.FileName = ours;
            zip.SetCompressionMode(run.mode);
            zip.OpenZip();
            zip.BaseDir = src;
            zip.AddFiles("*.*");
            ok = zip.LastResult().Ok();
            zip.CloseZip();
        });
        double tZip = Seconds([&] {
            Shell("cd '" + src + "' && zip -q -r -" + std::to_string(run.mode) + " '" + theirs + "' .");
        });
        bool tested = Shell("unzip -tq '" + ours + "' > /dev/null") == 0;
        std::printf("%-8s %7.1f MB of files: TZipArchiver %6.2f s (%7.1f MB)   zip -q -r -%d %6.2f s (%7.1f MB)   "
                    "ratio %.2f  %s\n",
                    run.name, double(run.sourceBytes) / 1048576.0, tOurs, double(FileSize(ours)) / 1048576.0, run.mode,
                    tZip, double(FileSize(theirs)) / 1048576.0, tOurs / tZip,
                    ok && tested ? "unzip -t passes" : "ARCHIVE FAILS unzip -t");
        std::fflush(stdout);
        failures += !(ok && tested);
        Shell("rm -rf '" + src + "' '" + ours + "' '" + theirs + "'");
    }
    Shell("rm -rf '" + work + "'");
    return failures ? 1 : 0;
}
