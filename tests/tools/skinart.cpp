// skinart: draws the skins that ship with Tarnwick, every picture of them,
// and their ".skn" descriptions, into a skins folder:
//
//   skinart [SKINS_FOLDER]          (default: skins)
//
// The preview for the Options dialog is the real main window with the skin
// loaded, photographed offscreen. Run it again after changing a drawing and
// commit what it writes.
#include <QApplication>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "Desktop.h"
#include "mainwindow/FrmMain.h"
#include "settings/ProgramPaths.h"
#include "mainwindow/SkinPictures.h"
#include "SysUtils.h"

namespace {

// Colours as a ".skn" file writes them: blue-green-red numbers.
int Bgr(int r, int g, int b) { return r | g << 8 | b << 16; }

const QColor Key(255, 0, 255);  // the buttons' see-through colour (their bottom-left pixel)
const QColor MaskWhite(255, 255, 255), MaskRed(255, 0, 0), MaskBlue(0, 0, 255);

void Save(const QImage &image, const std::string &path) {
    if (!image.save(QString::fromStdString(path), nullptr, 92)) {
        std::fprintf(stderr, "skinart: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// The pixels of the window's shape that touch the cut-away part take the
// outline colour, so the edge is one crisp line whatever the shape.
void Outline(QImage &back, const QImage &mask, QColor colour) {
    auto kept = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < mask.width() && y < mask.height() &&
               (MaskClassAt(mask, x, y) == mcWhite || MaskClassAt(mask, x, y) == mcRed);
    };
    for (int y = 0; y < back.height(); ++y)
        for (int x = 0; x < back.width(); ++x)
            if (kept(x, y) && (!kept(x - 1, y) || !kept(x + 1, y) || !kept(x, y - 1) || !kept(x, y + 1)))
                back.setPixelColor(x, y, colour);
}

// ---- buttons -------------------------------------------------------------------

enum TGlyph { gClose, gBack, gForward, gAccBack, gAccForward };

void DrawGlyph(QPainter &p, TGlyph g, QRectF r, QColor colour) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPointF c = r.center();
    p.setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(colour);
    const double s = std::min(r.width(), r.height()) / 2 - 4;
    auto triangle = [&](double dx, double dir, double size) {
        QPolygonF t{QPointF(c.x() + dx - dir * size * 0.5, c.y() - size * 0.75),
                    QPointF(c.x() + dx + dir * size * 0.6, c.y()),
                    QPointF(c.x() + dx - dir * size * 0.5, c.y() + size * 0.75)};
        p.setPen(QPen(colour, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolygon(t);
    };
    switch (g) {
    case gClose:
        p.drawLine(QPointF(c.x() - s * 0.7, c.y() - s * 0.7), QPointF(c.x() + s * 0.7, c.y() + s * 0.7));
        p.drawLine(QPointF(c.x() + s * 0.7, c.y() - s * 0.7), QPointF(c.x() - s * 0.7, c.y() + s * 0.7));
        break;
    case gBack:
        triangle(0, -1, s * 1.1);
        break;
    case gForward:
        triangle(0, 1, s * 1.1);
        break;
    case gAccBack:
        triangle(-s * 0.45, -1, s * 0.9);
        triangle(s * 0.45, -1, s * 0.9);
        break;
    case gAccForward:
        triangle(-s * 0.45, 1, s * 0.9);
        triangle(s * 0.45, 1, s * 0.9);
        break;
    }
    p.restore();
}

struct TButtonLook {
    bool Round;
    QColor Top[3], Bottom[3], Border[3], Glyph[3];
};

// One picture of a button in state 1 (normal), 2 (hover) or 3 (pressed).
QImage ButtonPicture(int w, int h, TGlyph glyph, const TButtonLook &look, int state) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Key);
    QPainter p(&img);
    // The outline is drawn without smoothing, so no pixel blends with the
    // see-through colour.
    p.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, look.Top[state - 1]);
    g.setColorAt(1, look.Bottom[state - 1]);
    p.setBrush(g);
    p.setPen(look.Border[state - 1]);
    QRect r(0, 0, w - 1, h - 1);
    if (look.Round)
        p.drawEllipse(r);
    else
        p.drawRoundedRect(r, 4, 4);
    QRectF inner(1, 1, w - 2, h - 2);
    if (state == 3)
        inner.translate(1, 1);
    DrawGlyph(p, glyph, inner, look.Glyph[state - 1]);
    p.end();
    return img;
}

void WriteButtons(const std::string &dir, int w, int h, const TButtonLook &look, const TButtonLook &closeLook) {
    const std::pair<const char *, TGlyph> buttons[] = {
        {"exit", gClose}, {"back", gBack}, {"forward", gForward}, {"acc_b", gAccBack}, {"acc_f", gAccForward}};
    for (const auto &[base, glyph] : buttons)
        for (int state = 1; state <= 3; ++state)
            Save(ButtonPicture(w, h, glyph, glyph == gClose ? closeLook : look, state),
                 dir + base + IntToStr(state) + ".bmp");
}

// ---- the ".skn" ---------------------------------------------------------------------

struct TPlace {
    const char *Section;
    int Left, Top, Width, Height;
    std::string Font, Alignment;
};

std::string Skn(const std::string &name, const std::string &other, const std::vector<TPlace> &buttons,
                const std::vector<TPlace> &labels) {
    std::string s = "[About]\r\nVersion=1.0\r\nAuthor=Tarnwick team\r\nAuthorEmail=\r\nOther=" + other + "\r\n";
    for (const TPlace &b : buttons)
        s += "\r\n[" + std::string(b.Section) + "]\r\nVisible=True\r\nTransparent=True\r\nLeft=" +
             IntToStr(b.Left) + "\r\nTop=" + IntToStr(b.Top) + "\r\n";
    for (const TPlace &l : labels)
        s += "\r\n[" + std::string(l.Section) + "]\r\nVisible=True\r\nLeft=" + IntToStr(l.Left) +
             "\r\nTop=" + IntToStr(l.Top) + "\r\nFont=" + l.Font + "\r\nWidth=" + IntToStr(l.Width) +
             "\r\nHeight=" + IntToStr(l.Height) + "\r\nAlignment=" + l.Alignment + "\r\n";
    (void)name;
    return s;
}

std::string Font(int points, int colour, bool bold) {
    return "MS Sans Serif,1," + IntToStr(colour) + "," + IntToStr(points) + "," + (bold ? "1" : "0");
}

// ---- Default: a blue title and foot around a paper-white message --------------------------

void DrawDefault(const std::string &dir) {
    const int W = 273, H = 153;
    const QColor edge(14, 45, 82);
    QPainterPath outer;
    outer.addRoundedRect(QRectF(0, 0, W, H), 11, 11);

    QImage mask(W, H, QImage::Format_RGB32);
    mask.fill(MaskBlue);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillPath(outer, MaskRed);
        // The message area is the window's own; title and foot drag it.
        p.fillRect(QRect(1, 25, W - 2, 100), MaskWhite);
        // Under the buttons the clicks are theirs.
        for (QRect r : {QRect(247, 4, 20, 17), QRect(7, 130, 20, 18), QRect(73, 130, 20, 18),
                        QRect(100, 130, 20, 18), QRect(122, 130, 20, 18)})
            p.fillRect(r, MaskWhite);
    }

