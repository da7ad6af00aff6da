#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

#include "NetGlobalProtocols.h"
#include "NetIOHandlerStream.h"
#include "NetCoder.h"
#include "NetMessage.h"
#include "PythonPeer.h"
#include "TestSupport.h"

namespace {

std::unique_ptr<TNetMessage> Parse(const std::string &raw, bool dotTerminated = false) {
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetStringMessageSource src(raw, dotTerminated);
    if (m->ReceiveHeader(src)) m->ReceiveBody(src);
    return m;
}

std::unique_ptr<TNetMessage> Headers(const std::string &block) {
    auto m = NetCreateNoOwner<TNetMessage>();
    m->Headers.SetText(block);
    m->ParseHeaders();
    return m;
}

std::string Saved(TNetMessage &m, bool headersOnly = false, bool toFile = true) {
    TMemoryStream s;
    m.SavingToFile = toFile;
    m.SaveToStream(s, headersOnly);
    m.SavingToFile = false;
    return s.DataString();
}

// Keeps every temporary file of a test inside its own folder.
struct TempFolderScope {
    TempDir dir;
    TempFolderScope() { SetNetTempFolder(dir.File("tmp")); }
    ~TempFolderScope() { SetNetTempFolder(""); }
};

}  // namespace

TEST(MessageHeaders, DefaultsAndContentType) {
    auto m = Headers("Subject: x\r\nFrom: a@b.c");
    EXPECT_EQ(m->ContentType, "text/plain");
    EXPECT_EQ(m->CharSet, "");
    EXPECT_EQ(m->Encoding(), mePlainText);
    m = Headers("MIME-Version: 1.0\r\nContent-Type: Text/Plain; charset=koi8-r; format=flowed");
    EXPECT_EQ(m->ContentType, "Text/Plain");
    EXPECT_EQ(m->CharSet, "KOI8-R");
    EXPECT_EQ(m->Encoding(), meMIME);
}

TEST(MessageHeaders, Boundaries) {
    auto m = Headers("Content-Type: multipart/mixed; boundary=\"a;b c\"");
    EXPECT_EQ(m->BoundaryStack.Boundary(), "a;b c");
    m = Headers("Content-Type: multipart/mixed; boundary=abc; charset=x");
    EXPECT_EQ(m->BoundaryStack.Boundary(), "abc");
    m = Headers("Content-Type: multipart/mixed;\r\n boundary=xyz");
    EXPECT_EQ(m->BoundaryStack.Boundary(), "xyz");
    EXPECT_EQ(m->BoundaryStack.ParentPart(), -1);
}

TEST(MessageHeaders, Priorities) {
    EXPECT_EQ(Headers("X-Priority: 1 (Highest)")->Priority, mpHighest);
    EXPECT_EQ(Headers("X-Priority: 5")->Priority, mpLowest);
    EXPECT_EQ(Headers("Priority: urgent")->Priority, mpHigh);
    EXPECT_EQ(Headers("Priority: non-urgent")->Priority, mpLow);
    EXPECT_EQ(Headers("X-Priority: 9")->Priority, mpNormal);
    EXPECT_EQ(Headers("X-Priority: -3")->Priority, mpNormal);
    EXPECT_EQ(Headers("Subject: none")->Priority, mpNormal);
}

TEST(MessageHeaders, OneHostileHeaderNeverBlindsTheRest) {
    auto m = Headers(
        "From: <a@b.c> stray@d.e\r\n"
        "To: ok@x.org\r\n"
        "Subject: =?ISO-8859-1?Q?bad=ZZ_escape=?= \x01tab\ttext\r\n"
        "Date: Tue, 32 Dec 2004 25:61:00 +0200\r\n"
        "X-Priority: 77\r\n"
        "Sender: <s@t.u> more@v.w\r\n"
        "Message-ID: abc@host");
    EXPECT_EQ(m->FromList.Count(), 0);
    ASSERT_EQ(m->Recipients.Count(), 1);
    EXPECT_EQ(m->Recipients[0].Address, "ok@x.org");
    EXPECT_EQ(m->Subject, "bad=ZZ escape=  tab text");
    EXPECT_EQ(m->Date, 0.0);
    EXPECT_EQ(m->Priority, mpNormal);
    EXPECT_EQ(m->MessageId(), "<abc@host>");
    EXPECT_EQ(m->Sender.Address, "");
    EXPECT_EQ(m->ParseErrors.Count(), 2);  // From and Sender
}

