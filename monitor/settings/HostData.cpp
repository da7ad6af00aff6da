#include "HostData.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "Kel_Reg.h"
#include "SysUtils.h"
#include "VeskRutins.h"

void ReadPresetNames(const std::string &hostDataFile, TStringList &names) {
    IniReadSections(hostDataFile, names);
}

THostPreset ReadHostPreset(const std::string &hostDataFile, const std::string &name) {
    TMemIniFile ini(hostDataFile);
    THostPreset p;
    p.Host = ini.ReadString(name, "Host", "");
    p.Port = ini.ReadString(name, "Port", "110");
    p.SSL = StrToBoolean(ini.ReadString(name, "SSL", "False"));
    p.Connection = ini.ReadString(name, "Connection", "POP3");
    return p;
}

bool HostIsWeb(const std::string &hostDataFile, const std::string &host) {
    return StrToBoolean(IniReadString(hostDataFile, host, "Web", "False"));
}

THostScript ReadHostScript(const std::string &hostDataFile, const std::string &host) {
    TMemIniFile ini(hostDataFile);
    auto s = [&](const char *key, const char *def = "") { return ini.ReadString(host, key, def); };
    auto n = [&](const char *key, const char *def) { return StrToInt(s(key, def)); };
    auto b = [&](const char *key) { return StrToBoolean(s(key, "False")); };
    THostScript h;
    h.AHost = s("AHost");
    h.Cookie = s("Cookie");
    h.NameName = s("NameName");
    h.PassName = s("PassName");
    h.ButtName = s("ButtName");
    h.ButtRND = n("ButtRND", "1");
    h.ClickIn1 = b("ClickIn1");
    h.ClickLink1 = s("ClickLink1");
    h.R1 = n("R1", "1");
    h.ClickIn2 = b("ClickIn2");
    h.ClickLink2 = s("ClickLink2");
    h.R2 = n("R2", "1");
    h.ClickOut = s("ClickOut");
    h.ImageLink = b("ImageLink");
    h.NewMail = s("NewMail");
    h.DelRealN = s("DelRealN");
    h.DelLn = n("DelLn", "0");
    h.MsReadLn = n("MsReadLn", "0");
    h.Id = {n("L1", "0"), s("1"), s("2"), s("11"), s("22")};
    h.GetTime = b("GetTime");
    h.Time = {n("L3", "0"), s("3"), s("4"), s("33"), s("44")};
    h.Sender = {n("L5", "0"), s("5"), s("6"), s("55"), s("66")};
    h.Subject = {n("L7", "0"), s("7"), s("8"), s("77"), s("88")};
    h.Body = s("Body");
    h.BodyLn = n("BodyLn", "1");
    h.BodyEnd = s("BodyEnd");
    h.DelCBName = s("DelCBName");
    h.DelBtnName = s("DelBtnName");
    h.DelLink = s("DelLink");
    return h;
}

bool HostHasScript(const THostScript &script) { return !script.AHost.empty(); }

std::string ExtractHostField(const std::string &line, const std::string &start, const std::string &end) {
    std::string out = line;
    int p = Pos(start, out);
    if (p > 0) Delete(out, 1, p - 1 + int(start.size()));
    int e = Pos(end, out);
    if (e > 0) Delete(out, e, int(out.size()));
    return out;
}

std::vector<int> FindTokenLines(const std::vector<std::string> &lines, const std::string &token) {
    std::vector<int> out;
    if (token.empty()) return out;
    for (size_t i = 0; i < lines.size(); ++i)
        if (Contains(lines[i], token)) out.push_back(int(i));
    return out;
}

int HostFieldLine(const THostScript &script, int tokenLine, int fieldLine, bool allMessages) {
    // Offsets come from the data file: any value is possible, so the sum is
    // formed wide and clamped; a line outside the page is the caller's test.
    int64_t line = int64_t(tokenLine) + fieldLine;
    if (allMessages) line += int64_t(script.DelLn) - script.Id.Line;
    return int(std::clamp<int64_t>(line, INT_MIN, INT_MAX));
}
