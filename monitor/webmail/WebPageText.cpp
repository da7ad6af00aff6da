#include "WebPageText.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>
#include <algorithm>
#include <climits>
#include <cstdint>

#include "NetMessage.h"
#include "settings/VeskRutins.h"

namespace {

// The line at a computed index; offsets come from the data file, so any
// index is possible and one outside the page reads as an empty line.
const std::string &LineAt(const std::vector<std::string> &lines, int64_t index) {
    static const std::string empty;
    if (index < 0 || index >= int64_t(lines.size())) return empty;
    return lines[size_t(index)];
}

// A message is read when the line MsReadLn below its DelRealN line lacks
// NewMail; without a NewMail token every message counts as unread.
bool LineMarksRead(const std::vector<std::string> &lines, const THostScript &script, int tokenLine) {
    if (script.NewMail.empty()) return false;
    return !Contains(LineAt(lines, int64_t(tokenLine) + script.MsReadLn), script.NewMail);
}

std::string Field(const std::vector<std::string> &lines, const THostScript &script, int tokenLine,
                  const THostScript::TField &field, bool all, bool read) {
    const std::string &line = LineAt(lines, HostFieldLine(script, tokenLine, field.Line, all));
    return read ? ExtractHostField(line, field.ReadStart, field.ReadEnd)
                : ExtractHostField(line, field.Start, field.End);
}

bool ParseTime(const std::string &text, int &hour, int &min, int &sec) {
    QString t = QString::fromStdString(Trim(text));
    bool pm = false, am = false;
    if (t.endsWith("PM", Qt::CaseInsensitive)) pm = true;
    else if (t.endsWith("AM", Qt::CaseInsensitive)) am = true;
    if (pm || am) t = t.left(t.size() - 2).trimmed();
    const QStringList parts = t.split(':');
    if (parts.size() < 2 || parts.size() > 3) return false;
    int v[3] = {0, 0, 0};
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        v[i] = parts[i].toInt(&ok);
        // "-1" converts too; a page's time never holds a sign.
        if (!ok || parts[i].isEmpty() || parts[i].size() > 2 || v[i] < 0) return false;
    }
    hour = v[0];
    min = v[1];
    sec = v[2];
    if (am || pm) {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    return hour < 24 && min < 60 && sec < 60;
}

bool ParseDate(const std::string &text, TDateTime &out) {
    const QString t = QString::fromStdString(Trim(text));
    const QString formats[] = {QLocale::system().dateFormat(QLocale::ShortFormat), "yyyy-MM-dd", "d.M.yyyy",
                               "M/d/yyyy", "d.M.yy", "M/d/yy"};
    for (const QString &f : formats) {
        QDate d = QDate::fromString(t, f);
        if (!d.isValid()) continue;
        // Two-digit years are of this century.
        if (f.count('y') == 2 && d.year() < 2000) d = d.addYears(100);
        return TryEncodeDate(d.year(), d.month(), d.day(), out);
    }
    return false;
}

TDateTime Today(TDateTime now) {
    int y, m, d;
    DecodeDate(now, y, m, d);
    return EncodeDate(y, m, d);
}

}  // namespace

