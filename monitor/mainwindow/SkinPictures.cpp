#include "SkinPictures.h"

#include <QBuffer>
#include <QImageReader>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

#include "SysUtils.h"
#include "settings/VeskRutins.h"

TMaskClass MaskClass(int Red, int Green, int Blue) {
    if (Red >= 148 && Green >= 148 && Blue >= 148)
        return mcWhite;
    if (Red >= 148 && Green < 201 && Blue < 201)
        return mcRed;
    if (Red <= 108 && Green <= 108 && Blue >= 148)
        return mcBlue;
    if (Red <= 108 && Green >= 148 && Blue < 109)
        return mcGreen;
    return mcBlack;
}

TMaskClass MaskClassAt(const QImage &Mask, int X, int Y) {
    if (X < 0 || Y < 0 || X >= Mask.width() || Y >= Mask.height())
        return mcBlack;
    QRgb p = Mask.pixel(X, Y);
    return MaskClass(qRed(p), qGreen(p), qBlue(p));
}

QRegion SkinMaskRegion(const QImage &Mask) {
    if (Mask.isNull())
        return {};
    const QImage rgb = Mask.format() == QImage::Format_RGB32 ? Mask : Mask.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width(), h = rgb.height();
    // One band per row. Runs of white and red lie side by side when the
    // classes change between them; as rectangles of one band they must not
    // touch, so neighbouring kept runs are one rectangle.
    std::vector<QRect> rects;
    for (int y = 0; y < h; ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        int x = 0;
        int keptFrom = -1;
        while (x < w) {
            TMaskClass c = MaskClass(qRed(row[x]), qGreen(row[x]), qBlue(row[x]));
            int x2 = x;
            while (x2 + 1 < w && MaskClass(qRed(row[x2 + 1]), qGreen(row[x2 + 1]), qBlue(row[x2 + 1])) == c)
                ++x2;
            bool keep = c == mcWhite || c == mcRed;
            if (keep && keptFrom < 0)
                keptFrom = x;
            if (!keep && keptFrom >= 0) {
                rects.emplace_back(keptFrom, y, x - keptFrom, 1);
                keptFrom = -1;
            }
            x = x2 + 1;
        }
        if (keptFrom >= 0)
            rects.emplace_back(keptFrom, y, w - keptFrom, 1);
    }
    QRegion region;
    if (!rects.empty())
        region.setRects(rects.data(), int(rects.size()));
    return region;
}

namespace {

void SetError(std::string *Error, const std::string &Text) {
    if (Error)
        *Error = Text;
}

bool IsJpeg(const std::string &Bytes) {
    return Bytes.size() >= 3 && uint8_t(Bytes[0]) == 0xFF && uint8_t(Bytes[1]) == 0xD8 &&
           uint8_t(Bytes[2]) == 0xFF;
}

// A bitmap through the image reader, its size checked before any pixel is
// allocated, and every row required: a cut file is an error, not a picture
// with a grey bottom.
bool DecodeBitmap(const std::string &Bytes, QImage &Picture, std::string *Error) {
    QByteArray data = QByteArray::fromRawData(Bytes.data(), qsizetype(Bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        SetError(Error, "not a bitmap");
        return false;
    }
    if (size.width() > MaxSkinPictureSide || size.height() > MaxSkinPictureSide) {
        SetError(Error, "picture too large");
        return false;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        SetError(Error, reader.errorString().toStdString());
        return false;
    }
    // The reader fills what a short file lacks; the header says how much
    // pixel data there must be.
    if (Bytes.size() >= 34) {
        auto u32 = [&](size_t at) {
            return uint32_t(uint8_t(Bytes[at])) | uint32_t(uint8_t(Bytes[at + 1])) << 8 |
                   uint32_t(uint8_t(Bytes[at + 2])) << 16 | uint32_t(uint8_t(Bytes[at + 3])) << 24;
        };
        uint32_t offset = u32(10), headerSize = u32(14);
        uint32_t compression = headerSize >= 40 ? u32(30) : 0;
        if (headerSize >= 40 && (compression == 0 || compression == 3)) {
            uint16_t bits = uint16_t(uint8_t(Bytes[28]) | uint8_t(Bytes[29]) << 8);
            uint64_t rowBytes = ((uint64_t(size.width()) * bits + 31) / 32) * 4;
            uint64_t need = uint64_t(offset) + rowBytes * uint64_t(size.height());
            if (need > Bytes.size()) {
                SetError(Error, "the bitmap is cut short");
                return false;
            }
        }
    }
    Picture = image.convertToFormat(QImage::Format_RGB32);
    return true;
}

}  // namespace

bool DecodeSkinPicture(const std::string &Bytes, QImage &Picture, std::string *Error) {
    if (IsJpeg(Bytes)) {
        // libjpeg reads from a file; the bytes go through a private one.
        std::string tmp = std::string(P_tmpdir) + "/tw_skin_XXXXXX";
        std::vector<char> name(tmp.begin(), tmp.end());
        name.push_back('\0');
        int fd = mkstemp(name.data());
        if (fd < 0) {
            SetError(Error, "no temporary file");
            return false;
        }
        bool ok = ::write(fd, Bytes.data(), Bytes.size()) == ssize_t(Bytes.size());
        ::close(fd);
        bool result = false;
        if (ok)
            result = LoadSkinPicture(std::string(name.data()), Picture, Error);
        ::unlink(name.data());
        return result;
    }
    return DecodeBitmap(Bytes, Picture, Error);
}

bool LoadSkinPicture(const std::string &FileName, QImage &Picture, std::string *Error) {
    if (!FileExists(FileName)) {
        SetError(Error, "missing");
        return false;
    }
    try {
        int64_t size = FileSize(FileName);
        // A skin picture of 4096 x 4096 at 32 bits is 64 MB; nothing larger is read.
        if (size < 0 || size > 80LL * 1024 * 1024) {
            SetError(Error, "file too large");
            return false;
        }
        std::string bytes = ReadFileToString(FileName);
        if (IsJpeg(bytes)) {
            QImage image;
            JpegToPicture(FileName, image);
            if (image.width() > MaxSkinPictureSide || image.height() > MaxSkinPictureSide) {
                SetError(Error, "picture too large");
                return false;
            }
            Picture = image.convertToFormat(QImage::Format_RGB32);
            return true;
        }
        return DecodeBitmap(bytes, Picture, Error);
    } catch (const Exception &e) {
        SetError(Error, e.Message());
        return false;
    }
}

std::string FindSkinPicture(const std::string &Folder, const std::string &Base) {
    for (const char *ext : {".bmp", ".jpg"}) {
        std::string path = ResolvePathCI(IncludeTrailingPathDelimiter(Folder) + Base + ext);
        if (FileExists(path))
            return path;
    }
    return {};
}

QPixmap SkinButtonPixmap(const QImage &Picture, bool Transparent) {
    if (Picture.isNull())
        return {};
    if (!Transparent)
        return QPixmap::fromImage(Picture);
    QImage image = Picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = image.pixel(0, image.height() - 1) | 0xFF000000u;
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((row[x] | 0xFF000000u) == key)
                row[x] = 0;
    }
    return QPixmap::fromImage(image);
}
