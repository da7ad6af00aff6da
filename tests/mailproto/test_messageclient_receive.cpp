// The message client reading server answers into messages: where header
// blocks end, dot transparency, over-long lines, the caps on what a server
// can make us read, and that after any failure inside an answer the next
// command still gets its own reply (or the connection is closed).

#include "NetPOP3.h"
#include "ScriptedPeer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

const auto Talk = ScriptedPeer::Talk;

class MessageClientReceive : public ::testing::Test {
protected:
    void SetUp() override {
        Pop.reset(NetCreate<TNetPOP3>(nullptr));
        Pop->SetHost("127.0.0.1");
        Pop->AutoLogin = false;
        Pop->SetConnectTimeout(5000);
        Pop->SetReadTimeout(3000);
        Msg = NetCreateNoOwner<TNetMessage>();
    }
    // Greeting and a refused CAPA, then the steps.
    void Start(std::vector<std::string> steps) {
        auto head = Talk({"+OK ready", "<", "-ERR"});
        steps.insert(steps.begin(), head.begin(), head.end());
        Peer = std::make_unique<ScriptedPeer>(steps);
        Pop->SetPort(Peer->Port());
        Pop->Connect();
    }
    std::unique_ptr<TNetPOP3> Pop;
    std::unique_ptr<TNetMessage> Msg;
    std::unique_ptr<ScriptedPeer> Peer;
};

TEST_F(MessageClientReceive, HeaderBlocksEndWhereTheAnswerSays) {
    Start(Talk({"<", "+OK", "Subject: first", "From: A <a@example.org>", "", ".",  // TOP
                "<", "+OK", "Subject: second", "X-Folded: one", "\ttwo", ".",    // TOP, no empty line
                // A server that ignores "TOP n 0": its body never becomes header.
                "<", "+OK", "Subject: third", "", "Subject: forged", "From: forged@example.org", "",
                "more body", ".",
                "<", "+OK 3 300", "!wait_close"}));
    ASSERT_TRUE(Pop->RetrieveHeaders(1, *Msg));
    EXPECT_EQ(Msg->Headers, TStringList({"Subject: first", "From: A <a@example.org>"}));
    EXPECT_EQ(Msg->Subject, "first");
    EXPECT_EQ(Msg->From().Address, "a@example.org");

    ASSERT_TRUE(Pop->RetrieveHeaders(2, *Msg));
    EXPECT_EQ(Msg->Subject, "second");
    // Unfolding removes the line break only: the tab stays.
    EXPECT_EQ(Msg->Headers.GetValue("X-Folded"), "one\ttwo");

    ASSERT_TRUE(Pop->RetrieveHeaders(3, *Msg));
    EXPECT_EQ(Msg->Headers, TStringList({"Subject: third"}));
    EXPECT_EQ(Msg->From().Address, "");
    EXPECT_EQ(Pop->GetMessageCount(), 3);
}

// A header block that runs into its body without the empty line: the first
// line that is no field starts the body, whole (RETR) or skipped (TOP); a
// message without a header is all body. The next command gets its own reply.
TEST_F(MessageClientReceive, HeaderBlockWithoutItsEmptyLineEndsAtTheBody) {
    Start(Talk({"<", "+OK", "From: a@example.org", "Subject: run on", "\tfolded", "counter to RFC 2822: no empty line",
                "..dotted", "", "last", ".",                                                          // RETR
                "<", "+OK", "Subject: run on", "counter to RFC 2822: no empty line", "Bcc: body@example.org", ".",  // TOP
                "<", "+OK", "Hello there,", " indented", "Subject: body too", ".",                    // RETR
                "<", "+OK 3 300", "!wait_close"}));
    ASSERT_TRUE(Pop->RetrieveMessage(1, *Msg));
    EXPECT_EQ(Msg->Headers, TStringList({"From: a@example.org", "Subject: run on", "\tfolded"}));
    EXPECT_EQ(Msg->Subject, "run on folded");
    EXPECT_EQ(Msg->Body, TStringList({"counter to RFC 2822: no empty line", ".dotted", "", "last"}));

    ASSERT_TRUE(Pop->RetrieveHeaders(2, *Msg));
    EXPECT_EQ(Msg->Headers, TStringList({"Subject: run on"}));
    EXPECT_EQ(Msg->BccList.Count(), 0);

    ASSERT_TRUE(Pop->RetrieveMessage(3, *Msg));
    EXPECT_EQ(Msg->Headers.Count(), 0);
    EXPECT_EQ(Msg->Subject, "");
    EXPECT_EQ(Msg->Body, TStringList({"Hello there,", " indented", "Subject: body too"}));
    EXPECT_EQ(Pop->GetMessageCount(), 3);
}

