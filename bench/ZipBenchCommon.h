// What the zip benchmarks share: running a shell command, timing a call,
// and writing source files of text that deflate roughly halves.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>

#include "SysUtils.h"

namespace {

inline int Shell(const std::string &command) {
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline double Seconds(const std::function<void()> &f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Hex text: four bits of entropy per byte, so deflate roughly halves it.
inline void WriteSource(const std::string &path, size_t bytes, uint64_t seed) {
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
