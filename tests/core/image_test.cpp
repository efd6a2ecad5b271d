#include "image/Image.h"
#include "image/PaintHistory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <utility>

using namespace kiv;

namespace {

// Each pixel's colour tells where it is: red = x + 1, green = y + 1.
Image Numbered(int width, int height) {
    Image image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.SetPixel(x, y, RGB(x + 1, y + 1, 7));
    return image;
}

// The picture as rows of characters: '.' black, '#' the given colour, '?' anything else.
std::vector<std::string> Map(const Image& image, TColor color) {
    std::vector<std::string> rows;
    for (int y = 0; y < image.Height(); ++y) {
        std::string row;
        for (int x = 0; x < image.Width(); ++x) {
            const TColor c = image.Pixel(x, y);
            row += c == clBlack ? '.' : c == color ? '#' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

} // namespace

TEST(Image, StartsEmptyAndCountsANegativeOrZeroSideAsEmpty) {
    EXPECT_TRUE(Image().Empty());
    EXPECT_EQ(Image().Width(), 0);
    Image image(-3, 5);
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    image.SetSize(4, 0);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.Width(), 0);
}

TEST(Image, SetSizeKeepsTheOverlapAndBlackensTheRest) {
    Image image = Numbered(4, 3);
    image.SetSize(2, 5);
    ASSERT_EQ(image.Width(), 2);
    ASSERT_EQ(image.Height(), 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(image.Pixel(x, y), y < 3 ? RGB(x + 1, y + 1, 7) : clBlack) << x << "," << y;
    image.SetSize(3, 2);
    EXPECT_EQ(image.Pixel(1, 1), RGB(2, 2, 7));
    EXPECT_EQ(image.Pixel(2, 1), clBlack);
}

TEST(Image, FillRectIsClippedToThePicture) {
    Image image(5, 4);
    image.FillRect(-10, -10, 2, 2, clAqua);
    image.FillRect(4, 3, 100, 100, clAqua);
    image.FillRect(3, 0, 2, 4, clAqua); // right before left: nothing
    image.FillRect(0, 3, 5, 3, clAqua); // no height: nothing
    image.FillRect(INT_MIN, 1, INT_MAX, 2, RGB(1, 1, 1) | 0xFF000000);
    EXPECT_EQ(Map(image, clAqua), (std::vector<std::string>{"##...", "?????", ".....", "....#"}));
    EXPECT_EQ(image.Pixel(0, 1), RGB(1, 1, 1)); // the unused top byte is dropped
}

TEST(Image, PixelsOutsideAreIgnoredAndReadAsBlack) {
    Image image(2, 2);
    image.Fill(clAqua);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {2, 0}, {0, 2}, {INT_MIN, INT_MAX}}) {
        image.SetPixel(x, y, RGB(9, 9, 9));
        EXPECT_EQ(image.Pixel(x, y), clBlack);
    }
    EXPECT_EQ(Map(image, clAqua), (std::vector<std::string>{"##", "##"}));
}

TEST(Image, DrawCopiesTheSourceClippedAtEveryEdge) {
    const Image source = Numbered(3, 2);
    struct Case {
        int X, Y;
        std::vector<std::string> Expected;
    };
    const Case cases[] = {
        {1, 1, {"....", ".###", ".###"}},
        {-2, 0, {"#...", "#...", "...."}},
        {0, -1, {"###.", "....", "...."}},
        {2, 2, {"....", "....", "..##"}},
        {-1, -1, {"##..", "....", "...."}},
        {4, 0, {"....", "....", "...."}},
        {0, 3, {"....", "....", "...."}},
        {-3, 0, {"....", "....", "...."}},
        {INT_MAX, INT_MAX, {"....", "....", "...."}},
        {INT_MIN, INT_MIN, {"....", "....", "...."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.X) + "," + std::to_string(c.Y));
        Image target(4, 3);
        target.Draw(c.X, c.Y, source);
        std::vector<std::string> map;
        for (int y = 0; y < 3; ++y) {
            std::string row;
            for (int x = 0; x < 4; ++x) {
                const TColor got = target.Pixel(x, y);
                if (got == clBlack) {
                    row += '.';
                    continue;
                }
                // Every drawn pixel is the source pixel at the matching place.
                EXPECT_EQ(got, source.Pixel(x - c.X, y - c.Y)) << x << "," << y;
                row += '#';
            }
            map.push_back(row);
        }
        EXPECT_EQ(map, c.Expected);
    }
    Image target(2, 2);
    target.Fill(clAqua);
    target.Draw(0, 0, Image());
    EXPECT_EQ(Map(target, clAqua), (std::vector<std::string>{"##", "##"}));
}

TEST(Image, BitsAreRedGreenBlueZeroWithoutRowPadding) {
    Image image(3, 2);
    image.SetPixel(0, 0, RGB(0x11, 0x22, 0x33));
    image.SetPixel(2, 1, RGB(0xAA, 0xBB, 0xCC));
    ASSERT_EQ(image.BytesPerLine(), 12);
    const std::uint8_t* bits = image.Bits();
    EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 4),
              (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0}));
    EXPECT_EQ(std::vector<std::uint8_t>(bits + 20, bits + 24),
              (std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC, 0}));
    image.Bits()[4] = 0x44;
    EXPECT_EQ(image.Pixel(1, 0), RGB(0x44, 0, 0));
}

