#include "Resources.h"
#include "CGdiPlusBitmap.h"
#include "Strings.h"

#include <QLocale>
#include <QPainter>

#include <gtest/gtest.h>

using velk::ResourceType;

namespace {

enum class Alpha { No, Yes, Any };

struct ResourceCase {
    int number;
    ResourceType type;
    int width;
    int height;
    Alpha alpha;
};

void PrintTo(const ResourceCase& c, std::ostream* os) {
    *os << c.number << (c.type == ResourceType::Bitmap ? " bitmap" : " png");
}

// Every picture the panels draw, with the size its place on the panel needs. The control panel's
// pictures are 24-bit except the pause bars and the loudspeaker, which carry alpha.
const ResourceCase kResources[] = {
    // title bar and its buttons
    {147, ResourceType::Png, 1080, 42, Alpha::Any},
    {265, ResourceType::Png, 47, 42, Alpha::Any},
    {255, ResourceType::Png, 47, 42, Alpha::Any},
    {148, ResourceType::Png, 47, 42, Alpha::Any},
    {149, ResourceType::Png, 47, 42, Alpha::Any},
    {151, ResourceType::Png, 38, 42, Alpha::Any},
    {153, ResourceType::Png, 38, 42, Alpha::Any},
    {155, ResourceType::Png, 38, 42, Alpha::Any},
    {207, ResourceType::Png, 360, 281, Alpha::Any},
    // tabs fill the 34 pixel high tab strip; Korean and English sets
    {210, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {211, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {212, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {213, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {214, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {215, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {228, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {230, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {232, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {235, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {239, ResourceType::Bitmap, 120, 34, Alpha::Any},
    {243, ResourceType::Bitmap, 120, 34, Alpha::Any},
    // control panel
    {158, ResourceType::Png, 720, 75, Alpha::No},
    {159, ResourceType::Png, 38, 38, Alpha::No},
    {160, ResourceType::Png, 38, 38, Alpha::No},
    {161, ResourceType::Png, 38, 38, Alpha::No},
    {162, ResourceType::Png, 38, 38, Alpha::No},
    {163, ResourceType::Png, 38, 38, Alpha::Yes},
    {164, ResourceType::Png, 38, 38, Alpha::No},
    {165, ResourceType::Png, 38, 38, Alpha::No},
    {224, ResourceType::Png, 56, 23, Alpha::No},
    {226, ResourceType::Png, 27, 23, Alpha::Yes},
    // vehicle information panel
    {171, ResourceType::Png, 240, 123, Alpha::Any},
    {179, ResourceType::Png, 480, 123, Alpha::Any},
    {267, ResourceType::Png, 40, 18, Alpha::Any},
    {268, ResourceType::Png, 40, 18, Alpha::Any},
    {176, ResourceType::Png, 39, 16, Alpha::Any},
    {180, ResourceType::Png, 11, 18, Alpha::Any},
    {181, ResourceType::Png, 11, 18, Alpha::Any},
    {182, ResourceType::Png, 11, 18, Alpha::Any},
    {183, ResourceType::Png, 11, 18, Alpha::Any},
    {184, ResourceType::Png, 11, 18, Alpha::Any},
    {185, ResourceType::Png, 11, 18, Alpha::Any},
    {186, ResourceType::Png, 11, 18, Alpha::Any},
    {187, ResourceType::Png, 11, 18, Alpha::Any},
    {188, ResourceType::Png, 11, 18, Alpha::Any},
    {189, ResourceType::Png, 11, 18, Alpha::Any},
    {190, ResourceType::Png, 9, 12, Alpha::Any},
    {191, ResourceType::Png, 9, 12, Alpha::Any},
    {192, ResourceType::Png, 9, 12, Alpha::Any},
    {193, ResourceType::Png, 9, 12, Alpha::Any},
    {194, ResourceType::Png, 9, 12, Alpha::Any},
    {195, ResourceType::Png, 9, 12, Alpha::Any},
    {196, ResourceType::Png, 9, 12, Alpha::Any},
    {197, ResourceType::Png, 9, 12, Alpha::Any},
    {198, ResourceType::Png, 9, 12, Alpha::Any},
    {199, ResourceType::Png, 9, 12, Alpha::Any},
    {172, ResourceType::Png, 43, 37, Alpha::Any},
    {173, ResourceType::Png, 43, 37, Alpha::Any},
    {174, ResourceType::Png, 43, 37, Alpha::Any},
    {175, ResourceType::Png, 43, 37, Alpha::Any},
    {177, ResourceType::Png, 43, 37, Alpha::Any},
    {178, ResourceType::Png, 43, 37, Alpha::Any},
    {266, ResourceType::Png, 43, 37, Alpha::Any},
    {169, ResourceType::Png, 43, 37, Alpha::Any},
    {170, ResourceType::Png, 43, 37, Alpha::Any},
    {251, ResourceType::Png, 57, 29, Alpha::Any},
    {253, ResourceType::Png, 57, 29, Alpha::Any},
    {256, ResourceType::Png, 57, 29, Alpha::Any},
    {258, ResourceType::Png, 57, 29, Alpha::Any},
    {240, ResourceType::Png, 57, 29, Alpha::Any},
    {242, ResourceType::Png, 57, 29, Alpha::Any},
    {246, ResourceType::Png, 57, 29, Alpha::Any},
    {248, ResourceType::Png, 57, 29, Alpha::Any},
    // side panel: header bars and placeholders
    {216, ResourceType::Bitmap, 360, 43, Alpha::Any},
    {217, ResourceType::Bitmap, 360, 43, Alpha::Any},
    {247, ResourceType::Bitmap, 360, 43, Alpha::Any},
    {254, ResourceType::Bitmap, 360, 43, Alpha::Any},
    {271, ResourceType::Bitmap, 360, 43, Alpha::Any},
    {272, ResourceType::Bitmap, 360, 43, Alpha::Any},
    {168, ResourceType::Png, 360, 203, Alpha::Any},
    {261, ResourceType::Png, 360, 203, Alpha::Any},
    // front video placeholder
    {157, ResourceType::Png, 720, 405, Alpha::Any},
};

class ResourceTable : public ::testing::TestWithParam<ResourceCase> {};

TEST_P(ResourceTable, DecodesAtItsSize) {
    const ResourceCase& c = GetParam();
    const QImage image = velk::resourceImage(c.number, c.type);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(c.width, c.height));
    if (c.alpha != Alpha::Any) {
        EXPECT_EQ(image.hasAlphaChannel(), c.alpha == Alpha::Yes);
    }
}

INSTANTIATE_TEST_SUITE_P(Panels, ResourceTable, ::testing::ValuesIn(kResources));

TEST(Resources, ProgramIconIsASquarePictureWithAlpha) {
    const QImage icon = velk::resourceImage(128, ResourceType::Icon);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.width(), icon.height());
    EXPECT_TRUE(icon.hasAlphaChannel());
}

TEST(Resources, ShippedSetIsExactlyTheTable) {
    // A picture nobody looks for, or a number typed wrong in the artwork list, shows up here.
    QList<int> png, bitmap;
    for (const ResourceCase& c : kResources)
        (c.type == ResourceType::Png ? png : bitmap).append(c.number);
    std::sort(png.begin(), png.end());
    std::sort(bitmap.begin(), bitmap.end());
    QList<int> shippedPng = velk::resourceNumbers(ResourceType::Png);
    shippedPng.removeAll(9998); // this test's own broken fixture
    EXPECT_EQ(shippedPng, png);
    EXPECT_EQ(velk::resourceNumbers(ResourceType::Bitmap), bitmap);
}

TEST(Resources, SelectedTabIsLighterThanUnselected) {
    auto lightness = [](int number) {
        const QImage image = velk::resourceImage(number, ResourceType::Bitmap);
        qint64 sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += qGray(image.pixel(x, y));
        return sum / (image.width() * image.height());
    };
    const int pairs[][2] = {{211, 210}, {212, 213}, {214, 215}, {228, 230}, {232, 235}, {239, 243}};
    for (const auto& [selected, unselected] : pairs) {
        EXPECT_GT(lightness(selected), lightness(unselected)) << selected << " vs " << unselected;
    }
}

// Opaque buttons, labels and lamps carry the panel picture they are drawn on as their own ground;
// a wrong offset would show as a visible square on the panel. Their corners must match the panel
// picture at each place they are drawn.
TEST(Resources, OpaquePiecesMatchThePanelUnderThem) {
    struct Piece {
        int number;
        int panel;
        QPoint at;
    };
    QList<Piece> pieces = {
        {265, 147, {759, 0}},  {255, 147, {806, 0}},  {148, 147, {853, 0}},  {149, 147, {900, 0}},
        {151, 147, {952, 0}},  {153, 147, {990, 0}},  {155, 147, {1028, 0}}, {159, 158, {17, 27}},
        {160, 158, {101, 27}}, {161, 158, {171, 27}}, {162, 158, {239, 27}}, {164, 158, {309, 27}},
        {165, 158, {377, 27}}, {224, 158, {454, 37}}, {267, 171, {65, 93}},  {268, 171, {65, 93}},
        {176, 171, {129, 95}}, {172, 171, {14, 40}},  {173, 171, {14, 40}},  {174, 171, {181, 40}},
        {175, 171, {181, 40}}, {177, 171, {124, 40}}, {178, 171, {124, 40}}, {266, 171, {68, 40}},
        {169, 171, {68, 40}},  {170, 171, {68, 40}},  {251, 171, {28, 2}},   {253, 171, {28, 2}},
        {256, 171, {157, 2}},  {258, 171, {157, 2}},  {240, 171, {93, 2}},   {242, 171, {93, 2}},
        {246, 171, {93, 2}},   {248, 171, {93, 2}},
    };
    // One digit picture serves every cell of its number.
    for (int d = 0; d < 10; ++d) {
        for (int x : {22, 33, 44})
            pieces.append({180 + d, 171, {x, 90}});
        for (int x : {171, 180, 189, 198, 207})
            pieces.append({190 + d, 171, {x, 96}});
    }
    for (const Piece& piece : pieces) {
        SCOPED_TRACE(piece.number);
        const QImage image = velk::resourceImage(piece.number);
        const QImage panel = velk::resourceImage(piece.panel);
        ASSERT_FALSE(image.isNull());
        ASSERT_FALSE(panel.isNull());
        const int w = image.width(), h = image.height();
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)}) {
            const QColor own = image.pixelColor(corner);
            const QColor under = panel.pixelColor(piece.at + corner);
            EXPECT_LE(qAbs(own.red() - under.red()) + qAbs(own.green() - under.green()) +
                          qAbs(own.blue() - under.blue()),
                      3)
                << "corner " << corner.x() << "," << corner.y();
        }
    }
}

struct MissingCase {
    const char* name;
    int number;
    ResourceType type;
};

// Absent numbers, a number of the other kind, and a resource whose bytes are not a picture.
const MissingCase kMissing[] = {
    {"unknown number", 9999, ResourceType::Png},
    {"zero", 0, ResourceType::Png},
    {"negative", -147, ResourceType::Png},
    {"png number asked as bitmap", 147, ResourceType::Bitmap},
    {"bitmap number asked as png", 210, ResourceType::Png},
    {"undecodable bytes", 9998, ResourceType::Png},
};

TEST(Resources, MissingOrUndecodableDrawsNothing) {
    for (const MissingCase& c : kMissing) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(velk::resourceImage(c.number, c.type).isNull());
        CGdiPlusBitmapResource bitmap;
        ASSERT_TRUE(bitmap.Load(157));
        EXPECT_FALSE(bitmap.Load(c.number, c.type));
        EXPECT_TRUE(bitmap.isNull()); // the earlier picture is released too

        QImage canvas(40, 30, QImage::Format_ARGB32);
        canvas.fill(QColor(1, 2, 3));
        const QImage before = canvas;
        {
            QPainter painter(&canvas);
            EXPECT_FALSE(velk::drawResource(painter, c.number, QRect(0, 0, 40, 30), c.type));
            EXPECT_FALSE(velk::drawResource(painter, c.number, 0, 0, c.type));
        }
        EXPECT_EQ(canvas, before);
    }
}

TEST(Resources, DrawScalesIntoTheTarget) {
    QImage canvas(100, 20, QImage::Format_ARGB32);
    canvas.fill(Qt::magenta);
    {
        QPainter painter(&canvas);
        ASSERT_TRUE(velk::drawResource(painter, 207, QRect(10, 5, 50, 10)));
    }
    EXPECT_EQ(canvas.pixelColor(9, 10), QColor(Qt::magenta));
    EXPECT_NE(canvas.pixelColor(30, 10), QColor(Qt::magenta));
    EXPECT_EQ(canvas.pixelColor(60, 10), QColor(Qt::magenta));
}

// The language rule: Korean alone chooses the Korean set; Japanese and PRC Chinese keep their
// own id (the map page depends on it) but use English texts; everything else is 1033.
struct LanguageCase {
    const char* locale;
    quint16 id;
    bool korean;
};

const LanguageCase kLanguages[] = {
    {"ko_KR", 1042, true},  {"ko", 1042, true},     {"ja_JP", 1041, false}, {"zh_CN", 2052, false},
    {"zh", 2052, false},    {"zh_TW", 1033, false}, {"zh_HK", 1033, false}, {"zh_SG", 1033, false},
    {"de_DE", 1033, false}, {"en_US", 1033, false}, {"en_GB", 1033, false}, {"C", 1033, false},
};

TEST(Language, RuleTable) {
    for (const LanguageCase& c : kLanguages) {
        SCOPED_TRACE(c.locale);
        const quint16 id = velk::uiLanguageFor(QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(velk::usesKoreanSet(id), c.korean);
    }
}

// The texts themselves are checked where a user reads them, on the panels' widgets (panels
// tests); here only what no widget shows: an id the table lacks gives no text in any language.
TEST(Language, AnIdWithoutATextGivesNone) {
    for (quint16 language : {1033, 1041, 1042, 2052}) {
        SCOPED_TRACE(language);
        EXPECT_TRUE(velk::loadString(9999, language).isEmpty());
        EXPECT_TRUE(velk::loadString(147, language).isEmpty());
    }
}

} // namespace