TEST(MessageHeaders, WordsDecodeInOrderWhateverTheirSet) {
    auto m = Headers("Subject: =?KOI8-R?B?8NLJ18XU?= / =?ISO-8859-1?Q?caf=E9?= / =?UTF-8?B?w6k=?=\r\n"
                     "From: =?ISO-8859-1?Q?J=FCrgen_M=FCller?= <jm@x.de>");
    EXPECT_EQ(m->Subject, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 / caf\xC3\xA9 / \xC3\xA9");
    ASSERT_EQ(m->FromList.Count(), 1);
    EXPECT_EQ(m->From().Name, "J\xC3\xBCrgen M\xC3\xBCller");
    EXPECT_EQ(m->From().Text(), "\"J\xC3\xBCrgen M\xC3\xBCller\" <jm@x.de>");
}

TEST(MessageProperties, Basics) {
    auto m = NetCreateNoOwner<TNetMessage>();
    EXPECT_EQ(m->From().Text(), "");
    EXPECT_EQ(m->FromList.Count(), 1);
    m->SetMessageId("id@host");
    EXPECT_EQ(m->MessageId(), "<id@host>");
    m->SetMessageId("<id@host>");
    EXPECT_EQ(m->MessageId(), "<id@host>");
    EXPECT_TRUE(m->UseNowForDate());
    m->SetUseNowForDate(false);
    EXPECT_GT(m->Date, 0);
    m->SetUseNowForDate(true);
    EXPECT_EQ(m->Date, 0);
    m->SetEncoding(meMIME);
    EXPECT_EQ(m->AttachmentEncoding(), "MIME");
    m->SetEncoding(mePlainText);
    EXPECT_EQ(m->AttachmentEncoding(), "UUE");
    EXPECT_THROW(m->SetAttachmentEncoding("NOPE"), ENetException);
}

TEST(MessageBuild, HeadersForSavingAndSending) {
    TempFolderScope tmp;
    auto m = NetCreateNoOwner<TNetMessage>();
    m->From().Address = "me@x.org";
    m->Recipients.Add().Address = "you@y.org";
    m->BccList.Add().Address = "hidden@z.org";
    m->Subject = "Hello";
    m->Headers.Add("Message-ID: <own@x.org>");
    m->BuildHeaders();
    EXPECT_EQ(m->LastGeneratedHeaders().IndexOfName("Bcc"), -1);
    EXPECT_EQ(m->LastGeneratedHeaders().IndexOfName("In-Reply-To"), -1);  // never our own identifier
    std::string saved = Saved(*m);
    EXPECT_NE(saved.find("Bcc: hidden@z.org\r\n"), std::string::npos);
    EXPECT_EQ(saved.substr(saved.size() - 3), ".\r\n");
    std::string headersOnly = Saved(*m, true);
    EXPECT_NE(headersOnly.substr(headersOnly.size() - 3), ".\r\n");
    m->SetInReplyTo("orig@y.org");
    m->BuildHeaders();
    EXPECT_EQ(m->LastGeneratedHeaders().GetValue("In-Reply-To"), "<orig@y.org>");
    m->Priority = mpHighest;
    m->BuildHeaders();
    EXPECT_EQ(m->LastGeneratedHeaders().GetValue("X-Priority"), "1");
}

TEST(MessageBuild, TwoTextPartsAreAlternative) {
    TempFolderScope tmp;
    auto m = NetCreateNoOwner<TNetMessage>();
    m->Parts.Add(std::make_unique<TNetText>(m.get())).Body.Add("one");
    m->Parts.Add(std::make_unique<TNetText>(m.get())).Body.Add("two");
    m->BuildHeaders();
    EXPECT_EQ(m->ContentType, "multipart/alternative");
    EXPECT_EQ(m->Encoding(), meMIME);
    std::string s = Saved(*m);
    EXPECT_NE(s.find("\r\nThis is a multi-part message in MIME format\r\n"), std::string::npos);
    auto back = Parse(s, true);
    ASSERT_EQ(back->Parts.Count(), 2);
    EXPECT_EQ(dynamic_cast<TNetText &>(back->Parts[1]).Body[0], "two");
    // An attachment's header lines keep their exact form.
    std::string path = tmp.dir.File("doc.txt");
    WriteTestFile(path, "attached");
    auto &att = m->Parts.Add(std::make_unique<TNetAttachmentFile>(m.get(), path));
    EXPECT_EQ(att.FileName, "doc.txt");
    m->ContentType.clear();
    s = Saved(*m);
    EXPECT_NE(s.find("Content-Type: multipart/mixed; boundary=\""), std::string::npos) << s;
    EXPECT_NE(s.find("\r\nContent-Type: application/octet-stream;\r\n        name=\"doc.txt\"\r\n"
                     "Content-Transfer-Encoding: base64\r\n"
                     "Content-Disposition: attachment;\r\n        filename=\"doc.txt\"\r\n\r\nYXR0YWNoZWQ=\r\n"),
              std::string::npos) << s;
    back = Parse(s, true);
    ASSERT_EQ(back->Parts.Count(), 3);
    EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(back->Parts[2]).StoredPath), "attached");
    EXPECT_TRUE(FileExists(path));  // not a temporary file: kept when the message goes
}

