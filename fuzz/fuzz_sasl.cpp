// The SASL log-in against a server that says anything: capability lines and
// replies come from the input. The exchange must end (success, refusal or a
// SASL exception), never loop, crash or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "NetHashMessageDigest.h"
#include "NetSASLMechanisms.h"

namespace {

class Owner : public TNetBaseComponent {
public:
    explicit Owner() : TNetBaseComponent(nullptr) {}
};

class FuzzServer : public TNetSASLConnection {
public:
    explicit FuzzServer(std::vector<std::string> replies) : FReplies(std::move(replies)) {}
    int Sent = 0;
    void SASLSendCmd(const std::string &) override {
        ++Sent;
        std::string r = FNext < FReplies.size() ? FReplies[FNext++] : "-ERR end";
        size_t sp = r.find(' ');
        FCode = r.substr(0, sp);
        FText = sp == std::string::npos ? "" : r.substr(sp + 1);
    }
    std::string SASLReplyCode() override { return FCode; }
    std::string SASLReplyText() override { return FText; }

private:
    std::vector<std::string> FReplies;
    size_t FNext = 0;
    std::string FCode, FText;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    (void)NetHMACMD5(text.substr(0, size / 2), text.substr(size / 2));
    (void)NetMD4(text);

    // Lines up to an empty one are capabilities, the rest replies.
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    TStringList caps;
    size_t i = 0;
    for (; i < lines.size() && !lines[i].empty(); ++i) caps.Add(lines[i]);
    std::vector<std::string> replies(lines.begin() + long(std::min(i + 1, lines.size())), lines.end());

    Owner owner;
    TNetSASLEntries entries(&owner);
    auto *plain = NetCreate<TNetSASLPlain>(&owner);
    auto *login = NetCreate<TNetSASLLogin>(&owner);
    auto *cram = NetCreate<TNetSASLCRAMMD5>(&owner);
    for (TNetSASLUserPass *m : {static_cast<TNetSASLUserPass *>(plain), static_cast<TNetSASLUserPass *>(login),
                                static_cast<TNetSASLUserPass *>(cram)}) {
        m->Username = "user";
        m->Password = "pass";
        entries.Add(m);
    }
    for (bool known : {true, false}) {
        FuzzServer server(replies);
        try {
            entries.LoginWithSASL("AUTH", {"+OK"}, {"+"}, server, known ? &caps : nullptr, "SASL");
        } catch (const ENetSASLException &) {
        }
        // Three mechanisms, each at most its command, the challenge limit
        // and a cancel.
        if (server.Sent > 3 * (TNetSASLEntries::MaxChallenges + 2)) __builtin_trap();
    }
    return 0;
}
