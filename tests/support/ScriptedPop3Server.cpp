#include "ScriptedPop3Server.h"

#include <algorithm>
#include <csignal>

#include "ChildProcess.h"
#include "SysUtils.h"

namespace {
std::vector<std::string> LinesOf(const std::string &path) {
    std::vector<std::string> out;
    if (!FileExists(path)) return out;
    const std::string text = ReadTestFile(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}
}  // namespace

std::vector<ScriptedPop3Message> NumberedPop3Messages(int count, int bigAt) {
    std::vector<ScriptedPop3Message> out;
    for (int n = 1; n <= count; ++n) {
        const std::string k = std::to_string(n);
        std::string filler;
        if (n == bigAt)
            for (int i = 0; i < 1300; ++i) filler += "X-Filler: " + std::string(900, 'f') + "\r\n";
        out.push_back({"m" + k, "From: Sender " + k + " <sender" + k + "@example.org>\r\nSubject: Message " + k +
                                    "\r\n" + filler + "Message-ID: <m" + k +
                                    "@scripted.test>\r\nDate: Fri, 01 Mar 2024 08:00:00 +0000\r\n\r\nBody of message " +
                                    k + ".\r\n"});
    }
    return out;
}

ScriptedPop3Server::ScriptedPop3Server(const std::vector<ScriptedPop3Message> &messages)
    : ScriptedPop3Server(messages, Options{}) {}

ScriptedPop3Server::ScriptedPop3Server(const std::vector<ScriptedPop3Message> &messages, Options options) {
    std::string order;
    for (const ScriptedPop3Message &m : messages) {
        WriteTestFile(FDir.File(m.Uid), m.Text);
        order += m.Uid + "\n";
    }
    WriteTestFile(FDir.File("order"), order);
    FPid = StartPeerProcess({PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/pop3_mailbox.py",
                             FDir.Path(), options.Pipelining ? "1" : "0", options.Uidl ? "1" : "0", options.Refused,
                             options.Cut, options.Late, options.Quit},
                            "", FPort);
}

ScriptedPop3Server::~ScriptedPop3Server() { StopPeerProcess(FPid, SIGKILL); }

std::vector<std::string> ScriptedPop3Server::Uids() const { return LinesOf(FDir.File("order")); }

void ScriptedPop3Server::Remove(const std::string &uid) {
    std::string order;
    for (const std::string &u : Uids())
        if (u != uid) order += u + "\n";
    WriteTestFile(FDir.File("order"), order);
}

std::vector<std::string> ScriptedPop3Server::Commands() const { return LinesOf(FDir.File("commands.log")); }

int ScriptedPop3Server::Count(const std::string &text) const {
    const std::vector<std::string> all = Commands();
    return int(std::count_if(all.begin(), all.end(), [&](const std::string &c) { return Contains(c, text); }));
}
