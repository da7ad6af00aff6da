// The pictures of a skin: reading a bitmap or JPEG from the skin's folder,
// the colour classes of the mask, and the window shape the mask gives.
// Skins arrive in downloaded archives, so every picture is bounded and
// checked before the window uses it.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <string>

// Colour classes of a mask pixel. The window keeps white and red; red also
// drags the window.
enum TMaskClass { mcBlack, mcWhite, mcRed, mcBlue, mcGreen };
TMaskClass MaskClass(int Red, int Green, int Blue);
// The class of the pixel at (X, Y); black beyond the picture in either direction.
TMaskClass MaskClassAt(const QImage &Mask, int X, int Y);

// The rows of the mask cut into runs of one class; every white or red run is
// kept. Empty for a mask with nothing to keep.
QRegion SkinMaskRegion(const QImage &Mask);

// No skin picture is larger than this in either direction.
constexpr int MaxSkinPictureSide = 4096;

// Reads a bitmap or JPEG picture (the file's first bytes decide; JPEG goes
// through libjpeg). False, with the reason in Error, when the file is
// missing, unreadable, truncated or too large; Picture is then untouched.
bool LoadSkinPicture(const std::string &FileName, QImage &Picture, std::string *Error = nullptr);
// The same from bytes already read (a bitmap or a JPEG by its signature).
bool DecodeSkinPicture(const std::string &Bytes, QImage &Picture, std::string *Error = nullptr);

// The first of Folder + Base + ".bmp" and ".jpg" that exists (any letter
// case), or "" when neither does.
std::string FindSkinPicture(const std::string &Folder, const std::string &Base);

// A button picture as it is drawn: with Transparent set, every pixel of the
// colour of its bottom-left pixel is left out, so the background shows.
QPixmap SkinButtonPixmap(const QImage &Picture, bool Transparent);
