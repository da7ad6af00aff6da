#include <gtest/gtest.h>

#include "Graphics.h"
#include "SysUtils.h"
#include "TestSupport.h"

TEST(Graphics, ColoursByNameAndNumber) {
    EXPECT_EQ(StringToColor("clGreen"), 0x008000);
    EXPECT_EQ(StringToColor("CLRED"), 0x0000FF);
    EXPECT_EQ(StringToColor(" clBlue "), 0xFF0000);
    EXPECT_EQ(StringToColor("$0000FF"), 255);
    EXPECT_EQ(StringToColor("16711680"), clBlue);
    EXPECT_EQ(StringToColor("-16777208"), clWindowText);
    EXPECT_EQ(StringToColor("clWindowText"), clWindowText);
    EXPECT_EQ(Thrown<EConvertError>([] { StringToColor("green-ish"); }), "'green-ish' is not a valid colour");
    EXPECT_EQ(StringToColorDef("", clGreen), clGreen);
    EXPECT_EQ(StringToColorDef("99999999999", clGreen), clGreen);
}

TEST(Graphics, ColoursAreBlueGreenRed) {
    EXPECT_EQ(ColorToQColor(255), QColor(255, 0, 0));
    EXPECT_EQ(ColorToQColor(32768), QColor(0, 128, 0));
    EXPECT_EQ(ColorToQColor(16711680), QColor(0, 0, 255));
    // System colours take the classic scheme; unknown ones are black.
    EXPECT_EQ(ColorToQColor(clWindowText), QColor(0, 0, 0));
    EXPECT_EQ(ColorToQColor(clSystemColor | 5), QColor(255, 255, 255));
    EXPECT_EQ(ColorToQColor(clBtnFace), QColor(0xD4, 0xD0, 0xC8));
    EXPECT_EQ(ColorToQColor(clSystemColor | 200), QColor(0, 0, 0));
    EXPECT_EQ(ColorToQColor(clNone), QColor(0, 0, 0));
}

TEST(Graphics, OldFontNamesMapToInstalledFonts) {
    EXPECT_EQ(MapFontFamily("MS Sans Serif"), "Liberation Sans");
    EXPECT_EQ(MapFontFamily("arial"), "Liberation Sans");
    EXPECT_EQ(MapFontFamily("Times New Roman"), "Liberation Serif");
    EXPECT_EQ(MapFontFamily("Courier New"), "Liberation Mono");
    EXPECT_EQ(MapFontFamily("DejaVu Serif"), "DejaVu Serif");
    EXPECT_EQ(PointsToPixels(8), 11);
    EXPECT_EQ(PointsToPixels(10), 13);
    EXPECT_EQ(PointsToPixels(12), 16);
}
