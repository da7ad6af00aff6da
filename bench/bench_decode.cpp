// Decodes 100 MB of base64 and of quoted-printable the way a message body
// arrives (line by line) and prints MB/s beside coreutils "base64 -d" on the
// same data.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

#include "NetCoder.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// A stream that only counts, so the numbers measure the decoder.
class TCountStream : public TStream {
public:
    int64_t Read(void *, int64_t) override { return 0; }
    int64_t Write(const void *, int64_t count) override {
        FSize += count;
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return FSize; }
    int64_t FSize = 0;
};

template <class Decoder>
double DecodeLines(const std::string &coded, int64_t &outBytes) {
    TCountStream out;
    Decoder d;
    auto t = std::chrono::steady_clock::now();
    d.DecodeBegin(out);
    size_t start = 0;
    while (start < coded.size()) {
        size_t e = coded.find('\n', start);
        if (e == std::string::npos) e = coded.size();
        d.Decode(std::string_view(coded).substr(start, e + 1 - start));
        start = e + 1;
    }
    d.DecodeEnd();
    double s = Seconds(t);
    outBytes = out.FSize;
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    size_t mb = argc > 1 ? size_t(atoi(argv[1])) : 100;
    size_t size = mb << 20;
    std::mt19937_64 rng(42);
    std::string data(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint64_t v = rng();
        memcpy(&data[i], &v, 8);
    }

    // base64 in lines of 76 characters, as mail carries it.
    std::string b64;
    b64.reserve(size / 57 * 78 + 100);
    TNetEncoderMIME enc;
    for (size_t i = 0; i < size; i += 57) {
        b64 += enc.EncodeBuffer(reinterpret_cast<const uint8_t *>(data.data()) + i, std::min<size_t>(57, size - i));
        b64 += "\r\n";
    }
    int64_t got = 0;
    double s = DecodeLines<TNetDecoderMIMELineByLine>(b64, got);
    printf("base64 decode:           %8.1f MB/s of coded text (%zu MB coded, %lld bytes out)\n",
           double(b64.size()) / 1048576.0 / s, b64.size() >> 20, (long long)got);

    char tmpl[] = "/tmp/bench_decodeXXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) {
        // coreutils wants LF line ends.
        std::string lf;
        lf.reserve(b64.size());
        for (char c : b64)
            if (c != '\r') lf.push_back(c);
        if (write(fd, lf.data(), lf.size()) != ssize_t(lf.size())) perror("write");
        close(fd);
        auto t = std::chrono::steady_clock::now();
        std::string cmd = std::string("base64 -d ") + tmpl + " >/dev/null";
        int rc = system(cmd.c_str());
        double cs = Seconds(t);
        printf("coreutils base64 -d:     %8.1f MB/s of coded text (rc %d)\n", double(b64.size() - b64.size() / 78) / 1048576.0 / cs, rc);
        unlink(tmpl);
    }

    // quoted-printable of mixed text: mostly ASCII with 8-bit letters.
    std::string text(size, '\0');
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ .,=\xE4\xF6\xE5";
    for (size_t i = 0; i < size; ++i) text[i] = (i % 70 == 69) ? '\n' : alphabet[rng() % (sizeof alphabet - 1)];
    std::string qp = TNetEncoderQuotedPrintable().EncodeString(text);
    s = DecodeLines<TNetDecoderQuotedPrintable>(qp, got);
    printf("quoted-printable decode: %8.1f MB/s of coded text (%zu MB coded, %lld bytes out)\n",
           double(qp.size()) / 1048576.0 / s, qp.size() >> 20, (long long)got);
    return 0;
}
