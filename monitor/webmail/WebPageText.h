// Reading a web-mail page as text: the body HTML the browser gives, split
// into lines, searched for the tokens of the host's script ("host_data.dat")
// for the message count, the list fields, the body and a message's place.
// Nothing here touches the browser, so every rule can be checked (and
// fuzzed) on plain text.
#pragma once

#include <string>
#include <vector>

#include "Classes.h"
#include "settings/HostData.h"
#include "SysUtils.h"

class TNetMessage;

// The page's lines, split at CR LF, LF or CR.
std::vector<std::string> SplitPageLines(const std::string &html);

// The number of lines that hold the token (none for an empty token).
int CountWebMessages(const std::vector<std::string> &lines, const std::string &token);

// One message of a list page as its fields stand in the HTML.
struct TWebListEntry {
    bool Found = false;
    bool Read = false;
    std::string Id, Time, Sender, Subject;  // raw fields
};

// The Position-th message (1-based) of the page: in "new messages" mode the
// Position-th line holding NewMail, every message unread; in "all messages"
// mode (All) the Position-th line holding DelRealN, read when the line
// MsReadLn below it does not hold NewMail. Fields come from the lines their
// offsets name, with the unread or the read tokens; a line beyond the page
// gives an empty field.
TWebListEntry ReadWebListEntry(const std::vector<std::string> &lines, const THostScript &script,
                               int Position, bool All);

// The sender field as an address text: "&lt;" stands for "<" (and ">" is
// added), a bare name without "@" and "." gets " <...>", and an open "<"
// is closed.
std::string FormatWebSender(const std::string &Field);

// A text of the page as it reads: the browser writes "&", "<", ">" and the
// non-breaking space of a text as entities.
std::string DecodeWebText(const std::string &Text);

// The date a list gives a message. Without GetTime: today at 00:00:00. A
// field shorter than 9 characters is a time of today ("9:41", "21:07:33",
// "9:41 PM"); a longer one a date ("2024-03-17", "17.3.2024", "3/17/2024",
// or the form of this desktop's locale), optionally followed by a time.
// What cannot be read counts as today at 00:00:00, so one odd field does
// not cost the whole list.
TDateTime WebFieldDate(const std::string &Field, bool GetTime, TDateTime Now);

// Fills the message's identifier ("<" + field + ">"), date, sender,
// subject and flags (seen for a read message, none for an unread one).
void ApplyWebListEntry(const TWebListEntry &Entry, const THostScript &script, TNetMessage &Message,
                       TDateTime Now);

// The body of a message page: from the line BodyLn below each line holding
// Body, every line with its tags removed, until a line holding BodyEnd ends
// the read. False when no line holds Body (or Body is empty).
bool ReadWebBody(const std::vector<std::string> &lines, const THostScript &script, TStringList &Body);

// The 1-based places on the page of the messages with this identifier, in
// page order (none for an empty identifier). Each message's identifier is
// read with the tokens of its read state.
std::vector<int> LocateWebMessages(const std::vector<std::string> &lines, const THostScript &script,
                                   const std::string &MessageId);
// The last of those places, or -1.
int LocateWebMessage(const std::vector<std::string> &lines, const THostScript &script,
                     const std::string &MessageId);

// Why a message may not be deleted by its identifier on this page: "" when
// it stands there exactly once under an identifier of its own. An empty
// identifier field (the list gives it as "<>") names no message, and an
// identifier two messages share does not say which of them is meant.
std::string WebDeleteRefusal(const std::vector<std::string> &lines, const THostScript &script,
                             const std::string &MessageId);