TEST(MessageBuild, ReceivedHeadersKeepTheirOwnLinesUnlessChanged) {
    TempFolderScope tmp;
    std::string raw =
        "Subject: \xF0\xD2\xC9\xD7\xC5\xD4\r\n"
        "From: =?koi8-r?B?8NLJ18XU?= <a@b.ru>\r\n"
        "To: x@y.ru\r\n"
        "Organization: =?windows-1251?B?z/Do4uXy?=\r\n"
        "Date: Tue, 7 Dec 2004 10:20:30 +0200 (CEST)\r\n"
        "Sender: <unparsable@x> trailing@y\r\n"
        "Content-Type: text/plain; charset=koi8-r\r\n"
        "\r\nbody\r\n";
    auto m = Parse(raw);
    EXPECT_EQ(m->Subject, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    std::string saved = Saved(*m);
    EXPECT_NE(saved.find("Subject: \xF0\xD2\xC9\xD7\xC5\xD4\r\n"), std::string::npos);
    EXPECT_NE(saved.find("From: =?koi8-r?B?8NLJ18XU?= <a@b.ru>\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Organization: =?windows-1251?B?z/Do4uXy?=\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Date: Tue, 7 Dec 2004 10:20:30 +0200 (CEST)\r\n"), std::string::npos);
    EXPECT_NE(saved.find("Sender: <unparsable@x> trailing@y\r\n"), std::string::npos);
    m->Subject = "Changed";
    saved = Saved(*m);
    EXPECT_NE(saved.find("Subject: Changed\r\n"), std::string::npos);
}

TEST(MessageBody, MultipartWithPreambleNestedAndEndInsidePartHeaders) {
    TempFolderScope tmp;
    std::string raw =
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=outer\r\n\r\n"
        "preamble line\r\n\r\n"
        "--outer  \r\n"
        "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n"
        "--inner\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
        "--inner\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n"
        "--inner--\r\n"
        "inner epilogue\r\n"
        "--outer\r\nContent-Type: application/pdf; name=\"doc.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "JVBERi0=\r\n"
        "--outer\r\nContent-Type: text/plain\r\n";
    auto m = Parse(raw);
    EXPECT_EQ(m->Body.Count(), 1);
    EXPECT_EQ(m->Body[0], "preamble line");
    ASSERT_EQ(m->Parts.Count(), 4);
    EXPECT_EQ(m->Parts[0].ContentType(), "multipart/alternative");
    EXPECT_EQ(m->Parts[1].ParentPart, 0);
    EXPECT_EQ(m->Parts[2].ParentPart, 0);
    EXPECT_EQ(m->Parts[3].ParentPart, -1);
    auto &att = dynamic_cast<TNetAttachmentFile &>(m->Parts[3]);
    EXPECT_EQ(att.FileName, "doc.pdf");
    EXPECT_EQ(att.ContentTypeName(), "doc.pdf");
    EXPECT_EQ(ReadFileToString(att.StoredPath), "%PDF-");
    // A save writes distinct boundaries for the two levels and reads back.
    std::string saved = Saved(*m);
    auto back = Parse(saved, true);
    ASSERT_EQ(back->Parts.Count(), 4);
    EXPECT_EQ(dynamic_cast<TNetText &>(back->Parts[2]).Body[0], "<p>html</p>");
    EXPECT_EQ(back->Parts[2].ParentPart, 0);
    EXPECT_EQ(back->Parts[3].ParentPart, -1);
}

TEST(MessageBody, AnInnerLevelWithoutItsClosingLineEndsAtTheOuterDelimiter) {
    TempFolderScope tmp;
    auto m = Parse(
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=outer\r\n\r\n"
        "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
        "--inner\r\nContent-Type: text/plain\r\n\r\ntext\r\n"
        "--outer\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=a.pdf\r\n\r\n"
        "PDF\r\n"
        "--outer--\r\nepilogue\r\n");
    ASSERT_EQ(m->Parts.Count(), 3);
    EXPECT_EQ(dynamic_cast<TNetText &>(m->Parts[1]).Body.Text(), "text\r\n");
    EXPECT_EQ(m->Parts[1].ParentPart, 0);
    auto &att = dynamic_cast<TNetAttachmentFile &>(m->Parts[2]);
    EXPECT_EQ(att.FileName, "a.pdf");
    EXPECT_EQ(att.ParentPart, -1);
    EXPECT_EQ(ReadFileToString(att.StoredPath), "PDF");
    EXPECT_EQ(m->BoundaryStack.Count(), 0);
}

TEST(MessageBody, PartHeadersGoToExtraHeadersOncePerName) {
    // Fifty thousand header lines in one part are read in one pass.
    std::string raw = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                      "--b\r\nContent-Type: text/plain\r\nX-Same: first\r\nx-same: second\r\n";
    for (int i = 0; i < 50000; ++i) raw += "X-H" + std::to_string(i) + ": v\r\n";
    raw += "\r\nbody\r\n--b--\r\n";
    auto m = Parse(raw);
    ASSERT_EQ(m->Parts.Count(), 1);
    const TNetHeaderList &extra = m->Parts[0].ExtraHeaders;
    EXPECT_EQ(extra.Count(), 50001);
    EXPECT_EQ(extra.GetValue("X-Same"), "first");
    EXPECT_EQ(extra.GetValue("X-H49999"), "v");
    EXPECT_EQ(m->Parts[0].ContentType(), "text/plain");
}

TEST(MessageBody, PartsAreCounted) {
    TempFolderScope tmp;
    auto many = [](int n) {
        std::string raw = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
        for (int i = 0; i < n; ++i) raw += "--b\r\n\r\nx\r\n";
        return raw + "--b--\r\n.\r\n+OK next\r\n";
    };
    EXPECT_EQ(Parse(many(TNetMessage::MaxParts), true)->Parts.Count(), TNetMessage::MaxParts);
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetStringMessageSource src(many(TNetMessage::MaxParts + 1), true);
    ASSERT_TRUE(m->ReceiveHeader(src));
    try {
        m->ReceiveBody(src);
        FAIL();
    } catch (const ENetMessageException &e) {
        EXPECT_EQ(e.Message(), "Message has more than 10000 parts.");
    }
    EXPECT_EQ(m->Parts.Count(), TNetMessage::MaxParts);
    std::string rest;
    EXPECT_FALSE(src.ReadLine(rest));  // the message was read to its end
}

TEST(MessageBody, PartsWithoutATypeTakeTheOneTheirPlaceGives) {
    TempFolderScope tmp;
    auto m = Parse(
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=outer\r\n\r\n"
        "--outer\r\n\r\nplain\r\n"
        "--outer\r\nContent-Type: Multipart/Digest; boundary=d\r\n\r\n"
        "--d\r\n\r\nSubject: digested\r\n\r\nbody\r\n"
        "--d--\r\n--outer--\r\n");
    ASSERT_EQ(m->Parts.Count(), 3);
    EXPECT_EQ(m->Parts[0].ContentType(), "text/plain");
    EXPECT_EQ(m->Parts[2].ContentType(), "message/rfc822");
    EXPECT_EQ(m->Parts[2].ParentPart, 1);
    std::string saved = Saved(*m);
    EXPECT_NE(saved.find("Content-Type: message/rfc822\r\nContent-Transfer-Encoding: 7bit\r\n"), std::string::npos);
    auto back = Parse(saved, true);
    ASSERT_EQ(back->Parts.Count(), 3);
    // Typed now, the enclosed message reads back as an attachment.
    EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(back->Parts[2]).StoredPath),
              "Subject: digested\r\n\r\nbody");
}

