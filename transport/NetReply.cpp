#include "NetReply.h"

#include <algorithm>

TNetReply *TNetReplies::Find(const std::string &code) const {
    for (TNetReply *r : Items)
        if (r->Code() == code) return r;
    return nullptr;
}

TNetReply::TNetReply(TNetReplies *collection, TNetReplies *replyTexts)
    : FCollection(collection), FReplyTexts(replyTexts) {
    if (FCollection) FCollection->Items.push_back(this);
}

TNetReply::~TNetReply() {
    if (FCollection) {
        auto &v = FCollection->Items;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
}

void TNetReply::SetCode(const std::string &value) {
    if (value == FCode) return;
    if (!CheckIfCodeIsValid(value)) ENetException::Toss(Format("Reply Code is not valid: %s", value.c_str()));
    if (FCollection) {
        TNetReply *other = FCollection->Find(value);
        if (other && other != this) ENetException::Toss("Reply already exists for " + value);
    }
    Clear();
    FCode = value;
}

int TNetReply::NumericCode() const { return StrToIntDef(FCode, 0); }

void TNetReply::SetNumericCode(int value) { SetCode(IntToStr(value)); }

bool TNetReply::CheckIfCodeIsValid(const std::string &) { return true; }

TStringList TNetReply::GetFormattedReply() { return TStringList(); }

void TNetReply::Clear() {
    Text.Clear();
    FCode.clear();
}

bool TNetReply::IsLastLine(const std::string &) { return false; }

bool TNetReply::ReplyExists() { return !FCode.empty(); }

void TNetReply::SetReply(int code, const std::string &text) {
    SetNumericCode(code);
    Text.SetText(text);
}

void TNetReply::SetReply(const std::string &code, const std::string &text) {
    SetCode(code);
    Text.SetText(text);
}

void TNetReply::AssignTo(TNetReply &dest) const {
    dest.SetCode(FCode);
    dest.Text.Assign(Text);
}

std::string TNetReply::DisplayName() const {
    std::string s = FCode;
    if (Text.Count() > 0) s += " " + Text[0];
    return s;
}

std::string TNetReply::TextJoined() const {
    std::string s;
    for (int i = 0; i < Text.Count(); ++i) {
        if (i) s += "\r\n";
        s += Text[i];
    }
    return s;
}

// ---------------------------------------------------------------------------
bool TNetReplyRFC::CheckIfCodeIsValid(const std::string &code) {
    if (Trim(code).empty()) return true;
    int v;
    return TryStrToInt(code, v) && v >= 100 && v <= 999;
}

TStringList TNetReplyRFC::GetFormattedReply() {
    TStringList out;
    int code = NumericCode();
    if (code > 0) {
        std::string c = IntToStr(code);
        if (Text.Count() == 0) {
            out.Add(c);
        } else {
            for (int i = 0; i < Text.Count(); ++i)
                out.Add(c + (i < Text.Count() - 1 ? "-" : " ") + Text[i]);
        }
    } else {
        out.Assign(Text);
    }
    return out;
}

void TNetReplyRFC::SetFormattedReply(const TStringList &lines) {
    Clear();
    if (lines.Count() == 0) return;
    SetCode(Trim(Copy(lines[0], 1, 3)));
    for (const std::string &l : lines) Text.Add(Copy(l, 5));
}

bool TNetReplyRFC::IsLastLine(const std::string &line) { return line.size() < 4 || line[3] == ' '; }

void TNetReplyRFC::RaiseReplyError() { throw ENetReplyRFCError(NumericCode(), TextJoined()); }

bool TNetReplyRFC::ReplyExists() { return NumericCode() > 0 || Text.Count() > 0; }

void TNetReplyRFC::AssignTo(TNetReply &dest) const {
    // A reply without a code copies as one without a code; "0" is no valid
    // code and would make copying an empty reply fail.
    int code = NumericCode();
    if (code > 0)
        dest.SetNumericCode(code);
    else
        dest.SetCode(std::string());
    dest.Text.Assign(Text);
}
