// "host_data.dat": provider presets for new accounts and the per-host
// scripts of the web-mail route, one section per name. Read on demand
// through the INI routines, never written.
#pragma once

#include <string>
#include <vector>

#include "Classes.h"

struct THostPreset {
    std::string Host;
    std::string Port = "110";
    bool SSL = false;
    std::string Connection = "POP3";
};

// Every section name of the file, in file order.
void ReadPresetNames(const std::string &hostDataFile, TStringList &names);
THostPreset ReadHostPreset(const std::string &hostDataFile, const std::string &name);
// [host] Web is "True": an account without a Connection key is web mail.
bool HostIsWeb(const std::string &hostDataFile, const std::string &host);

// One host's script. Numbers are read with a plain conversion: a key that is
// not a number raises EConvertError here, before the route starts.
struct THostScript {
    std::string AHost, Cookie, NameName, PassName, ButtName;
    int ButtRND = 1;
    bool ClickIn1 = false;
    std::string ClickLink1;
    int R1 = 1;
    bool ClickIn2 = false;
    std::string ClickLink2;
    int R2 = 1;
    std::string ClickOut;
    bool ImageLink = false;
    std::string NewMail, DelRealN;
    int DelLn = 0, MsReadLn = 0;
    // Fields: identifier (L1), time/date (L3), sender (L5), subject (L7);
    // start and end tokens for an unread and for a read message.
    struct TField {
        int Line = 0;
        std::string Start, End, ReadStart, ReadEnd;
    };
    TField Id, Time, Sender, Subject;
    bool GetTime = false;
    std::string Body;
    int BodyLn = 1;
    std::string BodyEnd;
    std::string DelCBName, DelBtnName, DelLink;
};
THostScript ReadHostScript(const std::string &hostDataFile, const std::string &host);
// A host can log in only with a section holding a log-in address.
bool HostHasScript(const THostScript &script);

// Field extraction from one line: everything through the first Start goes,
// then everything from the first End on. Empty tokens never match.
std::string ExtractHostField(const std::string &line, const std::string &start, const std::string &end);
// Indexes of the lines that contain the token (none for an empty token).
std::vector<int> FindTokenLines(const std::vector<std::string> &lines, const std::string &token);
// The line of a field for a message found on tokenLine: in "new messages"
// mode tokenLine + fieldLine; in "all messages" mode the DelRealN line +
// fieldLine + (DelLn - L1).
int HostFieldLine(const THostScript &script, int tokenLine, int fieldLine, bool allMessages);
