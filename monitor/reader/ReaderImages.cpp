#include "ReaderImages.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

#include "mainwindow/IconArt.h"

namespace {

const QColor kInk(0x33, 0x42, 0x55);
const QColor kPaper(0xF7, 0xF2, 0xE4);
const QColor kPaperShade(0xE2, 0xD8, 0xBE);

QIcon MakeIcon(const std::function<void(QPainter &)> &draw, std::initializer_list<int> sizes) {
    return DrawnIcon(draw, sizes);
}

void Envelope(QPainter &p, QRectF body, bool open = false) {
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, kPaper);
    fill.setColorAt(1, kPaperShade);
    p.setPen(QPen(kInk, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawRoundedRect(body, 1.5, 1.5);
    QPainterPath flap;
    flap.moveTo(body.left() + 0.6, body.top() + 0.8);
    flap.lineTo(body.center().x(), body.top() + body.height() * (open ? 0.3 : 0.55));
    flap.lineTo(body.right() - 0.6, body.top() + 0.8);
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void Badge(QPainter &p, QPointF c, double r, const QColor &colour) {
    p.setPen(QPen(Qt::white, 1.4));
    p.setBrush(colour);
    p.drawEllipse(c, r, r);
}

void Eye(QPainter &p, bool crossed) {
    QPainterPath eye;
    eye.moveTo(3, 16);
    eye.quadTo(16, 4, 29, 16);
    eye.quadTo(16, 28, 3, 16);
    p.setPen(QPen(kInk, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawPath(eye);
    p.setBrush(QColor(0x2E, 0x7D, 0xB5));
    p.drawEllipse(QPointF(16, 16), 5, 5);
    p.setBrush(kInk);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(16, 16), 2.2, 2.2);
    if (crossed) {
        p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 26), QPointF(26, 6));
        p.setPen(QPen(QColor(0xC6, 0x28, 0x28), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 26), QPointF(26, 6));
    }
}

}  // namespace

namespace {

QIcon DrawToolImage(int index) {
    std::initializer_list<int> sizes = {24, 32, 40, 48};
    switch (index) {
    case 0:  // reload: a round arrow
        return MakeIcon(
            [](QPainter &p) {
                p.setPen(QPen(QColor(0x2E, 0x7D, 0x32), 3.2, Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                p.drawArc(QRectF(6, 6, 20, 20), 60 * 16, 290 * 16);
                QPainterPath head;
                head.moveTo(17, 1.5);
                head.lineTo(24.5, 6.5);
                head.lineTo(16.5, 10.5);
                head.closeSubpath();
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0x2E, 0x7D, 0x32));
                p.drawPath(head);
            },
            sizes);
    case 1:  // delete: the envelope with a red cross
        return MakeIcon(
            [](QPainter &p) {
                Envelope(p, QRectF(2.5, 6.5, 24, 17));
                Badge(p, QPointF(24, 23), 7, QColor(0xC6, 0x28, 0x28));
                p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(21, 20), QPointF(27, 26));
                p.drawLine(QPointF(27, 20), QPointF(21, 26));
            },
            sizes);
    case 2:  // add the sender to a rule: a person with a plus
        return MakeIcon(
            [](QPainter &p) {
                p.setPen(QPen(kInk, 1.5));
                p.setBrush(QColor(0xF0, 0xC2, 0x8A));
                p.drawEllipse(QPointF(13, 10), 5.5, 5.5);
                QPainterPath body;
                body.moveTo(2.5, 28.5);
                body.quadTo(3, 17.5, 13, 17.5);
                body.quadTo(23, 17.5, 23.5, 28.5);
                body.closeSubpath();
                p.setBrush(QColor(0x45, 0x6C, 0x9E));
                p.drawPath(body);
                Badge(p, QPointF(24.5, 23.5), 6.5, QColor(0xE0, 0x8A, 0x00));
                p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(24.5, 20.3), QPointF(24.5, 26.7));
                p.drawLine(QPointF(21.3, 23.5), QPointF(27.7, 23.5));
            },
            sizes);
    case 3:  // fetch the body: an open envelope with a letter
        return MakeIcon(
            [](QPainter &p) {
                p.setPen(QPen(kInk, 1.3));
                p.setBrush(Qt::white);
                p.drawRect(QRectF(8.5, 2.5, 15, 16));
                p.setPen(QPen(kInk.lighter(160), 1.2));
                for (double y : {6.5, 9.5, 12.5}) p.drawLine(QPointF(11, y), QPointF(21, y));
                Envelope(p, QRectF(3.5, 13.5, 25, 15), true);
            },
            sizes);
    case 4:
        return MakeIcon([](QPainter &p) { Eye(p, false); }, sizes);
    default:
        return MakeIcon([](QPainter &p) { Eye(p, true); }, sizes);
    }
}

QIcon DrawRowImage(int index) {
    std::initializer_list<int> sizes = {16, 24, 32};
    if (index == 1)
        return MakeIcon(
            [](QPainter &p) {
                p.setOpacity(0.45);
                Envelope(p, QRectF(2.5, 7.5, 27, 18));
                p.setOpacity(1);
                p.setPen(QPen(QColor(0xC6, 0x28, 0x28), 3.4, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(5, 28), QPointF(27, 4));
            },
            sizes);
    return MakeIcon([](QPainter &p) { Envelope(p, QRectF(2.5, 7.5, 27, 18)); }, sizes);
}

}  // namespace

// Drawn once: a long list asks for the same two pictures thousands of times.
QIcon ReaderToolImage(int index) {
    static QIcon cache[6];
    int i = index < 0 || index > 5 ? 5 : index;
    if (cache[i].isNull()) cache[i] = DrawToolImage(i);
    return cache[i];
}

QIcon ReaderRowImage(int index) {
    static QIcon cache[2];
    int i = index == 1 ? 1 : 0;
    if (cache[i].isNull()) cache[i] = DrawRowImage(i);
    return cache[i];
}
