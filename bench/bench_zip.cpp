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

namespace {

int Shell(const std::string &command) {
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

double Seconds(const std::function<void()> &f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Hex text: four bits of entropy per byte, so deflate roughly halves it.
void WriteSource(const std::string &path, size_t bytes, uint64_t seed) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) throw Exception("cannot write " + path);
    std::string block(1 << 20, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t done = 0; done < bytes; done += block.size()) {
        for (size_t i = 0; i < block.size(); ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            block[i] = (i % 64 == 63) ? '\n' : "0123456789abcdef"[x & 15];
        }
        std::fwrite(block.data(), 1, std::min(block.size(), bytes - done), f);
    }
    std::fclose(f);
}

}  // namespace

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
