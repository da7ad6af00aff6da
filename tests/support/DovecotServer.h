// A private Dovecot for the POP3 and IMAP4 tests.
//
// Each object writes its own configuration, test CA, server certificate and
// user list into a fresh temporary folder, starts "dovecot -F -c FILE" on
// loopback ports that were free a moment ago (retrying with other ports when
// another test program took one first), waits until all four listeners
// accept, and stops the server and every process it started when destroyed.
// Several test programs may each run their own at the same time.
//
//     DovecotServer dc;                       // throws when it cannot start
//     dc.FillMailbox(dc.UserName(), 20);      // 20 messages in the INBOX
//     connect to dc.Host():dc.Pop3Port() as dc.UserName()/dc.Password()
//     TLS peers trust dc.CaFile() (e.g. SSL_CERT_FILE=dc.CaFile())
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "ChildProcess.h"

struct DovecotUser {
    std::string Name;
    std::string Password;
};

class DovecotServer {
public:
    struct Options {
        // Empty: the two default users "tester"/"secret1" and
        // "other"/"secret2".
        std::vector<DovecotUser> Users;
        // Also listen on ::1 (same port numbers as on 127.0.0.1).
        bool ListenIPv6 = false;
        // The text after "+OK " / "* OK " in the greetings.
        std::string Greeting = "Dovecot ready.";
    };

    DovecotServer();
    explicit DovecotServer(const Options &options);
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    // Empty when a server can be started here, else why not (for GTEST_SKIP).
    static std::string Unavailable();

    std::string Host() const { return "127.0.0.1"; }
    int Pop3Port() const { return FPop3Port; }
    int Pop3sPort() const { return FPop3sPort; }    // implicit TLS
    int ImapPort() const { return FImapPort; }
    int ImapsPort() const { return FImapsPort; }    // implicit TLS

    // PEM file of the CA that signed the server certificate (CN and
    // subjectAltName "localhost", 127.0.0.1 and ::1).
    const std::string &CaFile() const { return FCaFile; }
    // The private folder, with a trailing "/".
    const std::string &Folder() const { return FFolder; }

    const std::vector<DovecotUser> &Users() const { return FUsers; }
    const std::string &UserName(size_t i = 0) const { return FUsers.at(i).Name; }
    const std::string &Password(size_t i = 0) const { return FUsers.at(i).Password; }

    // Appends `count` messages made by Python's email package (numbered
    // from `first`, see make_messages.py) to a mailbox of a user. A mailbox
    // other than "INBOX" is created when missing; its name is UTF-8 and may
    // hold any characters IMAP allows (Dovecot stores it in modified UTF-7).
    // Messages go to cur/ unseen, or seen with `seen`.
    void FillMailbox(const std::string &user, int count,
                     const std::string &mailbox = "INBOX", int first = 1,
                     bool seen = false, int bodyLines = 5);
    // Appends one message with exactly these bytes (LF or CRLF line ends).
    void AddMessage(const std::string &user, const std::string &bytes,
                    const std::string &mailbox = "INBOX", bool seen = false);
    // Delivers one message through Dovecot's own delivery agent
    // (dovecot-lda), which adds its headers (Return-Path, Delivered-To) and
    // stores it as delivered mail is stored. Throws when it fails.
    void DeliverMessage(const std::string &user, const std::string &bytes,
                        const std::string &sender = "sender@example.org");
    // Creates a mailbox (UTF-8 name) through doveadm.
    void CreateMailbox(const std::string &user, const std::string &mailbox);
    // The Maildir folder (with cur/ new/ tmp/) of a mailbox, created if needed.
    std::string MailboxPath(const std::string &user, const std::string &mailbox = "INBOX");
    // Number of message files in a mailbox as stored on disk.
    int StoredMessageCount(const std::string &user, const std::string &mailbox = "INBOX");
    // The Message-IDs in the user's INBOX as an IMAP4 client sees them, in
    // order, blank-separated (Python's imaplib, read-only).
    std::string InboxMessageIds(const std::string &user) const;
    // Another client (Python's imaplib) expunges the user's INBOX: every
    // message flagged \Deleted goes, whoever flagged it.
    void ExpungeInbox(const std::string &user) const;

    // Dovecot's log so far, for failure messages.
    std::string LogText() const;
    // Waits until the log holds `text` at least `count` times: Dovecot's
    // processes log through a separate log process, so a line may follow the
    // reply it belongs to by a moment. False after `timeoutMs`.
    bool WaitForLog(const std::string &text, int count = 1, int timeoutMs = 5000) const;
    // The configuration file (for doveadm -c).
    std::string ConfigFile() const { return FFolder + "dovecot.conf"; }
    pid_t Pid() const { return FPid; }
    // Stops the server now; the destructor does it otherwise.
    void Stop();

private:
    void MakeCertificates();
    void WriteConfig();
    bool StartOnce(std::string &why);
    std::string UserHome(const std::string &user) const;
    void Chown(const std::string &path) const;

    Options FOptions;
    std::vector<DovecotUser> FUsers;
    std::string FFolder;
    std::string FCaFile;
    std::string FBaseDir;
    bool FOwnBaseDir = false;
    int FPop3Port = 0, FPop3sPort = 0, FImapPort = 0, FImapsPort = 0;
    pid_t FPid = -1;
    uid_t FMailUid = 0;
    gid_t FMailGid = 0;
    int FMessageSerial = 0;
};

// Processes of a process group that still run (zombies not counted).
int LiveProcessesInGroup(pid_t pgid);
