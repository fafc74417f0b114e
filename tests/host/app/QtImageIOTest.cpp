#include "host/app/QtImageIO.h"

#include <gtest/gtest.h>

using namespace Dravelin;

TEST(QtImageIO, ConvertsGreyAndRgbImages)
{
    MemImage grey;
    grey.width = 3;  // odd width: QImage pads its rows
    grey.height = 2;
    grey.pixels = {0, 10, 20, 30, 40, 250};
    const QImage g = QtImageIO::convertMemToQt(grey);
    ASSERT_FALSE(g.isNull());
    EXPECT_EQ(g.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(g.size(), QSize(3, 2));
    EXPECT_EQ(qGray(g.pixel(2, 0)), 20);
    EXPECT_EQ(qGray(g.pixel(0, 1)), 30);
    EXPECT_EQ(qGray(g.pixel(2, 1)), 250);

    MemImage rgb;
    rgb.width = 1;
    rgb.height = 2;
    rgb.channels = 3;
    rgb.pixels = {255, 0, 0, 1, 2, 3};
    const QImage c = QtImageIO::convertMemToQt(rgb);
    EXPECT_EQ(c.format(), QImage::Format_RGB888);
    EXPECT_EQ(c.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(c.pixel(0, 1), qRgb(1, 2, 3));
}

TEST(QtImageIO, NullOrShortImagesGiveNull)
{
    EXPECT_TRUE(QtImageIO::convertMemToQt(MemImage()).isNull());
    MemImage shortImage;
    shortImage.width = 4;
    shortImage.height = 4;
    shortImage.pixels.resize(15);
    EXPECT_TRUE(QtImageIO::convertMemToQt(shortImage).isNull());
}
