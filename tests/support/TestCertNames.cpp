#include "TestCertNames.h"

#include "ChildProcess.h"
#include "OpenSSLServer.h"
#include "TestSupport.h"

#include <ctime>
#include <stdexcept>
#include <vector>

namespace {

void RunOpenSSL(const std::string &folder, const std::vector<std::string> &args)
{
    std::vector<std::string> argv{"/bin/sh", "-c", "cd \"$0\" && exec openssl \"$@\"", folder};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (RunProgram(argv, &out) != 0)
        throw std::runtime_error("test certificate: openssl " + args[0] + " failed: " + out);
}

std::string Stamp(std::time_t t)
{
    char buf[32];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", &tm);
    return buf;
}

}  // namespace

std::string IssueTestCert(const std::string &cn, const std::string &san, const std::string &start,
                          const std::string &end)
{
    static int serial = 0;
    const std::string &dir = TestPKI::Get().Folder;
    std::string name = "extra" + std::to_string(++serial);
    std::string ext = "[ext]\nbasicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n";
    if (!san.empty())
        ext += "subjectAltName = " + san + "\n";
    WriteTestFile(dir + name + ".ext", ext);
    std::time_t now = std::time(nullptr);
    RunOpenSSL(dir, {"req", "-new", "-key", "server.key", "-out", name + ".csr", "-subj", "/CN=" + cn});
    RunOpenSSL(dir, {"ca", "-batch", "-config", "ca.cnf", "-in", name + ".csr", "-out", name + ".pem",
                     "-startdate", start.empty() ? Stamp(now - 86400) : start, "-enddate",
                     end.empty() ? Stamp(now + 30 * 86400) : end, "-extfile", name + ".ext", "-extensions",
                     "ext", "-notext"});
    return dir + name + ".pem";
}
