// The panel's palette and fonts, looked up by the keys of the layout table.
#include "panelstyle.h"

#include <QStringList>

#include <array>
#include <string_view>

namespace layout {

namespace {

struct ColourRow
{
    Colour colour;
    QRgb ground;
    QRgb ink;
};

constexpr QRgb kBlack = qRgb(0, 0, 0);

constexpr std::array kColours{
    ColourRow{Grey, qRgb(192, 192, 192), kBlack},
    ColourRow{Green, qRgb(192, 255, 192), kBlack},
    ColourRow{Red, qRgb(255, 192, 192), kBlack},
    ColourRow{Cyan, qRgb(192, 255, 255), kBlack},
    ColourRow{Orange, qRgb(255, 224, 192), kBlack},
    ColourRow{White, qRgb(255, 255, 255), kBlack},
    ColourRow{Face, 0, kBlack},
    ColourRow{Field, 0, kBlack},
    ColourRow{GreyDarkRedText, qRgb(192, 192, 192), qRgb(192, 0, 0)},
    ColourRow{WhiteRedText, qRgb(255, 255, 255), qRgb(255, 0, 0)},
};

enum class Typeface { Gothic, PGothic };

struct FontRow
{
    Font font;
    Typeface face;
    double points;
    bool bold;
};

constexpr std::array kFonts{
    FontRow{W, Typeface::Gothic, 8.25, false},   FontRow{G9, Typeface::Gothic, 9, false},
    FontRow{G9B, Typeface::Gothic, 9, true},     FontRow{G10, Typeface::Gothic, 9.75, false},
    FontRow{G10B, Typeface::Gothic, 9.75, true}, FontRow{P9, Typeface::PGothic, 9, false},
    FontRow{P9B, Typeface::PGothic, 9, true},    FontRow{P10B, Typeface::PGothic, 9.75, true},
};

const ColourRow &rowOf(Colour colour)
{
    for (const auto &row : kColours) {
        if (row.colour == colour)
            return row;
    }
    return kColours.front();
}

// Debian's fonts-ipafont-gothic provides IPAGothic and IPAPGothic; the others are
// Japanese Gothic faces that other systems commonly have.
constexpr std::array<std::u16string_view, 7> kGothicFaces{
    u"ＭＳ ゴシック",         u"MS Gothic", u"IPAGothic",   u"IPAexGothic",
    u"Noto Sans Mono CJK JP", u"VL Gothic", u"Takao Gothic"};
constexpr std::array<std::u16string_view, 7> kPGothicFaces{
    u"ＭＳ Ｐゴシック",  u"MS PGothic", u"IPAPGothic",   u"IPAexGothic",
    u"Noto Sans CJK JP", u"VL PGothic", u"Takao PGothic"};

QStringList familiesOf(Typeface face)
{
    QStringList families;
    for (const std::u16string_view family : face == Typeface::Gothic ? kGothicFaces : kPGothicFaces)
        families.append(QString::fromUtf16(family.data(), qsizetype(family.size())));
    return families;
}

constexpr double kPixelsPerPoint = 96.0 / 72.0;

} // namespace

QColor groundOf(Colour colour)
{
    if (colour == Face || colour == Field)
        return {};
    return QColor::fromRgb(rowOf(colour).ground);
}

QColor inkOf(Colour colour)
{
    return QColor::fromRgb(rowOf(colour).ink);
}

QFont fontOf(Font font)
{
    for (const auto &row : kFonts) {
        if (row.font != font)
            continue;
        QFont result;
        result.setFamilies(familiesOf(row.face));
        result.setPixelSize(qRound(row.points * kPixelsPerPoint));
        result.setWeight(row.bold ? QFont::Bold : QFont::Normal);
        result.setStyleHint(QFont::SansSerif);
        return result;
    }
    return {};
}

} // namespace layout
