#include <QFile>

#include "Graphics.h"
#include "DisplayFixture.h"
#include "mainwindow/SkinPictures.h"

namespace {

using SkinTest = MainWindowTest;

// The classes of every pixel of a mask, as the window must keep them.
bool Kept(TMaskClass c) { return c == mcWhite || c == mcRed; }

}  // namespace

TEST(SkinMask, ClassesAtTheirBorders) {
    EXPECT_EQ(MaskClass(148, 148, 148), mcWhite);
    EXPECT_EQ(MaskClass(150, 150, 150), mcWhite);
    EXPECT_EQ(MaskClass(200, 100, 100), mcRed);
    EXPECT_EQ(MaskClass(255, 200, 200), mcWhite);  // every byte at least 148 wins over red
    EXPECT_EQ(MaskClass(148, 200, 147), mcRed);
    EXPECT_EQ(MaskClass(148, 201, 0), mcBlack);    // green 201 is no longer red
    EXPECT_EQ(MaskClass(147, 0, 0), mcBlack);
    EXPECT_EQ(MaskClass(108, 108, 148), mcBlue);
    EXPECT_EQ(MaskClass(109, 108, 148), mcBlack);
    EXPECT_EQ(MaskClass(108, 109, 148), mcBlack);
    EXPECT_EQ(MaskClass(108, 108, 147), mcBlack);
    EXPECT_EQ(MaskClass(108, 148, 108), mcGreen);
    EXPECT_EQ(MaskClass(108, 148, 109), mcBlack);
    EXPECT_EQ(MaskClass(0, 0, 0), mcBlack);

    QImage mask(4, 3, QImage::Format_RGB32);
    mask.fill(QColor(255, 0, 0));
    EXPECT_EQ(MaskClassAt(mask, 3, 2), mcRed);
    // Beyond the picture in either direction there is nothing to drag by.
    EXPECT_EQ(MaskClassAt(mask, 4, 0), mcBlack);
    EXPECT_EQ(MaskClassAt(mask, 0, 3), mcBlack);
    EXPECT_EQ(MaskClassAt(mask, -1, 0), mcBlack);
    EXPECT_EQ(MaskClassAt(mask, 0, -1), mcBlack);
}

TEST(SkinMask, RegionKeepsExactlyTheWhiteAndRedPixels) {
    EnsureQApplication();
    // Runs of every class side by side, white next to red, and kept runs at
    // both ends of a row.
    const QColor colours[] = {QColor(255, 255, 255), QColor(255, 0, 0), QColor(0, 0, 255), QColor(0, 255, 0),
                              QColor(0, 0, 0), QColor(200, 100, 100), QColor(150, 150, 150)};
    QImage mask(23, 7, QImage::Format_RGB32);
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            mask.setPixelColor(x, y, colours[(x / 2 + y) % 7]);
    QRegion region = SkinMaskRegion(mask);
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            EXPECT_EQ(region.contains(QPoint(x, y)), Kept(MaskClassAt(mask, x, y))) << x << "," << y;
    EXPECT_FALSE(region.contains(QPoint(23, 0)));

    QImage blue(30, 20, QImage::Format_RGB32);
    blue.fill(QColor(0, 0, 255));
    EXPECT_TRUE(SkinMaskRegion(blue).isEmpty());
}