    QImage back(W, H, QImage::Format_RGB32);
    back.fill(edge);
    {
        QPainter p(&back);
        p.setRenderHint(QPainter::Antialiasing);
        p.setClipPath(outer);
        QLinearGradient title(0, 0, 0, 25);
        title.setColorAt(0, QColor(52, 124, 194));
        title.setColorAt(1, QColor(27, 79, 138));
        p.fillRect(QRect(0, 0, W, 25), title);
        p.fillRect(QRect(0, 1, W, 1), QColor(110, 170, 225));
        p.fillRect(QRect(0, 25, W, 100), QColor(232, 239, 247));
        QLinearGradient foot(0, 125, 0, H);
        foot.setColorAt(0, QColor(27, 79, 138));
        foot.setColorAt(1, QColor(18, 56, 100));
        p.fillRect(QRect(0, 125, W, H - 125), foot);
        p.fillRect(QRect(0, 125, W, 1), QColor(10, 35, 66));
        // The paper the message is written on.
        p.setPen(QColor(181, 198, 218));
        p.setBrush(QColor(252, 253, 255));
        p.drawRoundedRect(QRectF(5.5, 27.5, W - 11, 95), 5, 5);
        // A faint rule between sender and subject.
        p.fillRect(QRect(13, 58, W - 26, 1), QColor(222, 230, 240));
    }
    Outline(back, mask, edge);