TEST(MessageBody, APartWithoutABlankLineAfterItsHeadersEndsAtTheNextDelimiter) {
    auto m = Parse(
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n"
        "--b\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n"
        "--b\r\nContent-Type: text/enriched\r\n"
        "--b--\r\n");
    ASSERT_EQ(m->Parts.Count(), 3);
    EXPECT_EQ(m->Parts[0].ContentType(), "text/plain");
    EXPECT_EQ(dynamic_cast<TNetText &>(m->Parts[0]).Body.Count(), 0);
    EXPECT_EQ(m->Parts[1].ContentType(), "text/html");
    EXPECT_EQ(dynamic_cast<TNetText &>(m->Parts[1]).Body.Text(), "<p>x</p>\r\n");
    EXPECT_EQ(m->Parts[2].ContentType(), "text/enriched");
    EXPECT_EQ(m->BoundaryStack.Count(), 0);
}

TEST(MessageBuild, AttachmentsLabelled7bitOrUnlabelledSaveAsTheyRead) {
    // The data of an attachment is always written coded; its label must say
    // how, or the saved file reads back as the coded text.
    TempFolderScope tmp;
    const std::string data = "{\"a\"=1}\r\n.line\r\n";
    // In a multipart message the line end before the delimiter is the
    // delimiter's.
    auto roundTrip = [&](const std::string &raw, int index) -> std::string {
        const std::string want = index == 0 ? data : data.substr(0, data.size() - 2);
        auto m = Parse(raw);
        if (m->Parts.Count() <= index) {
            ADD_FAILURE() << raw;
            return {};
        }
        EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(m->Parts[index]).StoredPath), want);
        std::string saved = Saved(*m);
        auto back = Parse(saved, true);
        if (back->Parts.Count() <= index) {
            ADD_FAILURE() << saved;
            return saved;
        }
        EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(back->Parts[index]).StoredPath), want) << saved;
        return saved;
    };
    for (const char *cte : {"", "Content-Transfer-Encoding: 7bit\r\n", "Content-Transfer-Encoding: 8bit\r\n"}) {
        SCOPED_TRACE(cte);
        std::string single = roundTrip("MIME-Version: 1.0\r\nContent-Type: application/json\r\n" + std::string(cte) +
                                           "Content-Disposition: attachment; filename=a.json\r\n\r\n" + data,
                                       0);
        if (PythonAvailable()) {
            auto py = PythonMap(R"(
import email, re
def f(b):
    b = re.sub(rb'(?m)^\.\.', b'.', b[:-3])
    return email.message_from_bytes(b).get_payload(decode=True)
)", {single});
            EXPECT_EQ(py[0], data) << single;
        }
        std::string multi = roundTrip("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                                      "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
                                      "--b\r\nContent-Type: text/plain; name=a.json\r\n" + std::string(cte) +
                                          "Content-Disposition: attachment; filename=a.json\r\n\r\n" + data +
                                          "--b--\r\n",
                                      1);
        if (PythonAvailable()) {
            // Python reads the attachment of the original and of the saved
            // message as the bytes we read.
            std::string original = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                                   "--b\r\nContent-Type: application/x; name=a.json\r\n"
                                   "Content-Transfer-Encoding: quoted-printable\r\n\r\n{\"a\"=3D1}\r\n=2Eline\r\n--b--\r\n";
            auto py = PythonMap(R"(
import email, re
def f(b):
    if b.endswith(b'\r\n.\r\n'):
        b = re.sub(rb'(?m)^\.\.', b'.', b[:-3])
    return [p for p in email.message_from_bytes(b).walk() if p.get_filename()][0].get_payload(decode=True)
)", {multi, original});
            EXPECT_EQ(py[0], data.substr(0, data.size() - 2)) << multi;
            auto m = Parse(original);
            ASSERT_EQ(m->Parts.Count(), 1);
            EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(m->Parts[0]).StoredPath), py[1]);
        }
        // A large one too, written out in several blocks.
        std::string lines;
        for (int i = 0; i < 40000; ++i) lines += "line " + std::to_string(i) + "\r\n";
        auto big = Parse("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                         "--b\r\nContent-Type: text/plain; name=big.txt\r\n" + std::string(cte) + "\r\n" + lines +
                         "--b--\r\n");
        ASSERT_EQ(big->Parts.Count(), 1);
        EXPECT_TRUE(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(big->Parts[0]).StoredPath) ==
                    lines.substr(0, lines.size() - 2));
        EXPECT_EQ(multi.find("Content-Transfer-Encoding: 7bit"), std::string::npos);
        EXPECT_EQ(multi.find("Content-Transfer-Encoding: 8bit"), std::string::npos);
    }
}

