#include "ImageList1.h"

#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

enum class Hue { Grey, Green, Orange };

Hue hueOf(const QColor& c) {
    const int spread = std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
    if (spread < 24)
        return Hue::Grey;
    if (c.green() > c.red() && c.green() > c.blue())
        return Hue::Green;
    EXPECT_TRUE(c.red() > c.green() && c.green() > c.blue()) << c.name().toStdString();
    return Hue::Orange;
}

QImage picture(int image, int size = 16) {
    return ImageList1::icon(image).pixmap(size, size).toImage();
}

} // namespace

// Users: a dot in the colour of the state, on a transparent background.
TEST(ImageList1Test, UserImagesAreDotsInTheColourOfTheirState) {
    const struct {
        int image;
        Hue hue;
    } cases[] = {
        {3, Hue::Grey},   {4, Hue::Green},  {5, Hue::Orange},  {6, Hue::Orange},     {12, Hue::Orange},
        {0, Hue::Orange}, {2, Hue::Orange}, {-4, Hue::Orange}, {32770, Hue::Orange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        const QImage img = picture(c.image);
        ASSERT_EQ(img.size(), QSize(16, 16));
        const QColor centre = img.pixelColor(8, 9);
        EXPECT_EQ(centre.alpha(), 255);
        EXPECT_EQ(hueOf(centre), c.hue);
        EXPECT_EQ(hueOf(ImageList1::statusColor(c.image)), c.hue);
        for (const QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)})
            EXPECT_EQ(img.pixelColor(corner).alpha(), 0) << corner.x() << ',' << corner.y();
        // Drawn smoothly: the rim blends into the background.
        bool partlyCovered = false;
        for (int x = 0; x < 16; ++x)
            partlyCovered |= img.pixelColor(x, 8).alpha() > 0 && img.pixelColor(x, 8).alpha() < 255;
        EXPECT_TRUE(partlyCovered);
    }
}

TEST(ImageList1Test, GroupImageIsAFolderUnlikeAnyDot) {
    const QImage folder = picture(ImageList1::Group);
    ASSERT_EQ(folder.size(), QSize(16, 16));
    for (const int dot : {3, 4, 5})
        EXPECT_NE(folder, picture(dot)) << dot;
    // Wider than a dot: the folder's body reaches the left and right edges of the design grid.
    EXPECT_GT(folder.pixelColor(2, 10).alpha(), 0);
    EXPECT_GT(folder.pixelColor(13, 10).alpha(), 0);
    EXPECT_EQ(picture(3).pixelColor(1, 10).alpha(), 0);
}

TEST(ImageList1Test, SameImageGivesTheSameSharedIconAndLargerSizesStaySharp) {
    EXPECT_EQ(ImageList1::icon(4).cacheKey(), ImageList1::icon(4).cacheKey());
    EXPECT_EQ(ImageList1::icon(7).cacheKey(), ImageList1::icon(8).cacheKey());
    EXPECT_NE(ImageList1::icon(3).cacheKey(), ImageList1::icon(4).cacheKey());
    EXPECT_NE(ImageList1::icon(4).cacheKey(), ImageList1::icon(5).cacheKey());
    EXPECT_TRUE(ImageList1::icon(4).availableSizes().contains(QSize(32, 32)));
    EXPECT_EQ(hueOf(picture(4, 32).pixelColor(16, 18)), Hue::Green);
}