    Save(back, dir + "back.bmp");
    Save(mask, dir + "back_mask.bmp");
    TButtonLook look{false,
                     {QColor(74, 143, 214), QColor(110, 175, 238), QColor(24, 70, 124)},
                     {QColor(36, 96, 160), QColor(58, 127, 196), QColor(20, 58, 104)},
                     {QColor(12, 40, 74), QColor(200, 225, 250), QColor(8, 28, 54)},
                     {QColor(255, 255, 255), QColor(255, 255, 255), QColor(205, 220, 238)}};
    TButtonLook close{false,
                      {QColor(214, 96, 90), QColor(240, 122, 116), QColor(150, 48, 44)},
                      {QColor(168, 58, 54), QColor(206, 80, 76), QColor(120, 36, 34)},
                      {QColor(90, 24, 22), QColor(255, 210, 205), QColor(70, 18, 16)},
                      {QColor(255, 255, 255), QColor(255, 255, 255), QColor(240, 210, 208)}};
    WriteButtons(dir, 20, 18, look, close);
    // The close button is the one at the title; the others sit in the foot.
    for (int state = 1; state <= 3; ++state)
        Save(ButtonPicture(20, 17, gClose, close, state), dir + "exit" + IntToStr(state) + ".bmp");

    const int white = Bgr(255, 255, 255), pale = Bgr(205, 224, 246), navy = Bgr(29, 78, 137);
    const int ink = Bgr(16, 24, 36);
    std::vector<TPlace> buttons{{"btExit", 247, 4, 0, 0, "", ""},
                                {"btBack", 7, 130, 0, 0, "", ""},
                                {"btForward", 73, 130, 0, 0, "", ""},
                                {"btAccBack", 100, 130, 0, 0, "", ""},
                                {"btAccForward", 122, 130, 0, 0, "", ""}};
    std::vector<TPlace> labels{{"LabelAccount", 10, 5, 122, 15, Font(8, white, true), "taLeftJustify"},
                               {"LabelDate", 134, 6, 109, 14, Font(8, pale, false), "taRightJustify"},
                               {"LabelFr", 13, 30, 150, 14, Font(8, navy, false), "taLeftJustify"},
                               {"LabelFrom", 13, 42, 248, 16, Font(10, ink, true), "taLeftJustify"},
                               {"LabelSbj", 13, 61, 150, 14, Font(8, navy, false), "taLeftJustify"},
                               {"LabelSubject", 13, 74, 248, 48, Font(10, ink, false), "taLeftJustify"},
                               {"LabelYGM", 146, 133, 119, 14, Font(8, white, false), "taRightJustify"},
                               {"LabelMNums", 28, 132, 44, 14, Font(8, white, true), "taCenter"}};
    std::string skn = Skn("Default", "The skin Tarnwick starts with", buttons, labels);
    WriteFileAtomic(dir + "Default.skn", skn);
}

