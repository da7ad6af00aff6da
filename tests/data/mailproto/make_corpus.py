# Builds a corpus of messages with Python's email package and writes, beside
# each NN.eml, NN.expect: what Python's parser reads from it. Lines:
#   subject <hex>            decoded subject (UTF-8)
#   addr <field> <hex name> <hex address>
#   header <name> <hex value, white space collapsed>
#   part <hex content type> <hex file name> <hex payload>
# Usage: make_corpus.py OUTDIR
import base64, io, os, random, sys, uu
from email import policy
from email.header import Header, decode_header, make_header
from email.mime.application import MIMEApplication
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.parser import BytesParser
from email.utils import getaddresses

out = sys.argv[1]
rnd = random.Random(1208)
msgs = []

def blob(n):
    return bytes(rnd.getrandbits(8) for _ in range(n))

def base(m, subject, frm='Alice Example <alice@example.org>', to='bob@example.net'):
    m['Subject'] = subject
    m['From'] = frm
    m['To'] = to
    m['Date'] = 'Tue, 7 Dec 2004 10:20:30 +0200'
    m['Message-ID'] = '<%d@corpus.example>' % len(msgs)
    return m

# 0: mixed, QP text with non-ASCII, base64 attachment
m = MIMEMultipart('mixed')
base(m, 'Mixed message')
m.attach(MIMEText('Hyv\u00e4\u00e4 p\u00e4iv\u00e4\u00e4!\nSecond line with = sign and a long line ' + 'x' * 100 + '\n', 'plain', 'utf-8'))
a = MIMEApplication(blob(10000), 'octet-stream')
a.add_header('Content-Disposition', 'attachment', filename='data.bin')
m.attach(a)
msgs.append(m)

# 1: alternative
m = MIMEMultipart('alternative')
base(m, 'Alternative', frm='"Doe, Jane" <jane@example.org>', to='a@x.example, "B, b" <b@y.example>')
m.attach(MIMEText('plain text\n', 'plain', 'us-ascii'))
m.attach(MIMEText('<p>html text</p>\n', 'html', 'us-ascii'))
msgs.append(m)

# 2: nested mixed(alternative(plain, html), image)
m = MIMEMultipart('mixed')
base(m, 'Nested')
alt = MIMEMultipart('alternative')
alt.attach(MIMEText('nested plain\n', 'plain', 'iso-8859-1'))
alt.attach(MIMEText('<b>nested html \u00e9</b>\n', 'html', 'iso-8859-1'))
m.attach(alt)
img = MIMEBase('image', 'png')
img.set_payload(blob(3000))
from email import encoders
encoders.encode_base64(img)
img.add_header('Content-Disposition', 'attachment', filename='picture.png')
m.attach(img)
m.attach(MIMEText('after the image\n', 'plain', 'us-ascii'))
msgs.append(m)

# 3-7: encoded-word subjects in several sets
for text, cs in [('caf\u00e9 cr\u00e8me', 'iso-8859-1'), ('\u041f\u0440\u0438\u0432\u0435\u0442 \u043c\u0438\u0440', 'koi8-r'),
                 ('\u65e5\u672c\u8a9e\u306e\u4ef6\u540d', 'iso-2022-jp'), ('\u041f\u0440\u0438\u0432\u0435\u0442', 'windows-1251'),
                 ('emoji \U0001F600 and \u00fc', 'utf-8')]:
    m = MIMEText('body\n', 'plain', 'us-ascii')
    base(m, Header(text, cs).encode(), frm=Header('J\u00fcrgen M\u00fcller', 'iso-8859-1').encode() + ' <jm@example.de>')
    msgs.append(m)

# 8: UUE body in a plain message
data = blob(2000)
buf = io.BytesIO()
uu.encode(io.BytesIO(data), buf, 'uufile.bin', 0o644)
m = MIMEText('Here is the file:\n\n' + buf.getvalue().decode() + '\nThanks.\n', 'plain', 'us-ascii')
del m['MIME-Version']
del m['Content-Type']
del m['Content-Transfer-Encoding']
base(m, 'UUE')
msgs.append(m)

