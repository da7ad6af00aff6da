#include "TrayImages.h"

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

#include "IconArt.h"
#include "ImgList.h"

namespace {

struct TEnvelopeLook {
    QColor Paper{0xF7, 0xF2, 0xE4};
    QColor PaperShade{0xE2, 0xD8, 0xBE};
    QColor Ink{0x33, 0x42, 0x55};
};

void DrawEnvelope(QPainter &p, const TEnvelopeLook &look) {
    QRectF body(2.5, 7.5, 27, 19);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, look.Paper);
    fill.setColorAt(1, look.PaperShade);
    p.setPen(QPen(look.Ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawRoundedRect(body, 2, 2);
    // The folds below the flap, lighter than the outline.
    p.setPen(QPen(look.Ink.lighter(170), 1.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 25.5), QPointF(12.5, 17.5));
    p.drawLine(QPointF(28.5, 25.5), QPointF(19.5, 17.5));
    // The flap.
    p.setPen(QPen(look.Ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath flap;
    flap.moveTo(3.2, 8.4);
    flap.lineTo(16, 18.5);
    flap.lineTo(28.8, 8.4);
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

// A round sign at the lower right corner, with a white rim so that it
// stands out from the envelope and from any panel colour.
void DrawBadge(QPainter &p, QPointF centre, double radius, const QColor &colour) {
    p.setPen(QPen(Qt::white, 1.4));
    QRadialGradient fill(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
    fill.setColorAt(0, colour.lighter(135));
    fill.setColorAt(1, colour);
    p.setBrush(fill);
    p.drawEllipse(centre, radius, radius);
}

QIcon MakeIcon(const std::function<void(QPainter &)> &draw) {
    return DrawnIcon(draw, {16, 22, 24, 32, 48, 64});
}

void DrawTurningArrow(QPainter &p, int step) {
    const QPointF centre(23.5, 22.5);
    DrawBadge(p, centre, 7.5, QColor(0x1E, 0x6F, 0xD0));
    p.save();
    p.translate(centre);
    p.rotate(step * 120.0);
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QRectF ring(-4, -4, 8, 8);
    p.drawArc(ring, 90 * 16, 270 * 16);
    // The arrow's head at the open end of the ring.
    QPainterPath head;
    head.moveTo(0, -6.3);
    head.lineTo(3.2, -4);
    head.lineTo(0, -1.7);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(head);
    p.restore();
}

}  // namespace

void FillCheckingImages(TImageList &list) {
    list.Clear();
    list.Add(MakeIcon([](QPainter &p) { DrawEnvelope(p, {}); }));
    for (int step = 0; step < 3; ++step)
        list.Add(MakeIcon([step](QPainter &p) {
            DrawEnvelope(p, {});
            DrawTurningArrow(p, step);
        }));
}

void FillNewMailImages(TImageList &list) {
    list.Clear();
    TEnvelopeLook golden;
    golden.Paper = QColor(0xFF, 0xE8, 0x8A);
    golden.PaperShade = QColor(0xF2, 0xBE, 0x3C);
    golden.Ink = QColor(0x5A, 0x3D, 0x08);
    for (double radius : {5.5, 7.0}) {
        list.Add(MakeIcon([golden, radius](QPainter &p) {
            DrawEnvelope(p, golden);
            DrawBadge(p, QPointF(25, 8), radius, QColor(0xD3, 0x2F, 0x2F));
        }));
    }
}

void FillErrorImages(TImageList &list) {
    list.Clear();
    list.Add(MakeIcon([](QPainter &p) {
        DrawEnvelope(p, {});
        const QPointF c(23.5, 22.5);
        DrawBadge(p, c, 7.5, QColor(0xC6, 0x28, 0x28));
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + QPointF(-3, -3), c + QPointF(3, 3));
        p.drawLine(c + QPointF(3, -3), c + QPointF(-3, 3));
    }));
    TEnvelopeLook dim;
    dim.Paper = QColor(0xD8, 0xD8, 0xD8);
    dim.PaperShade = QColor(0xB8, 0xB8, 0xB8);
    dim.Ink = QColor(0x6E, 0x6E, 0x6E);
    list.Add(MakeIcon([dim](QPainter &p) { DrawEnvelope(p, dim); }));
}

void FillUpdatingImages(TImageList &list) {
    list.Clear();
    for (double shift : {-2.0, 0.0, 2.0}) {
        list.Add(MakeIcon([shift](QPainter &p) {
            DrawEnvelope(p, {});
            const QPointF c(23.5, 22.5);
            DrawBadge(p, c, 7.5, QColor(0x2E, 0x8B, 0x3E));
            p.save();
            p.setClipRect(QRectF(c.x() - 6.5, c.y() - 6.5, 13, 13));
            p.translate(c + QPointF(0, shift));
            p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawLine(QPointF(0, -4), QPointF(0, 3));
            p.drawLine(QPointF(-3, 0.5), QPointF(0, 3.5));
            p.drawLine(QPointF(3, 0.5), QPointF(0, 3.5));
            p.restore();
        }));
    }
}