TEST(MessageBuild, QuotedPrintableAttachmentsKeepTheirLastLineEnd) {
    TempFolderScope tmp;
    for (std::string data : {std::string("no line end"), std::string("line end\r\n"), std::string("two\r\n\r\n"),
                             std::string("soft =") + std::string(100, 'x') + "\r\n"}) {
        SCOPED_TRACE(data);
        auto m = NetCreateNoOwner<TNetMessage>();
        m->Body.Add("body");
        std::string path = tmp.dir.File("a.txt");
        DeleteFile(path);
        WriteTestFile(path, data);
        auto &att = m->Parts.Add(std::make_unique<TNetAttachmentFile>(m.get(), path));
        att.ContentTransfer = "quoted-printable";
        std::string saved = Saved(*m);
        auto back = Parse(saved, true);
        ASSERT_EQ(back->Parts.Count(), 1) << saved;
        EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(back->Parts[0]).StoredPath), data) << saved;
        if (PythonAvailable()) {
            auto py = PythonMap(R"(
import email, re
def f(b):
    b = re.sub(rb'(?m)^\.\.', b'.', b[:-3])
    return [p for p in email.message_from_bytes(b).walk() if p.get_filename()][0].get_payload(decode=True)
)", {saved});
            EXPECT_EQ(py[0], data) << saved;
        }
    }
}

