// Parses a 50 MB message with a large base64 attachment and prints the rate
// beside Python's email parser on the same file in the same run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

#include "NetCoder.h"
#include "NetGlobalProtocols.h"
#include "NetMessage.h"

int main(int argc, char **argv) {
    size_t mb = argc > 1 ? size_t(atoi(argv[1])) : 50;
    size_t dataSize = (mb << 20) / 4 * 3;  // the coded message is about mb MB
    std::mt19937_64 rng(7);
    std::string data(dataSize, '\0');
    for (size_t i = 0; i + 8 <= dataSize; i += 8) {
        uint64_t v = rng();
        memcpy(&data[i], &v, 8);
    }
    std::string msg = "From: Bench <bench@example.org>\r\nTo: you@example.org\r\nSubject: big attachment\r\n"
                      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"BENCH\"\r\n\r\n"
                      "--BENCH\r\nContent-Type: text/plain\r\n\r\nSee the attachment.\r\n"
                      "--BENCH\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
                      "Content-Disposition: attachment; filename=\"big.bin\"\r\n\r\n";
    TNetEncoderMIME enc;
    msg.reserve(msg.size() + dataSize / 57 * 78 + 100);
    for (size_t i = 0; i < dataSize; i += 57) {
        msg += enc.EncodeBuffer(reinterpret_cast<const uint8_t *>(data.data()) + i, std::min<size_t>(57, dataSize - i));
        msg += "\r\n";
    }
    msg += "--BENCH--\r\n";

    char dir[] = "/tmp/bench_messageXXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string path = std::string(dir) + "/big.eml";
    {
        TFileStream f(path, fmCreate);
        f.WriteBuffer(msg.data(), int64_t(msg.size()));
    }
    SetNetTempFolder(std::string(dir) + "/tmp");

    auto t = std::chrono::steady_clock::now();
    {
        auto m = NetCreateNoOwner<TNetMessage>();
        TFileStream f(path, fmOpenRead);
        TNetStreamMessageSource src(f, false);
        if (m->ReceiveHeader(src)) m->ReceiveBody(src);
        if (m->Parts.Count() != 2) fprintf(stderr, "unexpected part count %d\n", m->Parts.Count());
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    printf("TNetMessage parse:    %8.1f MB/s (%zu MB message, %.2f s)\n", double(msg.size()) / 1048576.0 / s,
           msg.size() >> 20, s);

    std::string py = "python3 -c \"import sys,time\nfrom email import policy\nfrom email.parser import BytesParser\n"
                     "d=open(sys.argv[1],'rb').read()\nt=time.time()\nm=BytesParser(policy=policy.compat32).parsebytes(d)\n"
                     "n=sum(len(p.get_payload(decode=True) or b'') for p in m.walk() if not p.is_multipart())\n"
                     "s=time.time()-t\nprint('Python email parse:   %8.1f MB/s (%.2f s)' % (len(d)/1048576/s, s))\" " +
                     path;
    fflush(stdout);
    if (system(py.c_str()) != 0) printf("Python email parse:   (python3 not available)\n");
    unlink(path.c_str());
    SetNetTempFolder("");
    rmdir((std::string(dir) + "/tmp").c_str());
    rmdir(dir);
    return 0;
}
