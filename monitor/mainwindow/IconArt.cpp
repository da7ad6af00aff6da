#include "IconArt.h"

#include <QImage>
#include <QPixmap>

QIcon DrawnIcon(const std::function<void(QPainter &)> &Draw, std::initializer_list<int> Sizes) {
    QIcon icon;
    for (int size : Sizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        Draw(p);
        p.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
