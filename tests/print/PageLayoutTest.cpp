#include "PageComposer.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace terralume::print;

namespace {

class MulDivRounding : public ::testing::TestWithParam<std::tuple<int, int, int, int>> {};

TEST_P(MulDivRounding, NearestWithHalvesAwayFromZero)
{
    const auto [number, numerator, denominator, expected] = GetParam();
    EXPECT_EQ(MulDiv(number, numerator, denominator), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, MulDivRounding,
                         ::testing::Values(std::tuple{4800, 10, 100, 480}, std::tuple{4800, 80, 100, 3840},
                                           std::tuple{4958, 10, 100, 496}, // 495.8 up
                                           std::tuple{4954, 10, 100, 495}, // 495.4 down
                                           std::tuple{4955, 10, 100, 496}, // a half goes away from zero
                                           std::tuple{-4955, 10, 100, -496}, std::tuple{4955, -10, 100, -496},
                                           std::tuple{12, 600, 72, 100}, std::tuple{8, 600, 72, 67},   // 66.67
                                           std::tuple{12, 300, 72, 50}, std::tuple{1 << 30, 8, 4, -1}, // overflow
                                           std::tuple{5, 1, 0, -1}));

class Centring : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(Centring, HalvesTheDifferenceTowardZero)
{
    const auto [page, text, expected] = GetParam();
    EXPECT_EQ(CentredX(page, text), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, Centring,
                         ::testing::Values(std::tuple{4800, 1000, 1900}, std::tuple{4800, 1001, 1899},
                                           std::tuple{100, 105, -2}, // -5 gives -2, not -3
                                           std::tuple{100, 101, 0}, std::tuple{100, 100, 0}));

struct PictureCase {
    int pageWidth, pageHeight, titleHeight, footerHeight;
    QSize bitmap;
    QRect expected;
};

class PicturePlace : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PicturePlace, EightyPercentWideBelowTheTitleAboveTheFooter)
{
    const PictureCase c = GetParam();
    EXPECT_EQ(pictureRect(c.pageWidth, c.pageHeight, c.titleHeight, c.footerHeight, c.bitmap), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PicturePlace,
    ::testing::Values(
        // Portrait: x 480..4320, y 300..4140, whatever the zoom of the view.
        PictureCase{4800, 6600, 100, 67, QSize(257, 257), QRect(QPoint(480, 300), QPoint(4319, 4139))},
        PictureCase{4800, 6600, 100, 67, QSize(5120, 5120), QRect(QPoint(480, 300), QPoint(4319, 4139))},
        // Height truncates: 3840 * 100 / 257 = 1494.16...
        PictureCase{4800, 6600, 100, 67, QSize(257, 100), QRect(480, 300, 3840, 1494)},
        // Exactly touching the footer line still fits unchanged.
        PictureCase{4800, 4207, 100, 67, QSize(100, 100), QRect(480, 300, 3840, 3840)},
        // Landscape A4 at 600 dpi: 6720 x 4660 printable; 5376 tall would run
        // through the footer, so the picture ends on its top, centred.
        PictureCase{6720, 4660, 100, 67, QSize(257, 257), QRect(1213, 300, 4293, 4293)},
        PictureCase{6720, 4660, 100, 67, QSize(576, 576), QRect(1213, 300, 4293, 4293)},
        // No room at all below the title: an empty picture, not a negative one.
        PictureCase{4800, 250, 100, 67, QSize(257, 257), QRect(2400, 300, 0, 0)}));

struct FooterCase {
    const char *size;
    int water, heat;
    QDateTime when;
    DateSeparators separators;
    const char *expected;
};

class Footer : public ::testing::TestWithParam<FooterCase> {};

TEST_P(Footer, ReadsAsTheSettingsTheNoticeAndTheDate)
{
    const FooterCase c = GetParam();
    const PageDescription page{QString(), QString::fromLatin1(c.size), c.water, c.heat, c.when};
    EXPECT_EQ(footerText(page, c.separators).toStdString(), c.expected);
}

const DateSeparators kCommon;
const DateSeparators kDotted{QStringLiteral("."), QStringLiteral(".")};

INSTANTIATE_TEST_SUITE_P(
    Rows, Footer,
    ::testing::Values(FooterCase{"Medium", -5, 10, QDateTime(QDate(2026, 3, 7), QTime(9, 5)), kCommon,
                                 "Size - Medium, Water Level - -5, Heat Level - 10   Printed by Terralume, the Random "
                                 "World Generator  3/7/26  9:05"},
                      FooterCase{"Small", 0, 0, QDateTime(QDate(2026, 12, 31), QTime(0, 5)), kCommon,
                                 "Size - Small, Water Level - 0, Heat Level - 0   Printed by Terralume, the Random "
                                 "World Generator  12/31/26  0:05"},
                      FooterCase{"Large", 40, -40, QDateTime(QDate(2009, 1, 2), QTime(14, 30)), kCommon,
                                 "Size - Large, Water Level - 40, Heat Level - -40   Printed by Terralume, the Random "
                                 "World Generator  1/2/09  14:30"},
                      FooterCase{"Large", -40, 40, QDateTime(QDate(2000, 10, 10), QTime(23, 59)), kDotted,
                                 "Size - Large, Water Level - -40, Heat Level - 40   Printed by Terralume, the Random "
                                 "World Generator  10.10.00  23.59"}));

struct LocaleCase {
    QLocale::Language language;
    QLocale::Territory territory;
    const char *date;
    const char *time;
};

class Separators : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(Separators, ComeFromTheLocalesShortFormats)
{
    const LocaleCase c = GetParam();
    const DateSeparators s = separatorsOf(QLocale(c.language, c.territory));
    EXPECT_EQ(s.date, QString::fromUtf8(c.date));
    EXPECT_EQ(s.time, QString::fromUtf8(c.time));
}

INSTANTIATE_TEST_SUITE_P(Rows, Separators,
                         ::testing::Values(LocaleCase{QLocale::English, QLocale::UnitedStates, "/", ":"},
                                           LocaleCase{QLocale::German, QLocale::Germany, ".", ":"},
                                           LocaleCase{QLocale::Dutch, QLocale::Netherlands, "-", ":"},
                                           LocaleCase{QLocale::Finnish, QLocale::Finland, ".", "."},
                                           LocaleCase{QLocale::C, QLocale::AnyTerritory, "/", ":"}));

} // namespace
