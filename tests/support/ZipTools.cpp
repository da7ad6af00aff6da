#include "ZipTools.h"

#include <cstdint>
#include <sys/stat.h>

#include "ChildProcess.h"
#include "TestSupport.h"

int RunTool(const std::string &command) { return RunShell(command); }

int RunPython(const std::string &script) {
    std::string ignored;
    return RunProgram({PythonProgram(), "-c", script}, &ignored, nullptr, {}, "", 600);
}

std::string ShellQuote(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string TextBytes(size_t n, unsigned seed) {
    static const char *words[] = {"mail ", "monitor ", "tarnwick ", "fenlow ", "update ", "skin\n", "zip ",
                                  "archive ", "entry ", "the "};
    std::string out;
    out.reserve(n);
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < n) {
        x = x * 1103515245u + 12345u;
        out += words[(x >> 16) % 10];
    }
    out.resize(n);
    return out;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::string out(n, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 7;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = char(x >> 24);
    }
    return out;
}

bool HaveTool(const std::string &name) { return RunTool("command -v " + name) == 0; }

unsigned FileMode(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}
