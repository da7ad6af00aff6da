#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <tuple>

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

// The stored bytes of attachment i, or a marker no expected value equals.
std::string AttData(TNetMessage &m, int i) {
    auto *a = i < m.Parts.Count() ? dynamic_cast<TNetAttachmentFile *>(&m.Parts[i]) : nullptr;
    return a ? ReadFileToString(a->StoredPath) : "(no attachment " + std::to_string(i) + ")";
}

TNetText &TextPart(TNetMessage &m, int i) { return dynamic_cast<TNetText &>(m.Parts[i]); }

// The message body, then after a "|" each part: its type, its parent, and
// its text or its file name and data (a multipart container shows neither).
std::string Describe(TNetMessage &m) {
    std::string out = m.Body.Text();
    for (int i = 0; i < m.Parts.Count(); ++i) {
        TNetMessagePart &p = m.Parts[i];
        out += "|" + p.ContentType() + "@" + std::to_string(p.ParentPart);
        if (auto *a = dynamic_cast<TNetAttachmentFile *>(&p))
            out += " [" + a->FileName + "] " + ReadFileToString(a->StoredPath);
        else if (!StartsText("multipart/", p.ContentType()))
            out += " " + TextPart(m, i).Body.Text();
    }
    return out;
}

const std::string kMultipart = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";

// Python's reading of the first part with a file name (else the message
// itself); a saved transcript's dots are undone first.
const char *kPyAttachment = R"(
import email, re
def f(b):
    if b.endswith(b'\r\n.\r\n'):
        b = re.sub(rb'(?m)^\.\.', b'.', b[:-3])
    m = email.message_from_bytes(b)
    return ([p for p in m.walk() if p.get_filename()] or [m])[0].get_payload(decode=True)
)";

// Keeps every temporary file of a test inside its own folder.
struct TempFolderScope {
    TempDir dir;
    TempFolderScope() { SetNetTempFolder(dir.File("tmp")); }
    ~TempFolderScope() { SetNetTempFolder(""); }
};

}  // namespace

TEST(MessageHeaders, ContentTypeCharsetAndBoundary) {
    EXPECT_EQ(Headers("Subject: x\r\nFrom: a@b.c")->Encoding(), mePlainText);
    auto m = Headers("MIME-Version: 1.0\r\nContent-Type: Text/Plain; charset=koi8-r; format=flowed");
    EXPECT_EQ(m->ContentType, "Text/Plain");
    EXPECT_EQ(m->CharSet, "KOI8-R");
    EXPECT_EQ(m->Encoding(), meMIME);
    EXPECT_EQ(Headers("Content-Type: multipart/mixed; boundary=\"a;b c\"")->BoundaryStack.Boundary(), "a;b c");
    EXPECT_EQ(Headers("Content-Type: multipart/mixed;\r\n boundary=xyz")->BoundaryStack.Boundary(), "xyz");
}

TEST(MessageHeaders, Priorities) {
    EXPECT_EQ(Headers("X-Priority: 1 (Highest)")->Priority, mpHighest);
    EXPECT_EQ(Headers("X-Priority: 5")->Priority, mpLowest);
    EXPECT_EQ(Headers("Priority: urgent")->Priority, mpHigh);
    EXPECT_EQ(Headers("Priority: non-urgent")->Priority, mpLow);
    EXPECT_EQ(Headers("X-Priority: 9")->Priority, mpNormal);
    EXPECT_EQ(Headers("X-Priority: -3")->Priority, mpNormal);
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
    m->Priority = mpHighest;
    m->BuildHeaders();
    EXPECT_EQ(m->LastGeneratedHeaders().GetValue("In-Reply-To"), "<orig@y.org>");
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
    EXPECT_EQ(TextPart(*back, 1).Body[0], "two");
    // An attachment's header lines keep their exact form.
    std::string path = tmp.dir.File("doc.txt");
    WriteTestFile(path, "attached");
    EXPECT_EQ(m->Parts.Add(std::make_unique<TNetAttachmentFile>(m.get(), path)).FileName, "doc.txt");
    m->ContentType.clear();
    s = Saved(*m);
    EXPECT_NE(s.find("Content-Type: multipart/mixed; boundary=\""), std::string::npos) << s;
    EXPECT_NE(s.find("\r\nContent-Type: application/octet-stream;\r\n        name=\"doc.txt\"\r\n"
                     "Content-Transfer-Encoding: base64\r\n"
                     "Content-Disposition: attachment;\r\n        filename=\"doc.txt\"\r\n\r\nYXR0YWNoZWQ=\r\n"),
              std::string::npos) << s;
    EXPECT_EQ(AttData(*Parse(s, true), 2), "attached");
    EXPECT_TRUE(FileExists(path));  // not a temporary file: kept when the message goes
}