TEST(LinePixels, JoinTheEndsWithoutGapsAndWalkOnlyThePictureWhateverTheDistance) {
    struct Case {
        PixelPoint From, To;
        std::size_t Count;
    };
    const Case cases[] = {
        {{3, 4}, {3, 4}, 1},
        {{0, 0}, {19, 11}, 20},
        {{19, 0}, {0, 11}, 20},
        {{5, 1}, {7, 11}, 11},
        {{-100, 5}, {100, 5}, 20},
        {{-1000, -1000}, {900, 900}, 12},
        {{INT_MIN, 6}, {INT_MAX, 6}, 20},
        {{INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}, 12},
        {{-5, -5}, {-1, -9}, 0},
        {{25, 0}, {25, 11}, 0},
    };
    for (const auto& [from, to, count] : cases) {
        const auto points = LinePixels(from, to, 20, 12);
        EXPECT_EQ(points.size(), count) << from.X << "," << from.Y;
        // Inside, one step along the longer axis at a time, within half a pixel of the line.
        const double dx = double(to.X) - from.X, dy = double(to.Y) - from.Y;
        const bool alongX = std::abs(dx) >= std::abs(dy);
        for (std::size_t k = 0; k < points.size(); ++k) {
            const auto [x, y] = points[k];
            EXPECT_TRUE(x >= 0 && y >= 0 && x < 20 && y < 12);
            EXPECT_LE(alongX ? std::abs((dx == 0 ? 0 : dy * (x - double(from.X)) / dx) + from.Y - y)
                             : std::abs(dx * (y - double(from.Y)) / dy + from.X - x),
                      0.5);
            if (k > 0) {
                EXPECT_EQ(alongX ? std::abs(x - points[k - 1].X) : std::abs(y - points[k - 1].Y),
                          1);
            }
        }
    }
}

TEST(PaintHistory, UndoesAndRedoesWholeStrokesAndPicturesWithinItsLimit) {
    Image picture = Numbered(10, 40);
    PaintHistory history(4000);
    std::vector<Image> states{picture};
    // A stroke that turns back over itself; one that changes nothing is no step.
    history.BeginStroke(picture, {1, 1}, clAqua);
    history.StrokeTo(picture, {6, 1});
    history.StrokeTo(picture, {6, 4});
    history.StrokeTo(picture, {1, 1});
    history.EndStroke();
    states.push_back(picture);
    history.BeginStroke(picture, {6, 1}, clAqua);
    history.EndStroke();
    history.PictureReplaced(std::exchange(picture, Numbered(10, 30)), picture);
    states.push_back(picture);
    for (int k = 1; k >= 0; --k) {
        ASSERT_TRUE(history.Undo(picture));
        EXPECT_EQ(picture, states[k]);
    }
    EXPECT_FALSE(history.Undo(picture));
    ASSERT_TRUE(history.Redo(picture));
    EXPECT_EQ(picture, states[1]);
    // A stroke after an undo ends what could be redone.
    history.BeginStroke(picture, {0, 0}, clBlack);
    history.EndStroke();
    EXPECT_FALSE(history.CanRedo());
    states.resize(1);

    // Rows painted one stroke each: the oldest go beyond the limit, and what is kept still
    // takes the picture back to an earlier state.
    for (int row = 0; row < 40; ++row) {
        history.BeginStroke(picture, {-5, row}, RGB(1, 2, 3));
        history.StrokeTo(picture, {50, row});
        history.EndStroke();
        EXPECT_LE(history.Bytes(), 4000u);
        states.push_back(picture);
    }
    int undone = 0;
    while (history.Undo(picture))
        ++undone;
    EXPECT_GT(undone, 2);
    EXPECT_EQ(picture, states[40 - undone]);
    // A picture resized outside the history clears it.
    history.Redo(picture);
    picture.SetSize(3, 3);
    EXPECT_FALSE(history.Undo(picture));
    EXPECT_FALSE(history.CanRedo());
}