TEST(MessageBody, SinglePartBodies) {
    auto m = Parse("MIME-Version: 1.0\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: BASE64\r\n\r\n"
                   "aGVsbG8K\r\nd29ybGQK\r\n");
    EXPECT_TRUE(m->SinglePartMime);
    EXPECT_EQ(m->Parts.Count(), 0);
    ASSERT_EQ(m->Body.Count(), 2);
    EXPECT_EQ(m->Body[1], "world");
    m = Parse("Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=E9 =\r\nau lait\r\n");
    ASSERT_EQ(m->Body.Count(), 1);
    EXPECT_EQ(m->Body[0], "caf\xE9 au lait");
}

TEST(MessageBody, DotsAreUndoubledOnceAndOnlyForDotSources) {
    std::string body = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                       "--b\r\nContent-Type: text/plain\r\n\r\n..x\r\n...\r\n--b--\r\n";
    auto pop = Parse(body + ".\r\n", true);
    ASSERT_EQ(pop->Parts.Count(), 1);
    EXPECT_EQ(dynamic_cast<TNetText &>(pop->Parts[0]).Body[0], ".x");
    EXPECT_EQ(dynamic_cast<TNetText &>(pop->Parts[0]).Body[1], "..");
    // An IMAP literal: the same lines are data, and a lone "." too.
    auto imap = Parse("Subject: s\r\n\r\n..x\r\n.\r\nafter\r\n");
    ASSERT_EQ(imap->Body.Count(), 3);
    EXPECT_EQ(imap->Body[0], "..x");
    EXPECT_EQ(imap->Body[1], ".");
    // A saved body line that starts with "." survives the round trip.
    std::string saved = Saved(*imap);
    auto back = Parse(saved, true);
    EXPECT_EQ(back->Body[0], "..x");
    EXPECT_EQ(back->Body[1], ".");
}

TEST(MessageBody, NoDecodeKeepsRawLines) {
    auto m = NetCreateNoOwner<TNetMessage>();
    m->NoDecode = true;
    TNetStringMessageSource src("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n", false);
    if (m->ReceiveHeader(src)) m->ReceiveBody(src);
    EXPECT_EQ(m->Body.Count(), 4);
    EXPECT_EQ(m->Parts.Count(), 0);
}

TEST(MessageBody, AttachmentNamesNeverLeaveTheFolder) {
    TempFolderScope tmp;
    auto m = Parse(
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Disposition: attachment; filename=\"../../etc/passwd\"\r\n\r\nx\r\n"
        "--b\r\nContent-Disposition: attachment; filename=\"..\"\r\n\r\nx\r\n"
        "--b\r\nContent-Type: application/x; name=\"C:\\dir\\evil:name.exe\"\r\n\r\nx\r\n"
        "--b\r\nContent-Disposition: attachment; filename=\"ctl\x01name\"\r\n\r\nx\r\n"
        "--b\r\nContent-Disposition: attachment; filename=\"" + std::string(400, 'n') + "\"\r\n\r\nx\r\n"
        "--b--\r\n");
    ASSERT_EQ(m->Parts.Count(), 5);
    EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[0]).FileName, "passwd");
    EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[1]).FileName, "_");
    EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[2]).FileName, "evil_name.exe");
    EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[3]).FileName, "ctl_name");
    EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[4]).FileName.size(), 255u);
    auto u = Parse("Subject: uue\r\n\r\nbegin 644 ../../x.bin\r\n#86)C\r\n`\r\nend\r\n");
    ASSERT_EQ(u->Parts.Count(), 1);
    auto &att = dynamic_cast<TNetAttachmentFile &>(u->Parts[0]);
    EXPECT_EQ(att.FileName, "x.bin");
    EXPECT_EQ(ReadFileToString(att.StoredPath), "abc");
    // The data lives in a private file of the program's temporary folder.
    EXPECT_EQ(ExtractFilePath(att.StoredPath), NetTempFolder());
    struct stat st{};
    ASSERT_EQ(lstat(att.StoredPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string path = att.StoredPath;
    u.reset();
    EXPECT_FALSE(FileExists(path));  // freed with the message
}

TEST(MessageBody, AttachmentSaveRefusesToOverwrite) {
    TempFolderScope tmp;
    auto m = Parse("Subject: uue\r\n\r\nbegin 644 a.bin\r\n#86)C\r\n`\r\nend\r\n");
    auto &att = dynamic_cast<TNetAttachment &>(m->Parts[0]);
    att.SaveToFile(tmp.dir.File("out.bin"));
    EXPECT_EQ(ReadFileToString(tmp.dir.File("out.bin")), "abc");
    try {
        att.SaveToFile(tmp.dir.File("out.bin"));
        FAIL();
    } catch (const ENetException &e) {
        EXPECT_EQ(e.Message(), "Error saving attachment.");
    }
}

TEST(MessageBody, BinHexAndUnknownUUE) {
    TempFolderScope tmp;
    std::string data = "binhex data";
    TStringStream src(data);
    TMemoryStream coded;
    TNetEncoderBinHex4().EncodeNamedStream("f.bin", src, coded);
    auto m = Parse("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                   "--b\r\nContent-Type: application/mac-binhex40; name=f.bin\r\n\r\n" + coded.DataString() +
                   "--b\r\nContent-Type: application/mac-binhex40; name=broken.bin\r\n\r\n:no end\r\n--b--\r\n");
    ASSERT_EQ(m->Parts.Count(), 2);
    auto &att = dynamic_cast<TNetAttachmentFile &>(m->Parts[0]);
    EXPECT_EQ(att.ContentTransfer, "binhex40");
    EXPECT_EQ(ReadFileToString(att.StoredPath), data);
    EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(m->Parts[1]).StoredPath), "");
    // Saved as BinHex again and read back.
    auto back = Parse(Saved(*m), true);
    ASSERT_EQ(back->Parts.Count(), 2);
    EXPECT_EQ(ReadFileToString(dynamic_cast<TNetAttachmentFile &>(back->Parts[0]).StoredPath), data);
    EXPECT_THROW(Parse("Subject: x\r\n\r\nbegin 644 q.bin\r\n\x7F\x7F\r\nend\r\n"), ENetException);
    // The failing message is still read to its end: the next reply is intact.
    auto bad = NetCreateNoOwner<TNetMessage>();
    TNetStringMessageSource badSrc("Subject: x\r\n\r\nbegin 644 q.bin\r\n\x7F\x7F\r\nend\r\nmore\r\n.\r\n+OK next\r\n", true);
    ASSERT_TRUE(bad->ReceiveHeader(badSrc));
    try {
        bad->ReceiveBody(badSrc);
        FAIL();
    } catch (const ENetException &e) {
        EXPECT_EQ(e.Message(), "Unrecognized UUE encoding scheme.");
    }
    EXPECT_TRUE(badSrc.Ended());
}

