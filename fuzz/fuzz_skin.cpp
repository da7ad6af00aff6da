// Skins arrive in downloaded archives: any bytes given as a picture must
// decode or be refused without a crash, and the shape a mask gives stays
// inside the picture; any font or colour text must parse to something.
// The first byte chooses: even a picture, odd the texts of a ".skn".
#include <QImage>
#include <QRegion>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Graphics.h"
#include "mainwindow/SkinPictures.h"
#include "settings/VeskRutins.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        QImage picture;
        if (!DecodeSkinPicture(bytes, picture))
            return 0;
        if (picture.width() > MaxSkinPictureSide || picture.height() > MaxSkinPictureSide)
            std::abort();
        QRegion region = SkinMaskRegion(picture);
        if (!region.isEmpty() && !picture.rect().contains(region.boundingRect()))
            std::abort();
        for (QPoint p : {QPoint(0, 0), QPoint(picture.width() - 1, picture.height() - 1),
                         QPoint(picture.width(), 0), QPoint(-1, -1)}) {
            TMaskClass c = MaskClassAt(picture, p.x(), p.y());
            bool kept = c == mcWhite || c == mcRed;
            if (kept != region.contains(p))
                std::abort();
        }
    } else {
        TFont font;
        StrToFont(bytes, font);
        (void)ColorToQColor(font.Color);
        (void)MapFontFamily(font.Name);
        (void)ColorToQColor(StringToColorDef(bytes, clGreen));
        (void)StrToAlignment(bytes);
    }
    return 0;
}
