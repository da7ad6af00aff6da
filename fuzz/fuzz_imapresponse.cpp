// Server bytes through the IMAP4 response parsers and through a whole
// client session. The input is the server's side of a conversation: chunks
// separated by a line "~~~", the first sent at once (the greeting) and each
// next one when the client has written a command line.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "NetIMAP4.h"
#include "NetIOHandlerStream.h"
#include "NetMessage.h"
#include "NetReplyIMAP4.h"

namespace {

// What the server has "sent" so far.
class TGatedStream : public TStream {
public:
    std::vector<std::string> Chunks;
    size_t Next = 0;
    std::string Data;
    int64_t Pos = 0;
    void Release() {
        if (Next < Chunks.size()) Data += Chunks[Next++];
    }
    int64_t Read(void *buffer, int64_t count) override {
        int64_t n = std::min<int64_t>(count, int64_t(Data.size()) - Pos);
        if (n <= 0) return 0;
        memcpy(buffer, Data.data() + Pos, size_t(n));
        Pos += n;
        return n;
    }
    int64_t Write(const void *, int64_t count) override { return count; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        if (origin == TSeekOrigin::soBeginning) Pos = offset;
        else if (origin == TSeekOrigin::soCurrent) Pos += offset;
        else Pos = int64_t(Data.size()) + offset;
        return Pos;
    }
    int64_t Size() override { return int64_t(Data.size()); }
};

// The client's side: every finished command line lets the server answer.
class TAnswerStream : public TStream {
public:
    explicit TAnswerStream(TGatedStream &in) : FIn(in) {}
    int64_t Read(void *, int64_t) override { return 0; }
    int64_t Write(const void *buffer, int64_t count) override {
        const char *p = static_cast<const char *>(buffer);
        for (int64_t i = 0; i < count; ++i)
            if (p[i] == '\n') FIn.Release();
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }

private:
    TGatedStream &FIn;
};

void Parsers(const std::string &input) {
    TStringList lines;
    size_t i = 0;
    while (i < input.size() && lines.Count() < 200) {
        size_t j = input.find('\n', i);
        if (j == std::string::npos) j = input.size();
        std::string l = input.substr(i, j - i);
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.Add(l);
        i = j + 1;
    }
    TNetReplyIMAP4 reply;
    try {
        reply.SetFormattedReply(lines);
        reply.SortByExpected({"FLAGS", "OK", "EXISTS", "RECENT"});
    } catch (const Exception &) {
    }
    auto box = NetCreateNoOwner<TNetMailBox>();
    try {
        ParseSelectResponse(*box, lines, [](const std::string &) {});
    } catch (const Exception &) {
    }
    ParseExpungeResponse(*box, lines);
    for (const std::string &l : lines) {
        TNetIMAPLineStruct rec;
        try {
            if (rec.ParseFetchLine(l, "RFC822.HEADER") && !rec.Complete) rec.ParseClosingLine(l);
        } catch (const ENetReplyIMAP4Error &) {
        }
        try {
            TrailingLiteralSize(l);
        } catch (const ENetReplyIMAP4Error &) {
        }
        TStringList words;
        ParseParenthesisedList(l, words);
        StrToMessageFlags(l);
        if (TNetMUTF7::Valid(l)) TNetMUTF7::Decode(l);
        // Whatever the name, its encoding is valid modified UTF-7.
        if (!TNetMUTF7::Valid(TNetMUTF7::Encode(l))) abort();
    }
}

void Session(const std::string &input) {
    TGatedStream in;
    size_t i = 0;
    const std::string sep = "~~~\n";
    while (true) {
        size_t j = input.find(sep, i);
        if (j == std::string::npos) {
            in.Chunks.push_back(input.substr(i));
            break;
        }
        in.Chunks.push_back(input.substr(i, j - i));
        i = j + sep.size();
    }
    in.Release();
    TAnswerStream out(in);

    auto client = NetCreateNoOwner<TNetIMAP4>();
    auto *io = NetCreate<TNetIOHandlerStream>(client.get(), &in, &out);
    io->FreeStreams = false;
    io->MaxLineLength = 4096;
    client->SetIOHandler(io);
    client->SetHost("fuzz.invalid");
    client->Username = "user";
    client->Password = "pässword";
    client->MaxHeaderSize = 1 << 18;
    client->MaxMessageSize = 1 << 20;
    client->MaxOtherLiteralSize = 1 << 16;
    client->MaxResponseLines = 5000;
    auto msg = NetCreateNoOwner<TNetMessage>();
    auto attempt = [&](auto &&f) {
        try {
            f();
        } catch (const Exception &) {
        }
    };
    attempt([&] { client->Connect(true); });
    attempt([&] { client->SelectMailBox("INBOX"); });
    attempt([&] {
        int last = 0;
        client->RetrieveHeadersRange(
            1, 5,
            [&](const TNetIMAP4::TRangeItem &it, TNetMessage &m) {
                // Each number once, in order, within the range.
                if (it.Number <= last || it.Number > 5) abort();
                last = it.Number;
                m.MessageId();
                return true;
            },
            true);
    });
    attempt([&] { client->DeleteMessagesByUID({"7", "9"}); });
    attempt([&] { client->NumberOfUID("7"); });
    attempt([&] { client->RetrieveHeaders(1, *msg); });
    attempt([&] { client->GetMessageFlags(1); });
    attempt([&] { client->GetMessageSize(2); });
    attempt([&] { client->RetrieveMessage(1, *msg); });
    attempt([&] { client->DeleteMessage({1}); });
    attempt([&] { client->ExpungeMailBox(); });
    attempt([&] { client->Disconnect(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 20) return 0;
    std::string input(reinterpret_cast<const char *>(data), size);
    Parsers(input);
    Session(input);
    return 0;
}