TEST(MessageFiles, LoadEndsWhateverTheLastLineEnd) {
    TempFolderScope tmp;
    for (std::string end : {"\r\n", "\n", "\r", ""}) {
        std::string path = tmp.dir.File("m.eml");
        WriteTestFile(path, "Subject: s\r\n\r\nline1\r\nlast" + end);
        auto m = NetCreateNoOwner<TNetMessage>();
        m->LoadFromFile(path);
        ASSERT_EQ(m->Body.Count(), 2) << end.size();
        EXPECT_EQ(m->Body[1], "last");
    }
    auto m = NetCreateNoOwner<TNetMessage>();
    try {
        m->LoadFromFile(tmp.dir.File("missing.eml"));
        FAIL();
    } catch (const ENetMessageCannotLoad &e) {
        EXPECT_EQ(e.Message(), "Cannot load message from file " + tmp.dir.File("missing.eml"));
    }
    WriteTestFile(tmp.dir.File("h.eml"), "Subject: only\r\n\r\nbody\r\n");
    m->LoadFromFile(tmp.dir.File("h.eml"), true);
    EXPECT_EQ(m->Subject, "only");
    EXPECT_EQ(m->Body.Count(), 0);
}

TEST(MessageFiles, LoadingIsBounded) {
    std::string big = "Subject: big\r\n\r\n";
    for (int i = 0; i < 2000; ++i) big += std::string(1000, 'x') + "\r\n";
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetStringMessageSource src(big, false);
    src.MaxMessageSize = 1 << 20;
    m->ReceiveHeader(src);
    EXPECT_THROW(m->ReceiveBody(src), ENetMessageTooLarge);
}

namespace {
// An endless stream of "x" without a line end, counting what it hands out.
class TEndlessStream : public TStream {
public:
    int64_t Given = 0;
    int64_t Read(void *buffer, int64_t count) override {
        memset(buffer, 'x', size_t(count));
        Given += count;
        return count;
    }
    int64_t Write(const void *, int64_t) override { return 0; }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};
}  // namespace

TEST(MessageFiles, ALineWithoutEndIsNotGatheredPastTheCap) {
    TEndlessStream endless;
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetStreamMessageSource src(endless, true);
    src.MaxMessageSize = 1 << 20;
    EXPECT_THROW(m->ReceiveHeader(src), ENetMessageTooLarge);
    EXPECT_LT(endless.Given, 2 << 20);
}

