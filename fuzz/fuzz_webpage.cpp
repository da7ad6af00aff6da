// A web-mail page and the tokens of its host script come from the site and
// the data file: the page-text rules read both unchecked.
//
// Input: the first line holds the script's tokens separated by "|" (NewMail,
// DelRealN, the start and end tokens of the four fields, Body, BodyEnd),
// the next four bytes its line offsets; the rest is the page.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/HostData.h"
#include "NetMessage.h"
#include "SysUtils.h"
#include "webmail/WebPageText.h"

namespace {

std::vector<std::string> Tokens(const std::string &line) {
    std::vector<std::string> t;
    size_t start = 0;
    for (;;) {
        size_t bar = line.find('|', start);
        t.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    t.resize(12);
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string in(reinterpret_cast<const char *>(data), size);
    size_t nl = in.find('\n');
    if (nl == std::string::npos || in.size() < nl + 5) return 0;
    std::vector<std::string> t = Tokens(in.substr(0, nl));
    const auto offset = [&](size_t i) { return int(int8_t(in[nl + 1 + i])); };
    THostScript s;
    s.NewMail = t[0];
    s.DelRealN = t[1];
    s.Id = {offset(0), t[2], t[3], t[2], t[3]};
    s.Time = {offset(1), t[4], t[5], t[4], t[5]};
    s.Sender = {offset(2), t[6], t[7], t[6], t[7]};
    s.Subject = {offset(3), t[8], t[9], t[8], t[9]};
    s.DelLn = offset(0) + offset(3);
    s.MsReadLn = offset(1);
    s.GetTime = true;
    s.Body = t[10];
    s.BodyEnd = t[11];
    s.BodyLn = offset(2);

    const std::vector<std::string> lines = SplitPageLines(in.substr(nl + 5));
    auto m = NetCreateNoOwner<TNetMessage>();
    for (bool all : {false, true}) {
        int count = CountWebMessages(lines, all ? s.DelRealN : s.NewMail);
        for (int k = 1; k <= count && k <= 20; ++k) {
            TWebListEntry e = ReadWebListEntry(lines, s, k, all);
            if (!e.Found) __builtin_trap();
            ApplyWebListEntry(e, s, *m, EncodeDate(2024, 5, 6));
            // What the program shows of a field is never longer than the field.
            if (DecodeWebText(e.Subject).size() > e.Subject.size()) __builtin_trap();
            if (all) {
                // Every place holds the identifier, k among them; a delete is
                // allowed only where k is its one place.
                const std::vector<int> places = LocateWebMessages(lines, s, m->MessageId());
                if (std::find(places.begin(), places.end(), k) == places.end()) __builtin_trap();
                if (!std::is_sorted(places.begin(), places.end())) __builtin_trap();
                if (LocateWebMessage(lines, s, m->MessageId()) != places.back()) __builtin_trap();
                const bool refused = !WebDeleteRefusal(lines, s, m->MessageId()).empty();
                if (!refused && (places.size() != 1 || Trim(e.Id).empty())) __builtin_trap();
                if (refused && places.size() == 1 && !Trim(e.Id).empty()) __builtin_trap();
            }
        }
        if (ReadWebListEntry(lines, s, count + 1, all).Found) __builtin_trap();
    }
    TStringList body;
    if (ReadWebBody(lines, s, body) && s.Body.empty()) __builtin_trap();
    if (body.Count() > int(lines.size())) __builtin_trap();
    return 0;
}
