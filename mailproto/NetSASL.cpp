#include "NetSASL.h"

#include <algorithm>
#include <mutex>
#include <sstream>

#include "NetCoder.h"
#include "NetGlobal.h"
#include "NetTCPConnection.h"
#include "SysUtils.h"

const char *const RSSASLRequired = "Need SASL mechanisms to login with it!!";

namespace {

std::mutex &InstancesLock() {
    static std::mutex lock;
    return lock;
}

std::vector<TNetSASL *> &Instances() {
    static std::vector<TNetSASL *> list;
    return list;
}

bool CodeIn(const std::string &code, const std::vector<std::string> &codes) {
    std::string c = Trim(code);
    for (const auto &x : codes)
        if (TextIsSame(c, x)) return true;
    return false;
}

std::vector<std::string> Words(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------

TNetSASL::~TNetSASL() {
    std::lock_guard<std::mutex> guard(InstancesLock());
    auto &list = Instances();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TNetSASL::InitComponent() {
    TNetInitializerComponent::InitComponent();
    std::lock_guard<std::mutex> guard(InstancesLock());
    auto &list = Instances();
    if (std::find(list.begin(), list.end(), this) == list.end()) list.push_back(this);
}

std::string TNetSASL::ContinueAuthenticate(const std::string &) { return std::string(); }

bool TNetSASL::IsAuthProtocolAvailable(const TStringList &names) const {
    std::string mine = ServiceName();
    return !mine.empty() && names.IndexOfText(mine) >= 0;
}

std::vector<TNetSASL *> NetSASLInstances() {
    std::lock_guard<std::mutex> guard(InstancesLock());
    return Instances();
}

// ---------------------------------------------------------------------------

void TNetSASLClientConnection::SASLSendCmd(const std::string &line) { FClient.SendCmdExpectText(line, ""); }

std::string TNetSASLClientConnection::SASLReplyCode() { return FClient.LastCmdResult()->Code(); }

std::string TNetSASLClientConnection::SASLReplyText() {
    // One challenge per reply; should a server split it, the decoder skips
    // the line breaks between the pieces.
    return FClient.LastCmdResult()->TextJoined();
}

// ---------------------------------------------------------------------------

void TNetSASLListEntry::SetSASL(TNetSASL *value) {
    FSASL = value;
    if (value && FCollection && FCollection->Owner()) FCollection->Owner()->FreeNotification(value);
}

std::string TNetSASLListEntry::DisplayName() const {
    if (FSASL) return FSASL->ServiceName();
    return ClassName();
}

// ---------------------------------------------------------------------------

TNetSASLListEntry *TNetSASLEntries::Add() {
    FItems.push_back(std::make_unique<TNetSASLListEntry>(this));
    return FItems.back().get();
}

TNetSASLListEntry *TNetSASLEntries::Add(TNetSASL *sasl) {
    TNetSASLListEntry *entry = Add();
    entry->SetSASL(sasl);
    return entry;
}

void TNetSASLEntries::Delete(int index) {
    if (index < 0 || index >= Count()) throw ENetRangeException("Index out of bounds.");
    FItems.erase(FItems.begin() + index);
}

void TNetSASLEntries::Assign(const TNetSASLEntries &source) {
    if (&source == this) return;
    FItems.clear();
    for (const auto &e : source.FItems) Add()->Assign(*e);
}

void TNetSASLEntries::RemoveByComp(const TNetInitializerComponent *comp) {
    if (!comp) return;
    FItems.erase(std::remove_if(FItems.begin(), FItems.end(),
                                [comp](const auto &e) { return e->SASL() == comp; }),
                 FItems.end());
}

TStringList TNetSASLEntries::ParseCapaSASL(const TStringList &capabilities, const std::string &keyword) {
    TStringList names;
    auto addWords = [&names](const std::string &text) {
        for (const auto &w : Words(text))
            if (names.IndexOf(w) < 0) names.Add(w);
    };
    const std::string key = UpperCase(keyword);
    for (const auto &raw : capabilities) {
        std::string line = UpperCase(raw);
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            (line[key.size()] == ' ' || line[key.size()] == '=')) {
            std::string rest = line.substr(key.size());
            std::replace(rest.begin(), rest.end(), '=', ' ');
            addWords(rest);
            continue;
        }
        // A client may also keep a whole capability response as one line
        // ("IMAP4REV1 SASL-IR AUTH=PLAIN AUTH=LOGIN"): its "AUTH=" words
        // count as well.
        for (const auto &w : Words(line))
            if (w.size() > key.size() + 1 && w.compare(0, key.size(), key) == 0 && w[key.size()] == '=')
                addWords(w.substr(key.size() + 1));
    }
    return names;
}

bool TNetSASLEntries::LoginWithSASL(const std::string &command, const std::vector<std::string> &okCodes,
                                    const std::vector<std::string> &continueCodes, TNetSASLConnection &client,
                                    const TStringList *capabilities, const std::string &capaKeyword) {
    TStringList offered;
    if (capabilities) offered = ParseCapaSASL(*capabilities, capaKeyword);

    std::vector<TNetSASL *> candidates;
    for (int i = Count() - 1; i >= 0; --i) {
        TNetSASL *mech = Items(i)->SASL();
        if (!mech) continue;
        if (capabilities && !mech->IsAuthProtocolAvailable(offered)) continue;
        if (std::find(candidates.begin(), candidates.end(), mech) == candidates.end()) candidates.push_back(mech);
    }
    if (candidates.empty()) return false;

    TNetEncoderMIME encoder;
    TNetDecoderMIME decoder;
    for (TNetSASL *mech : candidates) {
        client.SASLSendCmd(command + " " + mech->ServiceName());
        bool ok = false;
        try {
            std::string code = client.SASLReplyCode();
            int challenges = 0;
            while (!CodeIn(code, okCodes) && CodeIn(code, continueCodes)) {
                if (challenges == MaxChallenges) {
                    // A server that never ends the exchange is cancelled
                    // ("*"), so that the connection stays in step.
                    client.SASLSendCmd("*");
                    code.clear();
                    break;
                }
                std::string challenge = decoder.DecodeString(Trim(client.SASLReplyText()));
                std::string response;
                try {
                    response = challenges == 0 ? mech->StartAuthenticate(challenge)
                                               : mech->ContinueAuthenticate(challenge);
                } catch (const ENetSASLException &) {
                    // The mechanism cannot answer: cancel, then report.
                    client.SASLSendCmd("*");
                    throw;
                }
                ++challenges;
                client.SASLSendCmd(encoder.EncodeString(response));
                code = client.SASLReplyCode();
            }
            ok = CodeIn(code, okCodes);
        } catch (...) {
            mech->FinishAuthenticate();
            throw;
        }
        mech->FinishAuthenticate();
        if (ok) return true;
    }
    return false;
}

bool TNetSASLEntries::LoginWithSASL(const std::string &command, const std::vector<std::string> &okCodes,
                                    const std::vector<std::string> &continueCodes, TNetTCPConnection *client,
                                    const TStringList *capabilities, const std::string &capaKeyword) {
    ENetNotConnected::IfNotAssigned(client, "Not connected.");
    TNetSASLClientConnection link(*client);
    return LoginWithSASL(command, okCodes, continueCodes, link, capabilities, capaKeyword);
}