# 9: no body at all
m = MIMEText('', 'plain', 'us-ascii')
base(m, 'Empty')
msgs.append(m)

# 10: 1000 folded lines
m = MIMEText('short\n', 'plain', 'us-ascii')
base(m, 'Folded')
msgs.append(m)

# 11: single-part base64 text
# (UTF-8 text goes out in base64.)
m = MIMEText('line one\nline two \u00e4\n' * 20, 'plain', 'utf-8')
msgs.append(base(m, 'Single base64'))

# 12: single-part QP text with leading dots
m = MIMEText('.leading dot\n..two dots\n.\nend \u00e9\n', 'plain', 'iso-8859-1')
del m['Content-Transfer-Encoding']
m.set_payload(None)
m.set_payload('.leading dot\n..two dots\n.\nend \u00e9\n'.encode('iso-8859-1'))
encoders.encode_quopri(m)
msgs.append(base(m, 'Single QP'))

# 13: plain 8-bit text with dots
m = MIMEText('.\n..\nplain\n', 'plain', 'us-ascii')
msgs.append(base(m, 'Dots'))

# 14: a quoted-printable and a 7bit attachment beside a text
m = MIMEMultipart('mixed')
base(m, 'QP and 7bit attachments')
m.attach(MIMEText('see the invitation\n', 'plain', 'us-ascii'))
ics = MIMEBase('text', 'calendar')
ics.set_payload('BEGIN:VCALENDAR\nSUMMARY:caf\u00e9 = meeting\n.hidden dot\nEND:VCALENDAR\n'.encode('utf-8'))
encoders.encode_quopri(ics)
ics.add_header('Content-Disposition', 'attachment', filename='invite.ics')
m.attach(ics)
notes = MIMEBase('text', 'plain')
notes.set_payload('plain attachment\nsecond line\n')
notes['Content-Transfer-Encoding'] = '7bit'
notes.add_header('Content-Disposition', 'attachment', filename='notes.txt')
m.attach(notes)
msgs.append(m)

for i, m in enumerate(msgs):
    raw = m.as_bytes(policy=policy.SMTP)
    if i == 10:
        hdr = b'X-Long: start\r\n' + b''.join(b'\tpart%d\r\n' % k for k in range(1000))
        raw = hdr + raw
    name = os.path.join(out, '%02d' % i)
    open(name + '.eml', 'wb').write(raw)
    p = BytesParser(policy=policy.compat32).parsebytes(raw)
    lines = []
    subj = str(make_header(decode_header(p['Subject']))) if p['Subject'] is not None else ''
    lines.append('subject ' + subj.encode().hex())
    for field in ('From', 'To'):
        for n, a in getaddresses(p.get_all(field, [])):
            n = str(make_header(decode_header(n))) if n else ''
            lines.append('addr %s %s %s' % (field, n.encode().hex() or '-', a.encode().hex() or '-'))
    if p['X-Long']:
        lines.append('header X-Long ' + ' '.join(str(p['X-Long']).split()).encode().hex())
    for part in p.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b''
        fn = part.get_filename() or ''
        ct = part.get_content_type()
        if i == 8:
            # Python leaves UUE inside the text; the expected split is made here.
            text = payload.decode().replace('\r\n', '\n')
            s, e = text.index('begin 644'), text.index('\nend\n') + 5
            # The empty line right before "begin" goes with the file.
            prefix = text[:s][:-1] if text[:s].endswith('\n\n') else text[:s]
            lines.append('part %s %s %s' % ('text/plain'.encode().hex(), '-', (prefix + text[e:]).encode().hex()))
            lines.append('part %s %s %s' % (b'uue'.hex(), b'uufile.bin'.hex(), data.hex()))
            continue
        lines.append('part %s %s %s' % (ct.encode().hex(), fn.encode().hex() or '-', payload.hex() or '-'))
    open(name + '.expect', 'w').write('\n'.join(lines) + '\n')