// ---- Nightfall: a dark panel with a tab, round buttons, a JPEG background -----------------

void DrawNightfall(const std::string &dir) {
    const int W = 300, H = 160;
    const QColor edge(56, 198, 217);
    QPainterPath tab, body, shape;
    tab.addRoundedRect(QRectF(0, 0, 170, 40), 9, 9);
    body.addRoundedRect(QRectF(0, 24, W, H - 24), 15, 15);
    shape = tab.united(body);

    QImage mask(W, H, QImage::Format_RGB32);
    mask.fill(MaskBlue);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillPath(shape, MaskWhite);
        // The tab and the grip along the left edge drag the window.
        p.setClipPath(shape);
        p.fillRect(QRect(0, 0, 170, 24), MaskRed);
        p.fillRect(QRect(0, 24, 13, H - 24), MaskRed);
    }

    QImage back(W, H, QImage::Format_RGB32);
    back.fill(QColor(10, 14, 24));
    {
        QPainter p(&back);
        p.setRenderHint(QPainter::Antialiasing);
        p.setClipPath(shape);
        QLinearGradient g(0, 0, 0, H);
        g.setColorAt(0, QColor(36, 50, 84));
        g.setColorAt(0.16, QColor(28, 38, 64));
        g.setColorAt(1, QColor(12, 18, 32));
        p.fillRect(QRect(0, 0, W, H), g);
        // The tab is a shade lighter, with a bright rule under it.
        p.fillRect(QRect(0, 0, 170, 24), QColor(40, 56, 94));
        p.fillRect(QRect(13, 24, W, 2), QColor(56, 198, 217));
        // The grip: a column of dots.
        p.fillRect(QRect(0, 24, 13, H - 24), QColor(22, 30, 52));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 120, 170));
        for (int y = 40; y < H - 16; y += 8)
            p.drawEllipse(QPointF(6.5, y), 1.6, 1.6);
        // A faint moon behind the text.
        QRadialGradient moon(QPointF(W - 50, 70), 60);
        moon.setColorAt(0, QColor(60, 80, 120, 90));
        moon.setColorAt(1, QColor(60, 80, 120, 0));
        p.setBrush(moon);
        p.drawEllipse(QPointF(W - 50, 70), 60, 60);
        p.fillRect(QRect(22, 127, W - 34, 1), QColor(52, 70, 110));
    }
    Outline(back, mask, edge);

    Save(back, dir + "back.jpg");
    Save(mask, dir + "back_mask.bmp");
    TButtonLook look{true,
                     {QColor(40, 112, 130), QColor(58, 160, 184), QColor(18, 70, 84)},
                     {QColor(22, 70, 84), QColor(36, 112, 130), QColor(12, 48, 58)},
                     {QColor(56, 198, 217), QColor(190, 245, 252), QColor(40, 150, 166)},
                     {QColor(224, 247, 250), QColor(255, 255, 255), QColor(170, 215, 222)}};
    TButtonLook close{true,
                      {QColor(150, 60, 66), QColor(196, 84, 90), QColor(104, 36, 40)},
                      {QColor(100, 34, 40), QColor(140, 54, 60), QColor(70, 22, 26)},
                      {QColor(230, 110, 110), QColor(255, 200, 200), QColor(180, 80, 80)},
                      {QColor(255, 230, 230), QColor(255, 255, 255), QColor(220, 180, 180)}};
    WriteButtons(dir, 22, 22, look, close);

    const int light = Bgr(232, 238, 247), cyan = Bgr(56, 198, 217), dim = Bgr(150, 168, 200);
    std::vector<TPlace> buttons{{"btExit", 270, 31, 0, 0, "", ""},
                                {"btBack", 22, 132, 0, 0, "", ""},
                                {"btForward", 96, 132, 0, 0, "", ""},
                                {"btAccBack", 126, 132, 0, 0, "", ""},
                                {"btAccForward", 150, 132, 0, 0, "", ""}};
    std::vector<TPlace> labels{{"LabelAccount", 14, 5, 150, 15, Font(8, light, true), "taLeftJustify"},
                               {"LabelDate", 150, 33, 114, 14, Font(8, dim, false), "taRightJustify"},
                               {"LabelFr", 22, 33, 120, 14, Font(8, cyan, false), "taLeftJustify"},
                               {"LabelFrom", 22, 46, 268, 16, Font(10, light, true), "taLeftJustify"},
                               {"LabelSbj", 22, 66, 120, 14, Font(8, cyan, false), "taLeftJustify"},
                               {"LabelSubject", 22, 79, 268, 46, Font(10, light, false), "taLeftJustify"},
                               {"LabelYGM", 176, 137, 114, 14, Font(8, dim, false), "taRightJustify"},
                               {"LabelMNums", 46, 136, 48, 14, Font(8, light, true), "taCenter"}};
    WriteFileAtomic(dir + "Nightfall.skn", Skn("Nightfall", "Dark, with a tab to hold it by", buttons, labels));
}