std::vector<std::string> SplitPageLines(const std::string &html) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < html.size(); ++i) {
        char c = html[i];
        if (c != '\r' && c != '\n') continue;
        lines.emplace_back(html, start, i - start);
        if (c == '\r' && i + 1 < html.size() && html[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < html.size()) lines.emplace_back(html, start, std::string::npos);
    return lines;
}

int CountWebMessages(const std::vector<std::string> &lines, const std::string &token) {
    return int(FindTokenLines(lines, token).size());
}

TWebListEntry ReadWebListEntry(const std::vector<std::string> &lines, const THostScript &script,
                               int Position, bool All) {
    TWebListEntry e;
    const std::vector<int> tokenLines = FindTokenLines(lines, All ? script.DelRealN : script.NewMail);
    if (Position < 1 || size_t(Position) > tokenLines.size()) return e;
    const int j = tokenLines[size_t(Position) - 1];
    e.Found = true;
    e.Read = All && LineMarksRead(lines, script, j);
    e.Id = Field(lines, script, j, script.Id, All, e.Read);
    e.Time = Field(lines, script, j, script.Time, All, e.Read);
    e.Sender = Field(lines, script, j, script.Sender, All, e.Read);
    e.Subject = Field(lines, script, j, script.Subject, All, e.Read);
    return e;
}

std::string FormatWebSender(const std::string &Field) {
    std::string s = Field;
    if (!Contains(s, "<") && Contains(s, "&lt;")) {
        // The page wrote the brackets as entities; a closing one is written
        // the same way and must not stay behind as text in the address.
        s = StringReplaceAll(StringReplaceAll(s, "&lt;", "<"), "&gt;", ">");
        if (!Contains(s, ">")) s += ">";
    } else if (!Contains(s, "<") && !(Contains(s, "@") && Contains(s, "."))) {
        s += " <...>";
    }
    if (Contains(s, "<") && !Contains(s, ">")) s += ">";
    return s;
}

std::string DecodeWebText(const std::string &Text) {
    if (!Contains(Text, "&")) return Text;
    std::string out = StringReplaceAll(Text, "&lt;", "<");
    out = StringReplaceAll(out, "&gt;", ">");
    out = StringReplaceAll(out, "&nbsp;", "\xC2\xA0");
    return StringReplaceAll(out, "&amp;", "&");
}

TDateTime WebFieldDate(const std::string &Field, bool GetTime, TDateTime Now) {
    const TDateTime today = Today(Now);
    if (!GetTime) return today;
    int h = 0, m = 0, s = 0;
    if (Field.size() < 9) return ParseTime(Field, h, m, s) ? today + EncodeTime(h, m, s, 0) : today;
    TDateTime date = 0;
    if (ParseDate(Field, date)) return date;
    // A date followed by a time.
    const std::string text = Trim(Field);
    size_t blank = text.rfind(' ');
    if (blank != std::string::npos && ParseDate(text.substr(0, blank), date) &&
        ParseTime(text.substr(blank + 1), h, m, s))
        return date + EncodeTime(h, m, s, 0);
    if (blank != std::string::npos) {
        // "9:41 PM" after the date.
        size_t before = text.rfind(' ', blank - 1);
        if (before != std::string::npos && ParseDate(text.substr(0, before), date) &&
            ParseTime(text.substr(before + 1), h, m, s))
            return date + EncodeTime(h, m, s, 0);
    }
    return today;
}

void ApplyWebListEntry(const TWebListEntry &Entry, const THostScript &script, TNetMessage &Message,
                       TDateTime Now) {
    Message.SetMessageId("<" + Entry.Id + ">");
    Message.Date = WebFieldDate(Entry.Time, script.GetTime, Now);
    const std::string sender = FormatWebSender(Entry.Sender);
    try {
        Message.From().SetText(sender);
    } catch (const Exception &) {
        // A sender the address parser cannot read is kept as a name.
        Message.From().Address.clear();
        Message.From().Name = sender;
    }
    Message.Subject = Entry.Subject;
    Message.Flags.Clear();
    if (Entry.Read) Message.Flags.Include(mfSeen);
}

bool ReadWebBody(const std::vector<std::string> &lines, const THostScript &script, TStringList &Body) {
    if (script.Body.empty()) return false;
    const int64_t n = int64_t(lines.size());
    for (int64_t i = 0; i < n; ++i) {
        if (!Contains(lines[size_t(i)], script.Body)) continue;
        for (int64_t k = std::max<int64_t>(0, i + script.BodyLn); k < n; ++k) {
            if (Contains(lines[size_t(k)], script.BodyEnd)) return true;
            Body.Add(StripHtmlTags(lines[size_t(k)]));
        }
        // The page ran out before the end token: everything after the body
        // line has been taken once, and is not taken again.
        return true;
    }
    return false;
}

std::vector<int> LocateWebMessages(const std::vector<std::string> &lines, const THostScript &script,
                                   const std::string &MessageId) {
    std::vector<int> places;
    if (MessageId.empty()) return places;
    const std::vector<int> tokenLines = FindTokenLines(lines, script.DelRealN);
    for (size_t k = 0; k < tokenLines.size(); ++k) {
        const int j = tokenLines[k];
        // The identifier is read as the full list read it: with the tokens of
        // the message's read state.
        const bool read = LineMarksRead(lines, script, j);
        const std::string &line = LineAt(lines, int64_t(j) + script.DelLn);
        std::string id = read ? ExtractHostField(line, script.Id.ReadStart, script.Id.ReadEnd)
                              : ExtractHostField(line, script.Id.Start, script.Id.End);
        if ("<" + id + ">" == MessageId) places.push_back(int(k) + 1);
    }
    return places;
}

int LocateWebMessage(const std::vector<std::string> &lines, const THostScript &script,
                     const std::string &MessageId) {
    const std::vector<int> places = LocateWebMessages(lines, script, MessageId);
    return places.empty() ? -1 : places.back();
}

std::string WebDeleteRefusal(const std::vector<std::string> &lines, const THostScript &script,
                             const std::string &MessageId) {
    // "<>" and "< >" are what an empty or blank field gives.
    std::string bare = MessageId;
    if (bare.size() >= 2 && bare.front() == '<' && bare.back() == '>') bare = bare.substr(1, bare.size() - 2);
    if (Trim(bare).empty()) return "the message has no identifier on the page";
    const size_t places = LocateWebMessages(lines, script, MessageId).size();
    if (places == 0) return "the message " + MessageId + " is not on the page";
    if (places > 1)
        return Format("the identifier %s stands on %d messages of the page", MessageId.c_str(), int(places));
    return "";
}