TEST_F(MessageClientReceive, DotStuffingAndLongLines) {
    const std::string longBody(100000, 'b');
    const std::string longRef = "References: " + std::string(40000, 'r');
    // Arguments of the peer's script are limited in size: long lines go
    // out as repeated bytes.
    Start(Talk({"<", "+OK", "Subject: dots", longRef, "", "..leading dot", "...", "plain", ".", "<", "+OK",
                "Subject: long", "", "!sendrep:100000:62", "", "after", ".", "<", "+OK 2 2", "!wait_close"}));
    ASSERT_TRUE(Pop->RetrieveMessage(1, *Msg));
    EXPECT_EQ(Msg->Headers.GetValue("References").size(), 40000u);
    EXPECT_EQ(Msg->Body, TStringList({".leading dot", "..", "plain"}));

    ASSERT_TRUE(Pop->RetrieveMessage(2, *Msg));
    ASSERT_EQ(Msg->Body.Count(), 2);
    EXPECT_EQ(Msg->Body[0], longBody);
    EXPECT_EQ(Msg->Body[1], "after");
    EXPECT_EQ(Pop->GetMessageCount(), 2);
}

TEST_F(MessageClientReceive, OversizedAnswersAreRefusedAndSkipped) {
    const std::string line50 = std::string(98, '6') + "0d0a";  // "fff...f" and CR LF: 50 bytes
    // "X-Fill: ff...f" and CR LF, 50 bytes: a header field (a line that is
    // none would end the header block).
    const std::string field50 = "582d46696c6c3a20" + std::string(80, '6') + "0d0a";
    Pop->MaxMessageSize = 100000;
    Pop->MaxHeaderSize = 4096;
    Start(Talk({"<", "+OK", "Subject: big", "", "!sendrep:3000:" + line50, ".",  // 150 KB
                "<", "+OK 1 150000",                                             // next command in step
                "<", "+OK", "!sendrep:200:" + field50, "", ".",                  // a 10 KB header
                "<", "+OK 1 150000", "!wait_close"}));
    EXPECT_EQ(Thrown<ENetMessageTooLarge>([&] { Pop->RetrieveMessage(1, *Msg); }), "Message larger than 100000 bytes.");
    EXPECT_EQ(Pop->GetMessageCount(), 1);
    EXPECT_THROW(Pop->RetrieveHeaders(1, *Msg), ENetMessageTooLarge);
    EXPECT_EQ(Pop->GetMessageCount(), 1);

    // An answer too large even to skip closes the connection.
    Pop->Disconnect(false);
    Pop->MaxMessageSize = 50000;
    Start(Talk({"<", "+OK", "Subject: endless", "", "!sendrep:4000:" + line50, "!wait_close"}));  // 200 KB, no end
    EXPECT_THROW(Pop->RetrieveMessage(1, *Msg), ENetMessageTooLarge);
    EXPECT_FALSE(Pop->Connected());
}

TEST_F(MessageClientReceive, ShortLinesCountByWhatTheyCostToKeep) {
    // 30 KB of one-letter lines are 10000 lines to keep: far more memory
    // than 30 KB, so they count against the cap as such.
    Pop->MaxMessageSize = 100000;
    Msg->NoDecode = true;
    Start(Talk({"<", "+OK", "Subject: fine", "", "!sendrep:1000:780d0a", ".",
                "<", "+OK", "Subject: short", "", "!sendrep:10000:780d0a", ".", "!wait_close"}));
    ASSERT_TRUE(Pop->RetrieveMessage(1, *Msg));
    EXPECT_EQ(Msg->Body.Count(), 1000);
    EXPECT_THROW(Pop->RetrieveMessage(2, *Msg), ENetMessageTooLarge);
}

TEST_F(MessageClientReceive, DecoderFailureSkipsTheRestOfTheAnswer) {
    Start(Talk({"<", "+OK", "Subject: uue", "", "text before", "begin 644 evil.bin", "~~~~ not uue", "more",
                "end", ".",
                "<", "+OK", "Subject: uue without end", "", "begin 644 a.txt", "#86)C", ".",
                "<", "+OK 2 20", "!wait_close"}));
    EXPECT_EQ(Thrown<ENetException>([&] { Pop->RetrieveMessage(1, *Msg); }), "Unrecognized UUE encoding scheme.");
    EXPECT_TRUE(Pop->Connected());

    // A UUE part that never says "end" stops at the end of the answer.
    ASSERT_TRUE(Pop->RetrieveMessage(2, *Msg));
    ASSERT_EQ(Msg->Parts.Count(), 1);
    auto *att = dynamic_cast<TNetAttachment *>(&Msg->Parts[0]);
    ASSERT_NE(att, nullptr);
    EXPECT_EQ(att->FileName, "a.txt");
    auto in = att->OpenLoadStream();
    std::string data(size_t(in->Size()), '\0');
    in->ReadBuffer(data.data(), int64_t(data.size()));
    EXPECT_EQ(data, "abc");
    EXPECT_EQ(Pop->GetMessageCount(), 2);
}

TEST_F(MessageClientReceive, RawBodyWithNoDecode) {
    Start(Talk({"<", "+OK", "Subject: raw", "MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"xx\"", "",
                "--xx", "Content-Transfer-Encoding: base64", "", "aGVsbG8=", "--xx--", ".", "!wait_close"}));
    Msg->NoDecode = true;
    ASSERT_TRUE(Pop->RetrieveMessage(1, *Msg));
    EXPECT_EQ(Msg->Parts.Count(), 0);
    EXPECT_EQ(Msg->Body, TStringList({"--xx", "Content-Transfer-Encoding: base64", "", "aGVsbG8=", "--xx--"}));
}