// ---- the preview ---------------------------------------------------------------------------

// The main window with the skin and a sample message, its cut-away parts
// on the grey of a dialog.
QImage Preview(TFrmMain &form, const std::string &skin) {
    Tiedot &t = form.State.Accounts[0];
    form.LoadSkin(skin, false);
    form.ApplySkinRegion();
    form.LabelFr->setText("From");
    form.LabelSbj->setText("Subject");
    form.State.Accounts.ShownIndex = 0;
    t.Shown = 1;
    form.ShowMessageStep(2);
    QImage shot = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage out(shot.size(), QImage::Format_RGB32);
    out.fill(QColor(212, 208, 200));
    QPainter p(&out);
    p.setClipRegion(form.SkinRegion);
    p.drawImage(0, 0, shot);
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string skins = argc > 1 ? argv[1] : "skins";
    skins = IncludeTrailingPathDelimiter(QDir(QString::fromStdString(skins)).absolutePath().toStdString());
    ForceDirectories(skins + "Default");
    ForceDirectories(skins + "Nightfall");
    DrawDefault(skins + "Default/");
    DrawNightfall(skins + "Nightfall/");

    // A program folder of its own whose "skins" is the folder just drawn,
    // so the window touches nothing else.
    TRecordingDesktop desktop;
    SetDesktop(&desktop);
    std::string prog = IncludeTrailingPathDelimiter(QDir::tempPath().toStdString()) + "skinart-" +
                       IntToStr(QCoreApplication::applicationPid()) + "/";
    ForceDirectories(prog);
    QFile::link(QString::fromStdString(ExcludeTrailingPathDelimiter(skins)), QString::fromStdString(prog + "skins"));
    SetProgramFolder(prog);
    {
        TFrmMain form;
        form.AddAccount();
        Tiedot &t = form.State.Accounts[0];
        t.Name = "Work mail";
        t.NewCount = 3;
        for (int i = 0; i < 3; ++i) {
            t.Senders.Add("Anna Virtanen <anna@example.org>");
            t.Addresses.Add("anna@example.org");
            t.Subjects.Add("Minutes of Tuesday's meeting and the plan for next week");
            t.Dates.Add("14:05    09.12.2025");
        }
        form.State.Accounts.TotalNew = 3;
        Save(Preview(form, "Default"), skins + "Default/screenshot.bmp");
        Save(Preview(form, "Nightfall"), skins + "Nightfall/screenshot.jpg");
        form.Timer2->SetEnabled(false);
        form.Timer3->SetEnabled(false);
    }
    SetDesktop(nullptr);
    QFile::remove(QString::fromStdString(prog + "skins"));
    QDir(QString::fromStdString(prog)).removeRecursively();
    std::printf("skinart: skins written to %s\n", skins.c_str());
    return 0;
}
