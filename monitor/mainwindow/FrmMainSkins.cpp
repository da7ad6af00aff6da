// Skins: a folder under "skins/" with a ".skn" description, the background,
// the mask that shapes the window, and three pictures per button.
#include <QRandomGenerator>

#include "FrmMain.h"
#include "Graphics.h"
#include "IniFile.h"
#include "settings/ProgramPaths.h"
#include "SkinPictures.h"
#include "settings/VeskRutins.h"

namespace {

// A skin name is one folder name: nothing that climbs out of "skins/".
bool PlainSkinName(const std::string &Name) {
    return !Name.empty() && Name != "." && Name != ".." && !Contains(Name, "/") && !Contains(Name, "\\");
}

// Where a skin's files are, found without regard to letter case.
std::string SkinFolder(const std::string &Name) {
    return IncludeTrailingPathDelimiter(ProgramFile("skins/" + Name));
}

std::string SkinFile(const std::string &Name, const std::string &File) {
    return ResolvePathCI(SkinFolder(Name) + File);
}

struct TButtonSkin {
    const char *Section;
    const char *Base;  // picture names: Base + "1.bmp" .. Base + "3.bmp"
    int Left, Top;
};
// In the order of the window's buttons (TFrmMain::SkinButtons).
const TButtonSkin kButtons[] = {
    {"btExit", "exit", 236, 2},
    {"btBack", "back", 8, 138},
    {"btForward", "forward", 49, 138},
    {"btAccBack", "acc_b", 8, 138},
    {"btAccForward", "acc_f", 8, 138},
};

struct TLabelSkin {
    const char *Section;
    int Left, Top;
    const char *Font;
    int Width, Height;
    const char *Alignment;
};
// In the order of TFrmMain::SkinLabels.
const TLabelSkin kLabels[] = {
    {"LabelAccount", 136, 15, "", 113, 14, "taCenter"},
    {"LabelDate", 136, 15, "", 113, 14, "taCenter"},
    {"LabelFr", 26, 30, "MS Sans Serif,1,16711680,8,0", 167, 17, "taLeftJustify"},
    {"LabelFrom", 18, 42, "MS Sans Serif,1,-16777208,10,0", 223, 31, "taLeftJustify"},
    {"LabelSbj", 26, 74, "MS Sans Serif,1,16711680,8,0", 167, 17, "taLeftJustify"},
    {"LabelSubject", 18, 86, "MS Sans Serif,1,-16777208,10,0", 223, 54, "taLeftJustify"},
    {"LabelYGM", 128, 136, "MS Sans Serif,1,-16777208,8,0", 113, 13, "taRightJustify"},
    {"LabelMNums", 15, 135, "MS Sans Serif,1,-16777208,10,1", 34, 16, "taCenter"},
};

// A position or size from a skin: a number, kept to what a screen can hold.
int SkinNumber(TIniFile &Ini, const char *Section, const char *Key, int Def) {
    int v = StrToInt(Ini.ReadString(Section, Key, IntToStr(Def)));
    if (v < -10000 || v > 10000)
        throw EConvertError(std::string(Section) + "." + Key + " is out of range");
    return v;
}

}  // namespace

std::vector<TSkinButton *> TFrmMain::SkinButtons() const {
    return {Nappi, NappiBack, NappiForward, accont_back, accont_forward};
}

std::vector<QLabel *> TFrmMain::SkinLabels() const {
    return {LabelAccount, LabelDate, LabelFr, LabelFrom, LabelSbj, LabelSubject, LabelPosti, LabelNumero};
}

bool TFrmMain::SkinExists(const std::string &Name) {
    if (!PlainSkinName(Name))
        return false;
    std::string skn = SkinFile(Name, Name + ".skn");
    if (!FileExists(skn) || FindSkinPicture(SkinFolder(Name), "back").empty())
        return false;
    try {
        TIniFile ini(skn);
        const std::pair<const char *, const char *> required[] = {
            {"btBack", "back1.bmp"}, {"btExit", "exit1.bmp"}, {"btForward", "forward1.bmp"}};
        for (const auto &[section, picture] : required)
            if (StrToBoolean(ini.ReadString(section, "Visible", "False")) &&
                !FileExists(SkinFile(Name, picture)))
                return false;
    } catch (const Exception &) {
        return false;
    }
    return true;
}

