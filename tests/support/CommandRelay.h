// A relay between a mail client and its server on loopback that stands in
// for the server at one command (command_relay.py, run as a Python process
// the test starts and stops): it refuses that command with an answer of its
// own, or ends the connection there, and the server never sees it; or it
// lets the server carry the command out and ends the connection before the
// answer comes back.
//
//     CommandRelay quit(pop.Port(), "^QUIT", "-ERR some deleted messages not removed");
//     CommandRelay expunge(imapPort, "^\\S+ (UID )?EXPUNGE");   // cut there
//     CommandRelay store(imapPort, "^\\S+ UID STORE", "{lost}");   // done, never answered
//     connect to 127.0.0.1:quit.Port()
#pragma once

#include <string>
#include <sys/types.h>

class CommandRelay {
public:
    // Pattern: a regular expression (Python's) for the command line, CR LF
    // left out. Answer: the line sent in the server's place ("{tag}" is the
    // command's first word); empty ends both connections instead; "{lost}"
    // ends them once the server has answered the command (IMAP4, by its
    // tag), its answer kept from the client. ExpungeAs ("user:password"):
    // another IMAP4 client expunges that user's INBOX at the command, before
    // the relay acts on it.
    CommandRelay(int upstreamPort, const std::string &pattern, const std::string &answer = "",
                 const std::string &expungeAs = "");
    ~CommandRelay();
    CommandRelay(const CommandRelay &) = delete;
    CommandRelay &operator=(const CommandRelay &) = delete;
    int Port() const { return FPort; }

private:
    pid_t FPid = -1;
    int FPort = 0;
};
