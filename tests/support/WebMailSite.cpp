#include "WebMailSite.h"

#include <QJsonDocument>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ChildProcess.h"
#include "OpenSSLServer.h"
#include "QtTestApp.h"
#include "SysUtils.h"

namespace {

std::unique_ptr<TempDir> gHome;
bool gTrusted = false;
std::string gTrustError = "not prepared";

}  // namespace

void PrepareBrowserTests() {
    if (gHome) return;
    // Chromium refuses to start its sandbox as root; a normal user keeps it.
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    gHome = std::make_unique<TempDir>();
    const std::string home = gHome->Path();
    setenv("HOME", home.c_str(), 1);
    const std::string runtime = home + "runtime";
    WriteTestFile(runtime + "/.keep", "");
    chmod(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // The engine verifies certificates with NSS, whose database of trusted
    // authorities is $HOME/.pki/nssdb.
    const std::string db = home + ".pki/nssdb";
    WriteTestFile(db + "/.keep", "");
    std::string out;
    try {
        const std::string ca = TestPKI::Get().CAFile;
        if (RunProgram({"certutil", "-N", "-d", "sql:" + db, "--empty-password"}, &out) != 0)
            gTrustError = "certutil -N failed (libnss3-tools): " + out;
        else if (RunProgram({"certutil", "-A", "-d", "sql:" + db, "-n", "tarnwick-test-ca", "-t", "C,,", "-i", ca},
                            &out) != 0)
            gTrustError = "certutil -A failed: " + out;
        else
            gTrusted = true;
    } catch (const std::exception &e) {
        gTrustError = e.what();
    }
    EnsureQApplication();
}

bool BrowserTrustsTestCA(std::string *why) {
    PrepareBrowserTests();
    if (why) *why = gTrusted ? "" : gTrustError;
    return gTrusted;
}

WebMailSite::WebMailSite() : WebMailSite(TOptions{}) {}

WebMailSite::WebMailSite(const TOptions &options) : FTls(options.Tls) {
    ::setenv("no_proxy", "127.0.0.1,::1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,::1,localhost", 1);
    std::vector<std::string> args = {PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/webmail_site.py",
                                     "--state", FDir.File("state.json")};
    if (FTls) {
        const TestPKI &pki = TestPKI::Get();
        args.insert(args.end(), {"--cert", options.Cert.empty() ? pki.ServerCert : options.Cert, "--key", pki.Key});
    }
    if (options.ExtraCheckbox) args.push_back("--extra-checkbox");
    if (!options.LoginAction.empty()) args.insert(args.end(), {"--login-action", options.LoginAction});
    if (options.BigKb > 0) args.insert(args.end(), {"--big-kb", std::to_string(options.BigKb)});
    if (!options.LoginTrick.empty()) args.insert(args.end(), {"--login-trick", options.LoginTrick});
    if (options.ShiftyList) args.push_back("--shifty-list");
    for (const std::string &id : options.ShowIds) args.push_back("--show-id=" + id);
    if (!options.SessionHost.empty()) args.insert(args.end(), {"--session-host", options.SessionHost});
    if (options.PageSize > 0) args.insert(args.end(), {"--page-size", std::to_string(options.PageSize)});
    if (options.NewMailAtLogIn > 0)
        args.insert(args.end(), {"--new-mail-at-login", std::to_string(options.NewMailAtLogIn)});
    if (options.Rerender) args.push_back("--rerender");
    if (options.DeleteExpires) args.push_back("--delete-expires");
    if (!options.KeepSession.empty()) args.insert(args.end(), {"--keep-session", options.KeepSession});
    if (options.NoConfirm) args.push_back("--no-confirm");
    if (options.Messages > 0) args.insert(args.end(), {"--messages", std::to_string(options.Messages)});
    if (!options.DeleteButton.empty()) args.insert(args.end(), {"--delete-button", options.DeleteButton});
    if (options.ConfirmButton) args.push_back("--confirm-button");
    if (!options.RefusedAt.empty()) args.insert(args.end(), {"--refused-at", options.RefusedAt});
    if (options.UnnamedButtons) args.push_back("--unnamed-buttons");
    if (options.ScriptLink) args.push_back("--script-link");
    if (options.HiddenRelogin) args.push_back("--hidden-relogin");
    if (options.CutLogIn) args.push_back("--cut-log-in");
    if (!options.Picture.empty()) args.insert(args.end(), {"--picture", options.Picture});
    FPid = StartPeerProcess(args, "PORT ", FPort, 15000);
}

WebMailSite::~WebMailSite() { StopPeerProcess(FPid, SIGTERM); }

std::string WebMailSite::Url(const std::string &path) const {
    return std::string(FTls ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort) + path;
}

QJsonObject WebMailSite::State() const {
    return QJsonDocument::fromJson(QByteArray::fromStdString(ReadTestFile(FDir.File("state.json")))).object();
}

std::string HostSection(const std::string &name, const std::string &loginUrl) {
    std::string file = ReadTestFile(std::string(TW_SOURCE_DIR) + "/host_data.dat");
    size_t start = file.find("[webmail.demo]");
    if (start == std::string::npos) return {};
    size_t end = file.find("\n[", start + 1);
    std::string section = file.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
    section = StringReplaceAll(section, "[webmail.demo]", "[" + name + "]");
    return StringReplaceAll(section, "AHost=http://127.0.0.1:8931/login", "AHost=" + loginUrl) + "\n";
}