void TFrmMain::LoadSkin(const std::string &Name, bool Report) {
    // While Fenlow installs skins the window keeps the one it has: the
    // folder it would read may be half written, or moved aside, just then.
    // A choice made meanwhile is in the settings, and the next show loads it;
    // one the user asked for hears why in the log.
    if (FenlowJobRunning()) {
        if (Report)
            RefusedForFenlowJob(false, 0, 0);
        return;
    }
    std::vector<TSkinButton *> buttons = SkinButtons();
    for (TSkinButton *b : buttons)
        b->ShowPicture(1);
    if (!PlainSkinName(Name))
        return;
    const std::string folder = SkinFolder(Name);

    // A picture that is missing or cannot be read leaves the one before it.
    QImage picture;
    std::string file = FindSkinPicture(folder, "back");
    if (!file.empty() && LoadSkinPicture(file, picture))
        Image1 = picture;
    file = FindSkinPicture(folder, "back_mask");
    if (!file.empty() && LoadSkinPicture(file, picture))
        ImageBack = picture;
    if (!Image1.isNull())
        resize(Image1.size());

    for (size_t i = 0; i < buttons.size(); ++i) {
        const std::string base = kButtons[i].Base;
        if (!FileExists(ResolvePathCI(folder + base + "1.bmp")))
            continue;
        for (int k = 0; k < 3; ++k)
            if (LoadSkinPicture(ResolvePathCI(folder + base + IntToStr(k + 1) + ".bmp"), picture))
                FButtonImages[i][k] = picture;
    }

    LoadedSkin = Name;
    TIniFile ini(SkinFile(Name, Name + ".skn"));
    for (size_t i = 0; i < buttons.size(); ++i) {
        const TButtonSkin &s = kButtons[i];
        TSkinButton *b = buttons[i];
        try {
            b->setVisible(StrToBoolean(ini.ReadString(s.Section, "Visible", "True")));
            b->Transparent = StrToBoolean(ini.ReadString(s.Section, "Transparent", "True"));
            for (int k = 0; k < 3; ++k)
                b->Pictures[k] = SkinButtonPixmap(FButtonImages[i][k], b->Transparent);
            b->ShowPicture(1);
            if (!b->Pictures[0].isNull())
                b->resize(b->Pictures[0].size());
            b->move(SkinNumber(ini, s.Section, "Left", s.Left), b->y());
            b->move(b->x(), SkinNumber(ini, s.Section, "Top", s.Top));
        } catch (const Exception &) {
            // A bad value skips the rest of this section only.
        }
    }

    std::vector<QLabel *> labels = SkinLabels();
    for (size_t i = 0; i < labels.size(); ++i) {
        const TLabelSkin &s = kLabels[i];
        QLabel *l = labels[i];
        try {
            l->setVisible(StrToBoolean(ini.ReadString(s.Section, "Visible", "True")));
            l->move(SkinNumber(ini, s.Section, "Left", s.Left), l->y());
            l->move(l->x(), SkinNumber(ini, s.Section, "Top", s.Top));
            TFont font;
            StrToFont(ini.ReadString(s.Section, "Font", s.Font), font);
            ApplySkinFont(l, font);
            l->resize(std::max(0, SkinNumber(ini, s.Section, "Width", s.Width)), l->height());
            int height = std::max(0, SkinNumber(ini, s.Section, "Height", s.Height));
            l->resize(l->width(), height);
            TAlignment a = StrToAlignment(ini.ReadString(s.Section, "Alignment", s.Alignment));
            Qt::Alignment h = a == taCenter ? Qt::AlignHCenter : a == taRightJustify ? Qt::AlignRight : Qt::AlignLeft;
            l->setAlignment(h | Qt::AlignTop);
            // A box of two lines or more wraps its text at blanks.
            l->setWordWrap(height >= 2 * QFontMetrics(l->font()).height());
        } catch (const Exception &) {
        }
    }
    if (Report)
        ReportEvent("", 5, 3, TEventReporter::clBlue);
    update();
}

void TFrmMain::ApplySkinFont(QLabel *Label, const TFont &Font) {
    QFont f = FontToQFont(Font);
    // Sizes are points of the original desktop; a negative size is a height in pixels.
    int px = Font.Size < 0 ? -Font.Size : PointsToPixels(Font.Size);
    f.setPixelSize(std::clamp(px == 0 ? 11 : px, 4, 200));
    Label->setFont(f);
    QPalette p = Label->palette();
    p.setColor(QPalette::WindowText, ColorToQColor(Font.Color));
    Label->setPalette(p);
    if (Label == LabelFrom) {
        FLabelFromFont = f;
        FLabelFromUnderlined = false;
    }
}

void TFrmMain::ApplySkinRegion() {
    QSize size = !ImageBack.isNull() ? ImageBack.size() : !Image1.isNull() ? Image1.size() : this->size();
    resize(size);
    if (ImageBack.isNull()) {
        // Without any mask the window is its whole rectangle, never shapeless.
        setMask(QRegion(rect()));
        return;
    }
    QRegion region = SkinMaskRegion(ImageBack);
    SkinRegion = region;
    // An empty mask is "no mask" to Qt, which would show the whole
    // rectangle; a region wholly outside the window shows nothing.
    setMask(region.isEmpty() ? QRegion(-2, -2, 1, 1) : region);
    update();
}

std::vector<std::string> TFrmMain::ValidSkins() {
    std::vector<std::string> result;
    for (const std::string &name : ListDirectory(ProgramFolder() + "skins", false, true))
        if (SkinExists(name))
            result.push_back(LowerCase(name));
    return result;
}

std::string TFrmMain::RandomSkin() {
    std::vector<std::string> skins = ValidSkins();
    if (skins.empty())
        return State.Options.Skin;
    return skins[QRandomGenerator::global()->bounded(int(skins.size()))];
}

std::string TFrmMain::NextSkinName(const std::string &Name) {
    std::vector<std::string> skins = ValidSkins();
    std::string lower = LowerCase(Name);
    for (size_t i = 0; i < skins.size(); ++i)
        if (skins[i] == lower)
            return i + 1 < skins.size() ? skins[i + 1] : skins[0];
    return Name;
}
