#include "PythonPeer.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "ChildProcess.h"
#include "TestSupport.h"

bool PythonAvailable() { return RunProgram({PythonProgram(), "-c", "import email"}) == 0; }

std::string PythonRun(const std::string &script, const std::vector<std::string> &args) {
    std::vector<std::string> argv{PythonProgram(), "-W", "ignore", "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out, err;
    if (RunProgram(argv, &out, &err) != 0) throw std::runtime_error("python failed: " + err);
    return out;
}

std::vector<std::string> PythonMap(const std::string &code, const std::vector<std::string> &inputs) {
    TempDir dir;
    std::string in;
    for (auto &s : inputs) {
        char len[17];
        snprintf(len, sizeof len, "%016zx", s.size());
        in += len;
        in += s;
    }
    WriteTestFile(dir.File("in"), in);
    std::string script = code + R"(
import sys
data = open(sys.argv[1], 'rb').read()
out = open(sys.argv[2], 'wb')
pos = 0
while pos < len(data):
    n = int(data[pos:pos+16], 16); pos += 16
    r = f(data[pos:pos+n]); pos += n
    out.write(b'%016x' % len(r)); out.write(r)
out.close()
)";
    PythonRun(script, {dir.File("in"), dir.File("res")});
    std::string res = ReadTestFile(dir.File("res"));
    std::vector<std::string> outs;
    size_t pos = 0;
    while (pos + 16 <= res.size()) {
        size_t n = std::stoull(res.substr(pos, 16), nullptr, 16);
        pos += 16;
        outs.push_back(res.substr(pos, n));
        pos += n;
    }
    if (outs.size() != inputs.size()) throw std::runtime_error("python returned a wrong count");
    return outs;
}