TEST(SkinPictures, TruncatedAndHugePicturesAreRefused) {
    EnsureQApplication();
    TempDir dir;
    QImage img(40, 30, QImage::Format_RGB32);
    img.fill(QColor(1, 2, 3));
    ASSERT_TRUE(img.save(QString::fromStdString(dir.File("a.bmp"))));
    ASSERT_TRUE(img.save(QString::fromStdString(dir.File("a.jpg")), "JPG"));
    QImage out;
    ASSERT_TRUE(LoadSkinPicture(dir.File("a.bmp"), out));
    EXPECT_EQ(out.size(), QSize(40, 30));
    ASSERT_TRUE(LoadSkinPicture(dir.File("a.jpg"), out));
    EXPECT_EQ(out.size(), QSize(40, 30));

    std::string bmp = ReadTestFile(dir.File("a.bmp"));
    std::string jpg = ReadTestFile(dir.File("a.jpg"));
    WriteTestFile(dir.File("cut.bmp"), bmp.substr(0, bmp.size() / 2));
    WriteTestFile(dir.File("cut.jpg"), jpg.substr(0, jpg.size() / 2));
    WriteTestFile(dir.File("junk.bmp"), "BM this is no picture");
    QImage kept(5, 5, QImage::Format_RGB32);
    out = kept;
    std::string error;
    EXPECT_FALSE(LoadSkinPicture(dir.File("cut.bmp"), out, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(LoadSkinPicture(dir.File("cut.jpg"), out));
    EXPECT_FALSE(LoadSkinPicture(dir.File("junk.bmp"), out));
    EXPECT_FALSE(LoadSkinPicture(dir.File("missing.bmp"), out));
    EXPECT_EQ(out.size(), QSize(5, 5));  // untouched

    // A header that claims a giant picture is refused before any pixel is read.
    std::string giant = bmp;
    giant[18] = char(0xFF), giant[19] = char(0xFF), giant[20] = char(0x00);
    EXPECT_FALSE(DecodeSkinPicture(giant, out));
    EXPECT_TRUE(DecodeSkinPicture(jpg, out));
}

TEST(SkinPictures, TransparentButtonsLeaveOutTheBottomLeftColour) {
    EnsureQApplication();
    QImage b(6, 4, QImage::Format_RGB32);
    b.fill(QColor(255, 0, 255));
    b.setPixelColor(2, 1, QColor(10, 20, 30));
    QImage see = SkinButtonPixmap(b, true).toImage();
    EXPECT_EQ(qAlpha(see.pixel(0, 3)), 0);
    EXPECT_EQ(qAlpha(see.pixel(2, 1)), 255);
    EXPECT_EQ(qAlpha(SkinButtonPixmap(b, false).toImage().pixel(0, 3)), 255);
}

TEST_F(SkinTest, SkinExistsNeedsTheFilesItsButtonsShow) {
    MakeSkin("Plain", {});
    EXPECT_TRUE(Form->SkinExists("Plain"));
    EXPECT_TRUE(Form->SkinExists("plain"));  // folders and files in any case
    EXPECT_FALSE(Form->SkinExists("Missing"));
    EXPECT_FALSE(Form->SkinExists("../skins/Plain"));
    EXPECT_FALSE(Form->SkinExists(""));

    TTestSkin noButtons;
    noButtons.Buttons = false;
    // Visible counts as "False" here when the key is missing.
    MakeSkin("Bare", noButtons);
    EXPECT_TRUE(Form->SkinExists("Bare"));
    noButtons.Skn = "[btForward]\nVisible=True\n";
    MakeSkin("Shown", noButtons);
    EXPECT_FALSE(Form->SkinExists("Shown"));

    std::string dir = MakeSkin("NoBack", {});
    DeleteFile(dir + "back.bmp");
    EXPECT_FALSE(Form->SkinExists("NoBack"));
    dir = MakeSkin("NoSkn", {});
    DeleteFile(dir + "NoSkn.skn");
    EXPECT_FALSE(Form->SkinExists("NoSkn"));

    // A JPEG background alone will do.
    TTestSkin jpeg;
    jpeg.BackExt = "jpg";
    jpeg.Size = QSize(90, 40);
    MakeSkin("Photo", jpeg);
    EXPECT_TRUE(Form->SkinExists("Photo"));
    Form->LoadSkin("Photo", false);
    Form->ApplySkinRegion();
    EXPECT_EQ(Form->size(), QSize(90, 40));
    EXPECT_EQ(Form->Image1.size(), QSize(90, 40));
}

TEST_F(SkinTest, MissingKeysTakeTheirDefaults) {
    MakeSkin("Empty", {});
    Form->LoadSkin("Empty", false);
    EXPECT_EQ(Form->Nappi->pos(), QPoint(236, 2));
    EXPECT_EQ(Form->NappiForward->pos(), QPoint(49, 138));
    EXPECT_EQ(Form->accont_forward->pos(), QPoint(8, 138));
    EXPECT_FALSE(Form->Nappi->isHidden());
    EXPECT_EQ(Form->LabelFrom->geometry(), QRect(18, 42, 223, 31));
    EXPECT_EQ(Form->LabelAccount->geometry(), QRect(136, 15, 113, 14));
    EXPECT_EQ(Form->LabelPosti->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(Form->LabelAccount->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    // "MS Sans Serif,1,16711680,8,0": blue, 8 points at 96 dots an inch.
    EXPECT_EQ(Form->LabelFr->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(Form->LabelFr->font().pixelSize(), 11);
    EXPECT_EQ(Form->LabelFr->font().family(), QString("Liberation Sans"));
    EXPECT_TRUE(Form->LabelNumero->font().bold());
    // -16777208 is the system's window-text colour.
    EXPECT_EQ(Form->LabelFrom->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_EQ(Form->LabelFrom->font().pixelSize(), 13);
}

TEST_F(SkinTest, ABadValueSkipsTheRestOfItsSectionOnly) {
    TTestSkin odd;
    odd.Skn = "[LabelFrom]\nLeft=30\nTop=zz\nWidth=100\n"
               "[LabelSubject]\nLeft=5\nTop=6\nFont=Arial,0,255,12,3\nWidth=50\nHeight=40\nAlignment=taCenter\n"
               "[btExit]\nVisible=False\nLeft=999999\n"
               "[btBack]\nTransparent=Yes\nLeft=3\nTop=4\n"
               "[LabelDate]\nFont=nonsense\nLeft=7\n";
    MakeSkin("Odd", odd);
    MakeSkin("Empty", {});
    Form->LoadSkin("Empty", false);
    Form->LoadSkin("Odd", false);
    // Left was taken; Top failed, so neither Top nor Width of that section.
    EXPECT_EQ(Form->LabelFrom->pos(), QPoint(30, 42));
    EXPECT_EQ(Form->LabelFrom->width(), 223);
    EXPECT_EQ(Form->LabelSubject->geometry(), QRect(5, 6, 50, 40));
    EXPECT_EQ(Form->LabelSubject->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(Form->LabelSubject->font().bold());
    EXPECT_TRUE(Form->LabelSubject->font().italic());
    EXPECT_TRUE(Form->Nappi->isHidden());
    EXPECT_EQ(Form->NappiBack->pos(), QPoint(3, 4));
    EXPECT_FALSE(Form->NappiBack->Transparent);  // only "True" is true
    EXPECT_EQ(Form->LabelDate->x(), 7);
}

TEST_F(SkinTest, MissingOrBrokenPicturesLeaveThePreviousOnes) {
    TTestSkin first;
    first.Size = QSize(100, 50);
    MakeSkin("First", first);
    Form->LoadSkin("First", false);
    Form->ApplySkinRegion();
    QImage back = Form->Image1, mask = Form->ImageBack;
    QPixmap exit = Form->Nappi->Pictures[0];

    TTestSkin second;
    second.Size = QSize(80, 40);
    second.Buttons = false;
    std::string dir = MakeSkin("Second", second);
    DeleteFile(dir + "back_mask.bmp");
    std::string bmp = ReadTestFile(dir + "back.bmp");
    WriteTestFile(dir + "back.bmp", bmp.substr(0, bmp.size() - 100));
    Form->LoadSkin("Second", false);
    Form->ApplySkinRegion();
    EXPECT_EQ(Form->Image1, back);
    EXPECT_EQ(Form->ImageBack, mask);
    EXPECT_EQ(Form->Nappi->Pictures[0].toImage(), exit.toImage());
    EXPECT_EQ(Form->size(), QSize(100, 50));
    EXPECT_FALSE(Form->mask().isEmpty());
}

TEST_F(SkinTest, TheRegionFollowsTheMaskAndNeverLeavesTheWindowShapeless) {
    // Before any skin the window is its whole rectangle.
    Form->resize(50, 20);
    Form->ApplySkinRegion();
    EXPECT_TRUE(Form->mask().xored(QRegion(0, 0, 50, 20)).isEmpty());

    // A mask of another size than the background sizes the window.
    TTestSkin odd;
    odd.Size = QSize(100, 50);
    odd.Mask = QImage(120, 60, QImage::Format_RGB32);
    odd.Mask.fill(Qt::white);
    for (int y = 0; y < 60; ++y)
        for (int x = 110; x < 120; ++x)
            odd.Mask.setPixelColor(x, y, QColor(0, 0, 255));
    MakeSkin("Odd", odd);
    Form->LoadSkin("Odd", false);
    Form->ApplySkinRegion();
    EXPECT_EQ(Form->size(), QSize(120, 60));
    EXPECT_TRUE(Form->mask().xored(QRegion(0, 0, 110, 60)).isEmpty());

    // A mask of nothing but blue leaves nothing of the window, which is not
    // Qt's empty mask (that would show all of it).
    TTestSkin blue;
    blue.Mask = QImage(120, 60, QImage::Format_RGB32);
    blue.Mask.fill(QColor(0, 0, 255));
    MakeSkin("Blue", blue);
    Form->LoadSkin("Blue", false);
    Form->ApplySkinRegion();
    EXPECT_TRUE(Form->SkinRegion.isEmpty());
    EXPECT_FALSE(Form->mask().isEmpty());
    EXPECT_TRUE(Form->mask().intersected(Form->rect()).isEmpty());
}

TEST_F(SkinTest, RandomAndNextSkinsComeFromTheValidFolders) {
    EXPECT_EQ(Form->RandomSkin(), Form->State.Options.Skin);  // nothing to choose from
    EXPECT_EQ(Form->NextSkinName("Anything"), "Anything");
    MakeSkin("Beta", {});
    MakeSkin("alpha", {});
    MakeSkin("Gamma", {});
    std::string dir = MakeSkin("Broken", {});
    DeleteFile(dir + "Broken.skn");
    EXPECT_EQ(Form->ValidSkins(), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(Form->NextSkinName("ALPHA"), "beta");
    EXPECT_EQ(Form->NextSkinName("Gamma"), "alpha");  // the last gives the first
    EXPECT_EQ(Form->NextSkinName("Broken"), "Broken");
    for (int i = 0; i < 20; ++i) {
        std::string r = Form->RandomSkin();
        EXPECT_TRUE(r == "alpha" || r == "beta" || r == "gamma") << r;
    }
}

TEST_F(SkinTest, ReportsEventFiveWhenAsked) {
    struct TLines : TLogView {
        std::vector<std::string> L{"h", "h"};
        int LineCount() const override { return int(L.size()); }
        std::string Line(int i) const override { return L[size_t(i)]; }
        void AddLine(const std::string &t) override { L.push_back(t); }
        void ColourLastLine(int) override {}
        void DeleteLine(int i) override { L.erase(L.begin() + i); }
    } log;
    Form->Reporter.Log = &log;
    Form->Reporter.LogReady = true;
    Form->Reporter.MessageText = [](int n) { return n == 5 ? std::string("Skin loaded") : std::string(); };
    MakeSkin("Plain", {});
    Form->LoadSkin("Plain", false);
    size_t before = log.L.size();
    Form->LoadSkin("Plain", true);
    ASSERT_EQ(log.L.size(), before + 1);
    EXPECT_NE(log.L.back().find("Skin loaded"), std::string::npos);
    Form->Reporter.LogReady = false;
    Form->Reporter.Log = nullptr;
}

TEST_F(SkinTest, TheShippedSkinsDrawTheirPictures) {
    CopyShippedSkins();
    for (const char *name : {"Default", "Nightfall"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Form->SkinExists(name));
        Form->LoadSkin(name, false);
        Form->ApplySkinRegion();
        // Every button has its three pictures.
        for (TSkinButton *b : Form->SkinButtons())
            for (const QPixmap &p : b->Pictures)
                EXPECT_FALSE(p.isNull());
        // The window shows the background where the mask keeps it.
        QImage shot = Form->grab().toImage();
        int checked = 0;
        for (int y = 0; y < Form->height(); y += 7)
            for (int x = 0; x < Form->width(); x += 7) {
                QWidget *child = Form->childAt(x, y);
                if (child && !child->isHidden())
                    continue;
                if (!Form->SkinRegion.contains(QPoint(x, y)))
                    continue;
                EXPECT_EQ(shot.pixel(x, y), Form->Image1.pixel(x, y)) << x << "," << y;
                ++checked;
            }
        EXPECT_GT(checked, 100);
        // Corners are cut away, the middle is kept.
        EXPECT_FALSE(Form->SkinRegion.contains(QPoint(0, Form->height() - 1)));
        EXPECT_TRUE(Form->SkinRegion.contains(QPoint(Form->width() / 2, Form->height() / 2)));
    }
}