TEST_F(MessageClientReceive, ConnectionLostInsideAnAnswerClosesTheClient) {
    Start(Talk({"<", "+OK", "Subject: cut", "", "line one", "!close"}));
    EXPECT_THROW(Pop->RetrieveMessage(1, *Msg), ENetConnClosedGracefully);
    EXPECT_FALSE(Pop->Connected());
    EXPECT_EQ(Msg->Subject, "cut");  // what was read stays

    Pop->SetReadTimeout(300);
    Start(Talk({"<", "+OK", "Subject: stalled", "", "line one", "!sleep:2000"}));
    EXPECT_THROW(Pop->RetrieveMessage(1, *Msg), ENetReadTimeout);
    EXPECT_FALSE(Pop->Connected());

    Start(Talk({"<", "+OK", "Subject: header cut", "!close"}));
    EXPECT_THROW(Pop->RetrieveHeaders(1, *Msg), ENetConnClosedGracefully);
    EXPECT_FALSE(Pop->Connected());
}

// Stored messages through the client's stream handler.
class TStreamClient : public TNetMessageClient {
protected:
    using TNetMessageClient::TNetMessageClient;
};

TEST(MessageClientStream, StoredMessagesLoadWhateverTheirLastLineEnd) {
    auto client = NetCreateNoOwner<TStreamClient>();
    for (const std::string &end : {std::string("\r\n"), std::string("\n"), std::string("\r"), std::string()}) {
        SCOPED_TRACE(testing::PrintToString(end));
        auto msg = NetCreateNoOwner<TNetMessage>();
        TStringStream s("Subject: stored\r\nFrom: x@example.org\r\n\r\n..dotted\r\nlast line" + end);
        client->ReadMessageFromStream(*msg, s, false);
        EXPECT_EQ(msg->Subject, "stored");
        EXPECT_EQ(msg->Body, TStringList({".dotted", "last line"}));
    }
    // Without the empty line the body starts at the first line that is no
    // field, and stays unread with headersOnly.
    for (bool headersOnly : {false, true}) {
        auto msg = NetCreateNoOwner<TNetMessage>();
        TStringStream s("Subject: run on\r\nno empty line\r\nTo: body@example.org\r\n");
        client->ReadMessageFromStream(*msg, s, headersOnly);
        EXPECT_EQ(msg->Subject, "run on");
        EXPECT_EQ(msg->Recipients.Count(), 0);
        EXPECT_EQ(msg->Body, headersOnly ? TStringList() : TStringList({"no empty line", "To: body@example.org"}));
    }
    // Header only: the stream ends with the header block.
    auto msg = NetCreateNoOwner<TNetMessage>();
    TStringStream s("Subject: only header\r\nTo: y@example.org");
    client->ReadMessageFromStream(*msg, s, false);
    EXPECT_EQ(msg->Subject, "only header");
    EXPECT_EQ(msg->Recipients.Count(), 1);
    EXPECT_EQ(msg->Body.Count(), 0);
    // headersOnly leaves the body unread.
    TStringStream s2("Subject: h\r\n\r\nbody\r\n");
    msg->Clear();
    client->ReadMessageFromStream(*msg, s2, true);
    EXPECT_EQ(msg->Subject, "h");
    EXPECT_EQ(msg->Body.Count(), 0);
    EXPECT_EQ(client->IOHandler(), nullptr);
}

// What the send side writes reads back through the receive side.
TEST(MessageClientStream, SentMessageReadsBack) {
    for (bool noEncode : {false, true}) {
        SCOPED_TRACE(noEncode);
        auto client = NetCreateNoOwner<TStreamClient>();
        auto *sink = new TMemoryStream();
        auto *io = NetCreate<TNetIOHandlerStream>(client.get(), nullptr, sink);
        client->SetIOHandler(io);
        io->Open();
        auto msg = NetCreateNoOwner<TNetMessage>();
        if (noEncode) {
            msg->NoEncode = true;
            msg->Headers.Add("Subject: raw");
            msg->Headers.Add("From: r@example.org");
        } else {
            msg->Subject = "Grüße";
            msg->From().Address = "s@example.org";
        }
        msg->Body.Add("one");
        msg->Body.Add(".two");
        msg->Body.Add(".");
        client->SendMsg(*msg);
        std::string wire = sink->DataString();
        // Every line that began with "." went out with one more.
        EXPECT_NE(wire.find("\r\n..two\r\n..\r\n"), std::string::npos) << wire;

        auto back = NetCreateNoOwner<TNetMessage>();
        TStringStream in(wire + ".\r\n");
        auto reader = NetCreateNoOwner<TStreamClient>();
        reader->ReadMessageFromStream(*back, in, false);
        EXPECT_EQ(back->Subject, noEncode ? "raw" : "Grüße");
        EXPECT_EQ(back->Body, msg->Body);
    }
}

}  // namespace
