// Messages as other mail software writes them: RFC 2231 parameters (the
// RFC's own examples and what Python's email generator writes), types
// without a subtype, boundaries on types that have no parts, digests, part
// headers without their empty line, repeated address fields and multipart
// mail without MIME-Version. Each is read by TNetMessage and by Python's
// email package in the same test and the two must agree on the parts, their
// types, character sets, names and decoded bytes; then saved and read back
// (by both) with the same parts. The same messages, delivered by Dovecot's
// own delivery agent, are fetched over IMAP.
#include <gtest/gtest.h>

#include <sstream>

#include "DovecotServer.h"
#include "NetGlobalProtocols.h"
#include "NetIMAP4.h"
#include "NetMessage.h"
#include "PythonPeer.h"
#include "TestSupport.h"

namespace {

std::string Crlf(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Written by hand after RFC 2231 and real mailers.
const std::vector<std::pair<std::string, std::string>> &HandWritten() {
    static const std::vector<std::pair<std::string, std::string>> list = {
        {"rfc2231", Crlf(R"(From: "Sender" <sender@example.org>
To: a@example.org
Subject: RFC 2231 parameters
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary*=us-ascii''XYZ-231

preamble
--XYZ-231
Content-Type: text/plain; charset*=us-ascii'en'iso-8859-1
Content-Transfer-Encoding: quoted-printable

Gr=FC=DFe
--XYZ-231
Content-Type: application/x-stuff;
 name*0*=us-ascii'en'This%20is%20even%20more%20;
 name*1*=%2A%2A%2Afun%2A%2A%2A%20;
 name*2="isn't it!"
Content-Transfer-Encoding: base64

AAECAwQ=
--XYZ-231
Content-Type: application/octet-stream
Content-Disposition: attachment; filename*=UTF-8''Stra%C3%9Fe%20%E2%82%AC.txt
Content-Transfer-Encoding: base64

aGVsbG8=
--XYZ-231
Content-Type: application/pdf; name="fallback.pdf"
Content-Disposition: attachment;
 filename*0*=utf-8''%C3%BCbersicht%20;
 filename*1=teil;
 filename*2*=%20zwei.pdf
Content-Transfer-Encoding: base64

JVBERi0=
--XYZ-231--
)")},
        {"no subtype", Crlf(R"(From: a@example.org
Subject: a type without its subtype
MIME-Version: 1.0
Content-Type: text; charset=us-ascii

Just text, not an attachment.
)")},
        {"boundary on text", Crlf(R"(From: a@example.org
Subject: a boundary on a type without parts
MIME-Version: 1.0
Content-Type: text/plain; charset=us-ascii; boundary="x"

Before the line.
--x
Content-Type: text/html

Not a part.
--x--
After.
)")},
        {"digest", Crlf(R"(From: a@example.org
Subject: a digest
MIME-Version: 1.0
Content-Type: multipart/digest; boundary="d"

--d

From: one@example.org
Subject: First in digest

Body one.
--d
Content-Type: text/plain

Explicit text.
--d

From: two@example.org
Subject: Second in digest

Body two.
--d--
)")},
        {"no MIME-Version", Crlf(R"(From: x@example.org
Subject: multipart without MIME-Version
Content-Type: multipart/mixed; boundary="nm"

--nm

A part without headers is plain text.
--nm
Content-Type: multipart/digest; boundary="nd"

--nd

Subject: Inner digest message

Inner.
--nd--
--nm
Content-Type: application/octet-stream; name="data.bin"
Content-Transfer-Encoding: base64

AQID
--nm--
)")},
        {"no blank line", Crlf(R"(From: a@example.org
Subject: part headers run into the body
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="nb"

--nb
Content-Type: text/plain; charset=utf-8
Hello there, no blank line above.
Second line: with a colon.
--nb
Content-Type: text/plain
X-Note: fine

Normal part.
--nb--
)")},
        {"no separating line", Crlf(R"(From: a@example.org
To: b@example.org
Subject: the headers run into the body
counter to RFC 2822, there's no separating newline here
Second: line, with a colon
)")},
        {"no header at all", Crlf(R"(Hello there,
this message starts with its text.
Subject: not a header here
)")},
        {"repeated fields", Crlf(R"(From: a@example.org
To: one@example.org
To: "Two, Person" <two@example.org>, three@example.org
Cc: four@example.org
Cc: five@example.org
Subject: repeated address fields
MIME-Version: 1.0
Content-Type: text/plain

x
)")},
    };
    return list;
}

// Messages Python's email generator writes: long non-ASCII names, which it
// folds into RFC 2231 sections, text and binary attachments, alternatives.
const char *kGenerate = R"PY(
import sys
from email.message import EmailMessage
from email import policy
out = []
m = EmailMessage()
m['From'] = 'J\u00fcrgen <j@example.org>'
m['To'] = 'a@example.org, "B, C" <b@example.org>'
m['Subject'] = 'Python generated'
m.set_content('Hallo Welt \u2013 gr\u00fc\u00dfe\n')
m.add_attachment(bytes(range(256)), maintype='application', subtype='octet-stream',
                 filename='\u00dcbersicht der \u00c4nderungen f\u00fcr das n\u00e4chste Quartal 2024 endg\u00fcltig und abgeschlossen.pdf')
m.add_attachment('Text attachment \u00e4\u00f6\u00fc\n', filename='notes \u00e9t\u00e9.txt')
out.append(m.as_bytes(policy=policy.SMTP))
m = EmailMessage()
m['Subject'] = 'alternative'
m.set_content('plain part\n')
m.add_alternative('<p>html part</p>\n', subtype='html')
m.add_attachment(b'GIF89a', maintype='image', subtype='gif', filename='a.gif')
out.append(m.as_bytes(policy=policy.SMTP))
sys.stdout.write('\n'.join(b.hex() for b in out))
)PY";

// What Python reads: the type, To and Cc, and per leaf part (a message
// inside a message counts as one, by its subject) type, set, name, data.
const char *kPythonRead = R"PY(
import re
from email import policy
from email.parser import BytesParser
from email.utils import getaddresses
def leaves(p):
    if p.get_content_type() == 'message/rfc822' and p.is_multipart():
        yield p, (p.get_payload(0)['Subject'] or '').encode()
    elif p.is_multipart():
        for s in p.get_payload():
            yield from leaves(s)
    else:
        yield p, p.get_payload(decode=True) or b''
def f(b):
    if b.endswith(b'\r\n.\r\n'):
        b = re.sub(rb'(?m)^\.\.', b'.', b[:-3])
    m = BytesParser(policy=policy.compat32).parsebytes(b)
    h = lambda s: s.encode('utf-8', 'surrogateescape').hex() or '-'
    out = ['type ' + h(m.get_content_type())]
    for field in ('To', 'Cc'):
        for n, a in getaddresses(m.get_all(field, [])):
            out.append(field.lower() + ' ' + h(n) + ' ' + h(a))
    for p, data in leaves(m):
        out.append('part %s %s %s %s' % (h(p.get_content_type()), h(p.get_content_charset() or ''),
                                         h(p.get_filename() or ''), data.hex() or '-'))
    return '\n'.join(out).encode()
)PY";

std::string Unhex(const std::string &h) {
    std::string out;
    for (size_t i = 0; h != "-" && i + 1 < h.size(); i += 2) out.push_back(char(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

struct Part {
    std::string type, charset, name, data;
};
struct View {
    std::string type;
    std::vector<std::string> to, cc;  // "name|address"
    std::vector<Part> parts;
};

// Text compares without its line-end style and trailing line ends; names
// as the model cleans them; sets without regard to case.
std::string Normal(const std::string &type, std::string data) {
    if (!StartsText("text/", type)) return data;
    std::string out;
    for (size_t i = 0; i < data.size(); ++i)
        if (!(data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')) out.push_back(data[i]);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

View FromPython(const std::string &text) {
    View v;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string kind, a, b, c, d;
        ls >> kind >> a >> b >> c >> d;
        if (kind == "type") v.type = Unhex(a);
        else if (kind == "to") v.to.push_back(Unhex(a) + "|" + Unhex(b));
        else if (kind == "cc") v.cc.push_back(Unhex(a) + "|" + Unhex(b));
        else if (kind == "part") {
            std::string name = Unhex(c);
            v.parts.push_back({LowerCase(Unhex(a)), LowerCase(Unhex(b)),
                               name.empty() ? name : CleanAttachmentFileName(name), Normal(Unhex(a), Unhex(d))});
        }
    }
    return v;
}

std::string Bytes(TNetAttachment &a) {
    auto s = a.OpenLoadStream();
    std::string data(size_t(s->Size()), '\0');
    if (!data.empty()) s->ReadBuffer(data.data(), int64_t(data.size()));
    return data;
}

std::string Joined(const TStringList &lines) {
    std::string out;
    for (int i = 0; i < lines.Count(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

Part Ours(TNetMessagePart &p) {
    Part r{LowerCase(p.ContentType()), LowerCase(p.CharSet), "", ""};
    if (auto *a = dynamic_cast<TNetAttachment *>(&p)) {
        r.name = a->FileName;
        r.data = Bytes(*a);
    } else {
        r.data = Joined(dynamic_cast<TNetText &>(p).Body);
    }
    if (r.type == "message/rfc822") {
        auto inner = NetCreateNoOwner<TNetMessage>();
        TNetStringMessageSource src(r.data, false);
        inner->ReceiveHeader(src);
        r.data = inner->Subject;
    }
    r.data = Normal(r.type, r.data);
    return r;
}

View FromUs(TNetMessage &m) {
    View v;
    v.type = LowerCase(m.ContentType);
    for (int i = 0; i < m.Recipients.Count(); ++i) v.to.push_back(m.Recipients[i].Name + "|" + m.Recipients[i].Address);
    for (int i = 0; i < m.CCList.Count(); ++i) v.cc.push_back(m.CCList[i].Name + "|" + m.CCList[i].Address);
    if (m.Parts.Count() == 0)
        v.parts.push_back({v.type, LowerCase(m.CharSet), "", Normal(v.type, Joined(m.Body))});
    for (int i = 0; i < m.Parts.Count(); ++i)
        if (!StartsText("multipart/", m.Parts[i].ContentType())) v.parts.push_back(Ours(m.Parts[i]));
    return v;
}

void ExpectSame(const View &ours, const View &python, const std::string &what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(ours.type, python.type);
    EXPECT_EQ(ours.to, python.to);
    EXPECT_EQ(ours.cc, python.cc);
    ASSERT_EQ(ours.parts.size(), python.parts.size());
    for (size_t i = 0; i < ours.parts.size(); ++i) {
        SCOPED_TRACE("part " + std::to_string(i));
        EXPECT_EQ(ours.parts[i].type, python.parts[i].type);
        EXPECT_EQ(ours.parts[i].charset, python.parts[i].charset);
        EXPECT_EQ(ours.parts[i].name, python.parts[i].name);
        EXPECT_EQ(ours.parts[i].data, python.parts[i].data);
    }
}

std::vector<std::pair<std::string, std::string>> AllMessages() {
    auto all = HandWritten();
    std::string hex = PythonRun(kGenerate);
    std::istringstream in(hex);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) all.push_back({"generated " + std::to_string(n), Unhex(line)});
    return all;
}

std::unique_ptr<TNetMessage> Read(const std::string &raw) {
    auto m = NetCreateNoOwner<TNetMessage>();
    TNetStringMessageSource src(raw, false);
    if (m->ReceiveHeader(src)) m->ReceiveBody(src);
    return m;
}

class MessageRealWorld : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
        SetNetTempFolder(Dir.File("tmp"));
    }
    void TearDown() override { SetNetTempFolder(""); }
    TempDir Dir;
};

TEST_F(MessageRealWorld, ReadsAndSavesWhatPythonReads) {
    auto all = AllMessages();
    ASSERT_EQ(all.size(), HandWritten().size() + 2);
    std::vector<std::string> raws, saved;
    for (auto &[name, raw] : all) raws.push_back(raw);
    std::vector<std::string> python = PythonMap(kPythonRead, raws);
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string &name = all[i].first;
        auto m = Read(raws[i]);
        EXPECT_TRUE(m->ParseErrors.Empty()) << name << ": " << m->ParseErrors.Text();
        View reference = FromPython(python[i]);
        ExpectSame(FromUs(*m), reference, name);
        // Saved as ".eml" and loaded back: the same parts.
        std::string path = Dir.File("saved" + std::to_string(i) + ".eml");
        m->SaveToFile(path);
        auto back = NetCreateNoOwner<TNetMessage>();
        back->LoadFromFile(path);
        ExpectSame(FromUs(*back), reference, name + ", saved and loaded");
        saved.push_back(ReadFileToString(path));
    }
    // And Python reads the saved files as it read the originals.
    std::vector<std::string> again = PythonMap(kPythonRead, saved);
    for (size_t i = 0; i < all.size(); ++i) ExpectSame(FromPython(again[i]), FromPython(python[i]), all[i].first + ", saved, by Python");
}

TEST_F(MessageRealWorld, EachFaultSeparately) {
    auto byName = [](const std::string &name) {
        for (auto &[n, raw] : HandWritten())
            if (n == name) return Read(raw);
        ADD_FAILURE() << name;
        return Read("");
    };
    // The boundary, set, names and continuations of RFC 2231.
    auto m = byName("rfc2231");
    ASSERT_EQ(m->Parts.Count(), 4);
    EXPECT_EQ(m->Body.Text(), TStringList{"preamble"}.Text());
    EXPECT_EQ(m->Parts[0].CharSet, "ISO-8859-1");
    EXPECT_EQ(dynamic_cast<TNetText &>(m->Parts[0]).Body[0], "Gr\xFC\xDF" "e");
    EXPECT_EQ(dynamic_cast<TNetAttachment &>(m->Parts[1]).FileName, CleanAttachmentFileName("This is even more ***fun*** isn't it!"));
    EXPECT_EQ(HeaderParameter(m->Parts[2].Headers.GetValue("Content-Disposition"), "filename"),
              "Stra\xC3\x9F" "e \xE2\x82\xAC.txt");
    // A plain name= beside the extended filename: the filename counts.
    EXPECT_EQ(HeaderParameter(m->Parts[3].Headers.GetValue("Content-Disposition"), "filename"),
              "\xC3\xBC" "bersicht teil zwei.pdf");
    // Text, not an unnamed attachment.
    m = byName("no subtype");
    EXPECT_EQ(m->ContentType, "text/plain");
    EXPECT_EQ(m->Parts.Count(), 0);
    EXPECT_EQ(m->Body.Text(), TStringList{"Just text, not an attachment."}.Text());
    // No parts, and a save keeps the text before the line.
    m = byName("boundary on text");
    EXPECT_EQ(m->Parts.Count(), 0);
    EXPECT_EQ(m->Body.Count(), 7);
    TMemoryStream out;
    m->SaveToStream(out);
    EXPECT_NE(out.DataString().find("\r\n\r\nBefore the line.\r\n--x\r\n"), std::string::npos) << out.DataString();
    // A digest's parts are messages; without MIME-Version parts are text.
    m = byName("digest");
    ASSERT_EQ(m->Parts.Count(), 3);
    EXPECT_EQ(m->Parts[0].ContentType(), "message/rfc822");
    EXPECT_EQ(m->Parts[1].ContentType(), "text/plain");
    m = byName("no MIME-Version");
    ASSERT_EQ(m->Parts.Count(), 4);
    EXPECT_EQ(m->Parts[0].ContentType(), "text/plain");
    EXPECT_EQ(m->Parts[2].ContentType(), "message/rfc822");
    // The body lines after part headers without their empty line.
    m = byName("no blank line");
    ASSERT_EQ(m->Parts.Count(), 2);
    EXPECT_EQ(dynamic_cast<TNetText &>(m->Parts[0]).Body.Text(),
              TStringList({"Hello there, no blank line above.", "Second line: with a colon."}).Text());
    EXPECT_EQ(m->Parts[0].CharSet, "UTF-8");
    // A header block without its empty line ends at the first line that is
    // no field; that line and the rest are the body.
    m = byName("no separating line");
    EXPECT_EQ(m->Subject, "the headers run into the body");
    EXPECT_EQ(m->Recipients.Count(), 1);
    EXPECT_EQ(m->Headers.Count(), 3);
    EXPECT_EQ(m->Body.Text(), TStringList({"counter to RFC 2822, there's no separating newline here",
                                           "Second: line, with a colon"}).Text());
    // A message without a header: all of it is body.
    m = byName("no header at all");
    EXPECT_EQ(m->Headers.Count(), 0);
    EXPECT_EQ(m->Subject, "");
    EXPECT_EQ(m->Body.Text(), TStringList({"Hello there,", "this message starts with its text.",
                                           "Subject: not a header here"}).Text());
    // Every address of every To and Cc field.
    m = byName("repeated fields");
    EXPECT_EQ(m->Recipients.Count(), 3);
    EXPECT_EQ(m->CCList.Count(), 2);
    EXPECT_EQ(m->Recipients[1].Name, "Two, Person");
}

// Header blocks that end without their empty line, and values folded with
// tabs and runs of blanks: the same values and body as Python's parser
// (whose unfolding removes the line breaks only), read from a literal and
// from a dot-terminated answer.
TEST_F(MessageRealWorld, HeaderBlocksEndAndUnfoldAsPythonReadsThem) {
    const std::vector<std::string> raws = {
        Crlf("From: a@example.org\nSubject: folded\n   over  two lines\nX-Folded: one\n\ttwo\n \t three \n"
             "counter to RFC 2822, there's no separating newline here\nSecond: line\n"),
        Crlf("X-Folded: a,\n\tb\nSubject: =?utf-8?q?caf=C3=A9?=\n\t=?utf-8?q?_au_lait?=\nDate: Mon, 6 Jan 2025\n"
             "\t10:11:12 +0000\nContent-Type: text/plain;\n\tcharset=\"iso-8859-1\"\n\nbody line\n"),
        Crlf("Dear reader:\n  this message starts with its text.\n\nSubject: body too\n"),
    };
    auto python = PythonMap(R"PY(
from email import policy
from email.parser import BytesParser
def f(b):
    m = BytesParser(policy=policy.default).parsebytes(b)
    v = lambda k: str(m[k]).strip().encode() if k in m else b''
    return b'\0'.join([v('Subject'), v('X-Folded'), m.get_payload(decode=True) or b''])
)PY", raws);
    for (size_t i = 0; i < raws.size(); ++i) {
        std::vector<std::string> want;
        std::istringstream in(python[i]);
        for (std::string field; std::getline(in, field, '\0');) want.push_back(field);
        want.resize(3);
        for (bool dotted : {false, true}) {
            SCOPED_TRACE(testing::Message() << "message " << i << (dotted ? ", dot-terminated" : ", literal"));
            auto m = NetCreateNoOwner<TNetMessage>();
            TNetStringMessageSource src(dotted ? raws[i] + ".\r\n" : raws[i], dotted);
            if (m->ReceiveHeader(src)) m->ReceiveBody(src);
            EXPECT_EQ(m->Subject, want[0]);
            EXPECT_EQ(m->Headers.GetValue("X-Folded"), want[1]);
            EXPECT_EQ(Normal("text/plain", Joined(m->Body)), Normal("text/plain", want[2]));
            if (i == 1) {
                // Fields folded at a tab read as they do on one line.
                EXPECT_EQ(m->Date, GMTToLocalDateTime("Mon, 6 Jan 2025 10:11:12 +0000"));
                EXPECT_EQ(m->CharSet, "ISO-8859-1");
            }
        }
    }
}

TEST(MessageRealWorldDovecot, DeliveredCopiesFetchedOverIMAPAgreeWithImaplib) {
    std::string why = DovecotServer::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    if (!PythonAvailable()) GTEST_SKIP() << "python3 missing";
    TempDir dir;
    SetNetTempFolder(dir.File("tmp"));
    DovecotServer server;
    auto all = AllMessages();
    for (auto &[name, raw] : all) server.DeliverMessage(server.UserName(), raw);

    // What imaplib fetches of each, read by Python.
    std::string script = R"PY(
import imaplib, sys
host, port, user, password, count = sys.argv[1:]
m = imaplib.IMAP4(host, int(port), timeout=20)
m.login(user, password)
m.select('INBOX')
out = []
for n in range(1, int(count) + 1):
    out.append(m.fetch(str(n), '(BODY.PEEK[])')[1][0][1].hex())
m.logout()
sys.stdout.write('\n'.join(out))
)PY";
    std::string hex = PythonRun(script, {server.Host(), std::to_string(server.ImapPort()), server.UserName(),
                                         server.Password(), std::to_string(all.size())});
    std::vector<std::string> stored;
    std::istringstream in(hex);
    for (std::string line; std::getline(in, line);) stored.push_back(Unhex(line));
    ASSERT_EQ(stored.size(), all.size());
    std::vector<std::string> python = PythonMap(kPythonRead, stored);

    auto c = NetCreateNoOwner<TNetIMAP4>();
    c->SetHost(server.Host());
    c->SetPort(server.ImapPort());
    c->Username = server.UserName();
    c->Password = server.Password();
    c->SetReadTimeout(20000);
    c->Connect(true);
    ASSERT_TRUE(c->SelectMailBox("INBOX"));
    ASSERT_EQ(c->MailBox()->TotalMsgs, int(all.size()));
    for (size_t i = 0; i < all.size(); ++i) {
        auto m = NetCreateNoOwner<TNetMessage>();
        ASSERT_TRUE(c->RetrieveMessage(int(i) + 1, *m, true));
        ExpectSame(FromUs(*m), FromPython(python[i]), all[i].first + ", delivered");
        EXPECT_FALSE(c->GetMessageFlags(int(i) + 1));
    }
    c->Disconnect();
    SetNetTempFolder("");
}

}  // namespace