TEST(MessageSources, ThroughAnIOHandlerAsAPop3ReplyArrives) {
    auto handler = NetCreateNoOwner<TNetIOHandlerStream>(
        new TStringStream("Subject: via handler\r\n\r\n..dotted\r\nbody\r\n.\r\n+OK after\r\n"));
    handler->Open();
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetIOHandlerMessageSource src(*handler, true);
    ASSERT_TRUE(m->ReceiveHeader(src));
    m->ReceiveBody(src);
    EXPECT_EQ(m->Subject, "via handler");
    ASSERT_EQ(m->Body.Count(), 2);
    EXPECT_EQ(m->Body[0], ".dotted");
    // The connection is left right after the "." line.
    EXPECT_EQ(handler->ReadLn(), "+OK after");
    // A header-only reply (TOP n 0): header lines, an empty line, ".".
    auto top = NetCreateNoOwner<TNetIOHandlerStream>(new TStringStream("Subject: top\r\nFrom: a@b.c\r\n\r\n.\r\nnext\r\n"));
    top->Open();
    auto h = NetCreateNoOwner<TNetMessage>();
    TNetIOHandlerMessageSource topSrc(*top, true);
    EXPECT_FALSE(h->ReceiveHeader(topSrc, false));
    EXPECT_EQ(h->Headers.Count(), 2);
    EXPECT_EQ(h->From().Address, "a@b.c");
    EXPECT_EQ(top->ReadLn(), "next");
    // A line far over the handler's line limit arrives in pieces; a piece
    // that happens to be "." does not end the message.
    std::string longLine(20000, 'x');
    auto big = NetCreateNoOwner<TNetIOHandlerStream>(
        new TStringStream("Subject: long\r\n\r\n" + longLine.substr(0, 16384) + ".\r\nlast\r\n.\r\n"));
    big->Open();
    auto l = NetCreateNoOwner<TNetMessage>();
    TNetIOHandlerMessageSource bigSrc(*big, true);
    ASSERT_TRUE(l->ReceiveHeader(bigSrc));
    l->ReceiveBody(bigSrc);
    ASSERT_EQ(l->Body.Count(), 3);
    EXPECT_EQ(l->Body[1], ".");
    EXPECT_EQ(l->Body[2], "last");
    // A reply cut off before its "." is an error, not a shorter message.
    auto cut = NetCreateNoOwner<TNetIOHandlerStream>(new TStringStream("Subject: cut\r\n\r\nfirst\r\n"));
    cut->Open();
    auto c = NetCreateNoOwner<TNetMessage>();
    TNetIOHandlerMessageSource cutSrc(*cut, true);
    ASSERT_TRUE(c->ReceiveHeader(cutSrc));
    EXPECT_THROW(c->ReceiveBody(cutSrc), ENetConnClosedGracefully);
    EXPECT_EQ(c->Body.Count(), 1);
}

TEST(MessageBuild, PlainMessagesCarryUUEAndXXEAttachments) {
    TempFolderScope tmp;
    std::string data;
    for (int i = 0; i < 5000; ++i) data.push_back(char(i * 31 + 7));
    std::string path = tmp.dir.File("blob.bin");
    // Short files too: their only coded line does not start with "h".
    for (size_t size : {size_t(5000), size_t(1), size_t(10), size_t(33), size_t(44)})
    for (const char *kind : {"UUE", "XXE"}) {
        SCOPED_TRACE(size);
        data.resize(size);
        WriteTestFile(path, data);
        auto m = NetCreateNoOwner<TNetMessage>();
        m->SetEncoding(mePlainText);
        m->Body.Add("See attached.");
        auto &att = m->Parts.Add(std::make_unique<TNetAttachmentFile>(m.get(), path));
        att.ContentTransfer = kind;
        std::string saved = Saved(*m);
        EXPECT_NE(saved.find("\r\nbegin 660 blob.bin\r\n"), std::string::npos) << kind;
        auto back = Parse(saved, true);
        ASSERT_EQ(back->Parts.Count(), 1) << kind;
        auto &got = dynamic_cast<TNetAttachmentFile &>(back->Parts[0]);
        EXPECT_EQ(got.ContentTransfer, kind);
        EXPECT_TRUE(ReadFileToString(got.StoredPath) == data) << kind;
        EXPECT_EQ(back->Body[0], "See attached.");
        if (std::string(kind) == "UUE" && PythonAvailable()) {
            size_t b = saved.find("begin 660"), e = saved.find("\r\nend\r\n", b);
            auto py = PythonMap("import io, uu\ndef f(b):\n    o = io.BytesIO()\n    uu.decode(io.BytesIO(b), o)\n    return o.getvalue()",
                                {saved.substr(b, e + 7 - b)});
            EXPECT_TRUE(py[0] == data);
        }
    }
}
