// A small POP3 server over a mailbox the test writes (pop3_mailbox.py), run
// as a Python process that the test starts and stops. It offers PIPELINING
// and UIDL or not, deletes at QUIT as a real server does, keeps what is left
// for the test to read, and writes down every command with whether more had
// already arrived before its answer went out (a command sent ahead).
//
//     ScriptedPop3Server pop({{"u1", text1}, {"u2", text2}});
//     connect to 127.0.0.1:pop.Port() as any user
//     pop.Uids()                  // {"u2"} after a session deleted message 1
//     pop.Remove("u2")            // another client deletes it
//
// A command may be answered otherwise, every time it comes: refused, cut
// off or late; and the first QUIT may carry out the deletions and answer
// otherwise (Options).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "TestSupport.h"

struct ScriptedPop3Message {
    std::string Uid;   // 1 to 70 characters from "!" to "~", no "/"
    std::string Text;  // header, empty line, body; CR LF line ends
};

// Messages 1 to count, uid "mN": from "Sender N", "Subject: Message N",
// Message-ID <mN@scripted.test>, body "Body of message N.". The one at
// bigAt has a header larger than the client takes (1300 more lines of 900
// bytes, above its 1 MB).
std::vector<ScriptedPop3Message> NumberedPop3Messages(int count, int bigAt = 0);

class ScriptedPop3Server {
public:
    struct Options {
        bool Pipelining = true;
        bool Uidl = true;
        // Commands named by their first words ("TOP 90" for "TOP 90 0";
        // several split by commas, "TOP 1,TOP 2"), answered otherwise every
        // time they come; "" for none. Refused "TOP" is a server that gives
        // no header and does not list TOP in its capabilities.
        std::string Refused{};  // "-ERR no such message"
        std::string Cut{};      // no answer: the server closes the connection
        std::string Late{};     // answered after 1.5 s
        // How the first QUIT ends the deletions (later ones as ""): ""
        // carried out, "+OK"; "cut" carried out, no answer; any other text
        // is the answer, after carrying out only the first of them ("-ERR
        // some deleted messages not removed").
        std::string Quit{};
    };
    explicit ScriptedPop3Server(const std::vector<ScriptedPop3Message> &messages);
    ScriptedPop3Server(const std::vector<ScriptedPop3Message> &messages, Options options);
    ~ScriptedPop3Server();
    ScriptedPop3Server(const ScriptedPop3Server &) = delete;
    ScriptedPop3Server &operator=(const ScriptedPop3Server &) = delete;

    int Port() const { return FPort; }
    // The mailbox as it stands after the last QUIT, in server order.
    std::vector<std::string> Uids() const;
    // Another client deletes the message, between two sessions.
    void Remove(const std::string &uid);
    // Every command received, in order (" ahead" appended as above; a
    // connection that ended without QUIT leaves "(closed)").
    std::vector<std::string> Commands() const;
    // The commands that hold text.
    int Count(const std::string &text) const;

private:
    TempDir FDir;
    pid_t FPid = -1;
    int FPort = 0;
};