TEST(MessageBuild, ReceivedHeadersKeepTheirOwnLinesUnlessChanged) {
    TempFolderScope tmp;
    const std::vector<std::string> kept = {
        "Subject: \xF0\xD2\xC9\xD7\xC5\xD4", "From: =?koi8-r?B?8NLJ18XU?= <a@b.ru>",
        "Organization: =?windows-1251?B?z/Do4uXy?=", "Date: Tue, 7 Dec 2004 10:20:30 +0200 (CEST)",
        "Sender: <unparsable@x> trailing@y"};
    std::string raw;
    for (auto &l : kept) raw += l + "\r\n";
    auto m = Parse(raw + "To: x@y.ru\r\nContent-Type: text/plain; charset=koi8-r\r\n\r\nbody\r\n");
    EXPECT_EQ(m->Subject, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(m->From().Name, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    std::string saved = Saved(*m);
    for (auto &l : kept) EXPECT_NE(saved.find(l + "\r\n"), std::string::npos) << l;
    m->Subject = "Changed";
    EXPECT_NE(Saved(*m).find("Subject: Changed\r\n"), std::string::npos);
}

const std::string kDigest =
    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=outer\r\n\r\n"
    "--outer\r\n\r\nplain\r\n"
    "--outer\r\nContent-Type: Multipart/Digest; boundary=d\r\n\r\n"
    "--d\r\n\r\nSubject: digested\r\n\r\nbody\r\n"
    "--d--\r\n--outer--\r\n";

TEST(MessageBody, MultipartStructureOfOddAndDamagedMessages) {
    TempFolderScope tmp;
    struct Case {
        std::string raw, parts;
        bool closed;  // every level saw its closing line
    } cases[] = {
        // A preamble, blanks after a delimiter, an epilogue inside, and the
        // end of the message inside the last part's headers.
        {"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=outer\r\n\r\n"
         "preamble line\r\n\r\n"
         "--outer  \r\n"
         "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n"
         "--inner\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
         "--inner\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n"
         "--inner--\r\n"
         "inner epilogue\r\n"
         "--outer\r\nContent-Type: application/pdf; name=\"doc.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "JVBERi0=\r\n"
         "--outer\r\nContent-Type: text/plain\r\n",
         "preamble line\r\n|multipart/alternative@-1|text/plain@0 plain\r\n|text/html@0 <p>html</p>\r\n"
         "|application/pdf@-1 [doc.pdf] %PDF-",
         false},
        // An inner level without its closing line ends at the outer delimiter.
        {"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=outer\r\n\r\n"
         "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
         "--inner\r\nContent-Type: text/plain\r\n\r\ntext\r\n"
         "--outer\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=a.pdf\r\n\r\n"
         "PDF\r\n"
         "--outer--\r\nepilogue\r\n",
         "|multipart/alternative@-1|text/plain@0 text\r\n|application/pdf@-1 [a.pdf] PDF", true},
        // Parts without a type take the one their place gives.
        {kDigest, "|text/plain@-1 plain\r\n|Multipart/Digest@-1|message/rfc822@1 Subject: digested\r\n\r\nbody\r\n",
         true},
        // A part without a blank line after its headers ends at the next delimiter.
        {kMultipart + "--b\r\nContent-Type: text/plain\r\n"
                      "--b\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n"
                      "--b\r\nContent-Type: text/enriched\r\n"
                      "--b--\r\n",
         "|text/plain@-1 |text/html@-1 <p>x</p>\r\n|text/enriched@-1 ", true},
    };
    for (const Case &c : cases) {
        auto m = Parse(c.raw);
        EXPECT_EQ(Describe(*m), c.parts) << c.raw;
        EXPECT_TRUE(!c.closed || m->BoundaryStack.Count() == 0) << c.raw;
    }
}

TEST(MessageBody, PartHeadersGoToExtraHeadersOncePerName) {
    // Fifty thousand header lines in one part are read in one pass.
    std::string raw = kMultipart + "--b\r\nContent-Type: text/plain\r\nX-Same: first\r\nx-same: second\r\n";
    for (int i = 0; i < 50000; ++i) raw += "X-H" + std::to_string(i) + ": v\r\n";
    auto m = Parse(raw + "\r\nbody\r\n--b--\r\n");
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
        std::string raw = kMultipart;
        for (int i = 0; i < n; ++i) raw += "--b\r\n\r\nx\r\n";
        return raw + "--b--\r\n.\r\n+OK next\r\n";
    };
    EXPECT_EQ(Parse(many(TNetMessage::MaxParts), true)->Parts.Count(), TNetMessage::MaxParts);
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetStringMessageSource src(many(TNetMessage::MaxParts + 1), true);
    ASSERT_TRUE(m->ReceiveHeader(src));
    EXPECT_EQ(Thrown<ENetMessageException>([&] { m->ReceiveBody(src); }), "Message has more than 10000 parts.");
    EXPECT_EQ(m->Parts.Count(), TNetMessage::MaxParts);
    std::string rest;
    EXPECT_FALSE(src.ReadLine(rest));  // the message was read to its end
}

TEST(MessageBody, AnEnclosedMessageSavesTypedAndReadsBackAsAnAttachment) {
    TempFolderScope tmp;
    auto m = Parse(kDigest);
    std::string saved = Saved(*m);
    EXPECT_NE(saved.find("Content-Type: message/rfc822\r\nContent-Transfer-Encoding: 7bit\r\n"), std::string::npos);
    EXPECT_EQ(AttData(*Parse(saved, true), 2), "Subject: digested\r\n\r\nbody");
}

TEST(MessageBuild, AttachmentsLabelled7bitOrUnlabelledSaveAsTheyRead) {
    // The data of an attachment is always written coded; its label must say
    // how, or the saved file reads back as the coded text.
    TempFolderScope tmp;
    const std::string data = "{\"a\"=1}\r\n.line\r\n";
    // In a multipart message the line end before the delimiter is the
    // delimiter's.
    const std::string inPart = data.substr(0, data.size() - 2);
    std::string lines;
    for (int i = 0; i < 40000; ++i) lines += "line " + std::to_string(i) + "\r\n";
    for (std::string cte : {"", "Content-Transfer-Encoding: 7bit\r\n", "Content-Transfer-Encoding: 8bit\r\n"}) {
        SCOPED_TRACE(cte);
        const std::string disp = cte + "Content-Disposition: attachment; filename=a.json\r\n\r\n" + data;
        std::vector<std::string> saved;
        for (auto [raw, index, want] : std::vector<std::tuple<std::string, int, std::string>>{
                 {"MIME-Version: 1.0\r\nContent-Type: application/json\r\n" + disp, 0, data},
                 {kMultipart + "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
                               "--b\r\nContent-Type: text/plain; name=a.json\r\n" + disp + "--b--\r\n",
                  1, inPart}}) {
            auto m = Parse(raw);
            EXPECT_EQ(AttData(*m, index), want);
            saved.push_back(Saved(*m));
            EXPECT_EQ(AttData(*Parse(saved.back(), true), index), want) << saved.back();
        }
        EXPECT_EQ(saved[1].find("Content-Transfer-Encoding: 7bit"), std::string::npos);
        EXPECT_EQ(saved[1].find("Content-Transfer-Encoding: 8bit"), std::string::npos);
        if (PythonAvailable()) {
            auto py = PythonMap(kPyAttachment, saved);
            EXPECT_EQ(py[0], data) << saved[0];
            EXPECT_EQ(py[1], inPart) << saved[1];
        }
        // A large one too, written out in several blocks.
        auto big = Parse(kMultipart + "--b\r\nContent-Type: text/plain; name=big.txt\r\n" + cte + "\r\n" + lines +
                         "--b--\r\n");
        EXPECT_TRUE(AttData(*big, 0) == lines.substr(0, lines.size() - 2));
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
        m->Parts.Add(std::make_unique<TNetAttachmentFile>(m.get(), path)).ContentTransfer = "quoted-printable";
        std::string saved = Saved(*m);
        EXPECT_EQ(AttData(*Parse(saved, true), 0), data) << saved;
        if (PythonAvailable()) {
            EXPECT_EQ(PythonMap(kPyAttachment, {saved})[0], data) << saved;
        }
    }
}

TEST(MessageBody, AttachmentNamesNeverLeaveTheFolderNorOverwrite) {
    TempFolderScope tmp;
    auto m = Parse(kMultipart +
                   "--b\r\nContent-Disposition: attachment; filename=\"../../etc/passwd\"\r\n\r\nx\r\n"
                   "--b\r\nContent-Disposition: attachment; filename=\"..\"\r\n\r\nx\r\n"
                   "--b\r\nContent-Type: application/x; name=\"C:\\dir\\evil:name.exe\"\r\n\r\nx\r\n"
                   "--b\r\nContent-Disposition: attachment; filename=\"ctl\x01name\"\r\n\r\nx\r\n"
                   "--b\r\nContent-Disposition: attachment; filename=\"" + std::string(400, 'n') + "\"\r\n\r\nx\r\n"
                   "--b--\r\n");
    ASSERT_EQ(m->Parts.Count(), 5);
    const char *want[] = {"passwd", "_", "evil_name.exe", "ctl_name"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[i]).FileName, want[i]);
    EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[4]).FileName.size(), 255u);
    auto u = Parse("Subject: uue\r\n\r\nbegin 644 ../../x.bin\r\n#86)C\r\n`\r\nend\r\n");
    ASSERT_EQ(u->Parts.Count(), 1);
    auto &att = dynamic_cast<TNetAttachmentFile &>(u->Parts[0]);
    EXPECT_EQ(att.FileName, "x.bin");
    EXPECT_EQ(AttData(*u, 0), "abc");
    // The data lives in a private file of the program's temporary folder.
    EXPECT_EQ(ExtractFilePath(att.StoredPath), NetTempFolder());
    struct stat st{};
    ASSERT_EQ(lstat(att.StoredPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    att.SaveToFile(tmp.dir.File("out.bin"));
    EXPECT_EQ(ReadFileToString(tmp.dir.File("out.bin")), "abc");
    EXPECT_EQ(Thrown<ENetException>([&] { att.SaveToFile(tmp.dir.File("out.bin")); }), "Error saving attachment.");
    std::string path = att.StoredPath;
    u.reset();
    EXPECT_FALSE(FileExists(path));  // freed with the message
}

TEST(MessageBody, BinHexPartsReadAndSave) {
    TempFolderScope tmp;
    std::string data = "binhex data";
    TStringStream src(data);
    TMemoryStream coded;
    TNetEncoderBinHex4().EncodeNamedStream("f.bin", src, coded);
    auto m = Parse(kMultipart + "--b\r\nContent-Type: application/mac-binhex40; name=f.bin\r\n\r\n" +
                   coded.DataString() +
                   "--b\r\nContent-Type: application/mac-binhex40; name=broken.bin\r\n\r\n:no end\r\n--b--\r\n");
    ASSERT_EQ(m->Parts.Count(), 2);
    EXPECT_EQ(dynamic_cast<TNetAttachmentFile &>(m->Parts[0]).ContentTransfer, "binhex40");
    EXPECT_EQ(AttData(*m, 0), data);
    EXPECT_EQ(AttData(*m, 1), "");
    // Saved as BinHex again and read back.
    EXPECT_EQ(AttData(*Parse(Saved(*m), true), 0), data);
}

TEST(MessageFiles, LoadEndsWhateverTheLastLineEnd) {
    TempFolderScope tmp;
    std::string path = tmp.dir.File("m.eml");
    auto m = NetCreateNoOwner<TNetMessage>();
    for (std::string end : {"\r\n", "\n", "\r", ""}) {
        WriteTestFile(path, "Subject: s\r\n\r\nline1\r\nlast" + end);
        m->LoadFromFile(path);
        EXPECT_EQ(m->Body.Text(), TStringList({"line1", "last"}).Text()) << end.size();
    }
    EXPECT_EQ(Thrown<ENetMessageCannotLoad>([&] { m->LoadFromFile(tmp.dir.File("missing.eml")); }),
              "Cannot load message from file " + tmp.dir.File("missing.eml"));
    WriteTestFile(path, "Subject: only\r\n\r\nbody\r\n");
    m->LoadFromFile(path, true);
    EXPECT_EQ(m->Subject, "only");
    EXPECT_EQ(m->Body.Count(), 0);
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
    TNetStreamMessageSource endlessSrc(endless, true);
    endlessSrc.MaxMessageSize = 1 << 20;
    EXPECT_THROW(NetCreateNoOwner<TNetMessage>()->ReceiveHeader(endlessSrc), ENetMessageTooLarge);
    EXPECT_LT(endless.Given, 2 << 20);
}

TEST(MessageSources, ALinePieceThatIsADotDoesNotEndTheMessage) {
    // A line far over the handler's line limit arrives in pieces; a piece
    // that happens to be "." does not end the message.
    auto handler = NetCreateNoOwner<TNetIOHandlerStream>(
        new TStringStream("Subject: long\r\n\r\n" + std::string(16384, 'x') + ".\r\nlast\r\n.\r\nnext\r\n"));
    handler->Open();
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetIOHandlerMessageSource src(*handler, true);
    ASSERT_TRUE(m->ReceiveHeader(src));
    m->ReceiveBody(src);
    ASSERT_EQ(m->Body.Count(), 3);
    EXPECT_EQ(m->Body[1], ".");
    EXPECT_EQ(m->Body[2], "last");
    EXPECT_EQ(handler->ReadLn(), "next");
}

TEST(MessageBuild, PlainMessagesCarryUUEAndXXEAttachments) {
    TempFolderScope tmp;
    std::string data;
    for (int i = 0; i < 5000; ++i) data.push_back(char(i * 31 + 7));
    std::string path = tmp.dir.File("blob.bin");
    // Short files too: their only coded line does not start with "h".
    for (size_t size : {size_t(5000), size_t(1), size_t(10), size_t(33), size_t(44)})
    for (std::string kind : {"UUE", "XXE"}) {
        SCOPED_TRACE(kind + " " + std::to_string(size));
        data.resize(size);
        WriteTestFile(path, data);
        auto m = NetCreateNoOwner<TNetMessage>();
        m->SetEncoding(mePlainText);
        m->Body.Add("See attached.");
        m->Parts.Add(std::make_unique<TNetAttachmentFile>(m.get(), path)).ContentTransfer = kind;
        std::string saved = Saved(*m);
        EXPECT_NE(saved.find("\r\nbegin 660 blob.bin\r\n"), std::string::npos);
        auto back = Parse(saved, true);
        ASSERT_EQ(back->Parts.Count(), 1);
        EXPECT_TRUE(AttData(*back, 0) == data);
        EXPECT_EQ(dynamic_cast<TNetAttachmentFile &>(back->Parts[0]).ContentTransfer, kind);
        EXPECT_EQ(back->Body[0], "See attached.");
        if (kind == "UUE" && PythonAvailable()) {
            size_t b = saved.find("begin 660"), e = saved.find("\r\nend\r\n", b);
            auto py = PythonMap("import io, uu\ndef f(b):\n    o = io.BytesIO()\n    uu.decode(io.BytesIO(b), o)\n    return o.getvalue()",
                                {saved.substr(b, e + 7 - b)});
            EXPECT_TRUE(py[0] == data);
        }
    }
}
