#include "gui/AdvProgr.h"
#include "GuiTestSupport.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

TEST(AdvProgress, StartsWithTheClassicDefaults) {
    TAdvProgress Bar;
    EXPECT_EQ(Bar.Min(), 0);
    EXPECT_EQ(Bar.Max(), 100);
    EXPECT_EQ(Bar.Position(), 0);
    EXPECT_EQ(Bar.Step(), 10);
    EXPECT_EQ(Bar.Orientation(), pbHorizontal);
    EXPECT_FALSE(Bar.Smooth());
    EXPECT_EQ(Bar.BarColor(), 0xFF00000Du);
    EXPECT_EQ(Bar.BkColor(), 0xFF000005u);
    EXPECT_EQ(Bar.Version(), "1.2.0.0");
    Bar.SetVersion("9.9");
    EXPECT_EQ(Bar.Version(), "1.2.0.0");
}

TEST(AdvProgress, RefusesARangeWithTheLowEndAboveTheHighEnd) {
    TAdvProgress Bar;
    Bar.SetPosition(40);
    for (auto Write :
         {+[](TAdvProgress &B) { B.SetMin(101); }, +[](TAdvProgress &B) { B.SetMax(-1); }}) {
        try {
            Write(Bar);
            ADD_FAILURE() << "no error";
        } catch (const EInvalidOperation &E) {
            EXPECT_EQ(E.Message(), "TAdvProgress property out of range");
        }
        EXPECT_EQ(Bar.Min(), 0);
        EXPECT_EQ(Bar.Max(), 100);
        EXPECT_EQ(Bar.Position(), 40);
    }
}

TEST(AdvProgress, TakesAnyThirtyTwoBitRangeAndClampsThePosition) {
    TAdvProgress Bar;
    Bar.SetMax(1000000);
    Bar.SetMin(-70000);
    Bar.SetPosition(500000);
    EXPECT_EQ(Bar.Position(), 500000);
    Bar.SetPosition(2000000);
    EXPECT_EQ(Bar.Position(), 1000000);
    Bar.SetMax(10);
    EXPECT_EQ(Bar.Position(), 10);
    Bar.SetPosition(-1);
    EXPECT_EQ(Bar.Position(), -1);
}

TEST(AdvProgress, LoweringTheLowEndMovesThePositionThere) {
    TAdvProgress Bar;
    Bar.SetPosition(40);
    Bar.SetMin(-10);
    EXPECT_EQ(Bar.Position(), -10);
    Bar.SetPosition(40);
    Bar.SetMin(20); // raising it keeps a position still inside the range
    EXPECT_EQ(Bar.Position(), 40);
}

TEST(AdvProgress, KeepsThePositionAcrossOrientationAndSmoothness) {
    TAdvProgress Bar;
    Bar.SetPosition(37);
    Bar.SetOrientation(pbVertical);
    Bar.SetSmooth(true);
    EXPECT_EQ(Bar.Position(), 37);
    EXPECT_EQ(Bar.Orientation(), pbVertical);
    Bar.SetOrientation(pbHorizontal);
    Bar.SetSmooth(false);
    EXPECT_EQ(Bar.Position(), 37);
}

TEST(Colors, ResolveSystemColoursFromThePaletteAndPlainOnesAsBgr) {
    QPalette Palette;
    Palette.setColor(QPalette::Highlight, QColor(1, 2, 3));
    Palette.setColor(QPalette::Base, QColor(4, 5, 6));
    Palette.setColor(QPalette::Window, QColor(7, 8, 9));
    EXPECT_EQ(ColorToQColor(clHighlight, Palette), QColor(1, 2, 3));
    EXPECT_EQ(ColorToQColor(clWindow, Palette), QColor(4, 5, 6));
    EXPECT_EQ(ColorToQColor(0xFF0000C8, Palette), QColor(7, 8, 9)); // no such index
    EXPECT_EQ(ColorToQColor(clRed, Palette), QColor(255, 0, 0));
    EXPECT_EQ(ColorToQColor(0x00336699, Palette), QColor(0x99, 0x66, 0x33));
}

// A bar of the level meter's shape, painted into an image.
class AdvProgressPainting : public ::testing::Test {
protected:
    void SetUp() override {
        Bar.resize(17, 104);
        Bar.setContentsMargins(2, 2, 2, 2);
        Bar.SetBkColor(0x00FFFFFF);
    }
    QColor PixelAt(int X, int Y) { return Bar.grab().toImage().pixelColor(X, Y); }

    TAdvProgress Bar;
};

TEST_F(AdvProgressPainting, FillsAVerticalBarFromTheBottomUp) {
    Bar.SetOrientation(pbVertical);
    Bar.SetSmooth(true);
    Bar.SetBarColor(clRed);
    Bar.SetPosition(50);
    // Inside the border and the frame, 98 rows: the lower 49 are filled.
    EXPECT_EQ(PixelAt(8, 100), QColor(Qt::red));
    EXPECT_EQ(PixelAt(8, 53), QColor(Qt::red));
    EXPECT_EQ(PixelAt(8, 50), QColor(Qt::white));
    EXPECT_EQ(PixelAt(8, 4), QColor(Qt::white));
    Bar.SetBarColor(clHighlight);
    EXPECT_EQ(PixelAt(8, 100), Bar.palette().color(QPalette::Highlight));
}

TEST_F(AdvProgressPainting, DrawsBlocksWithGapsWhenNotSmooth) {
    Bar.SetOrientation(pbVertical);
    Bar.SetBarColor(clRed);
    Bar.SetPosition(100);
    int Gaps = 0;
    for (int Y = 4; Y < 100; ++Y)
        Gaps += PixelAt(8, Y) == QColor(Qt::white);
    EXPECT_GT(Gaps, 10);
    EXPECT_LT(Gaps, 50);
}

TEST_F(AdvProgressPainting, RepaintsOnEveryColourAssignment) {
    Bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Bar));
    TPaintCounter Paints(&Bar);
    for (TColor Color : {clRed, clRed, clHighlight}) {
        const int Seen = Paints.Count();
        Bar.SetBarColor(Color);
        EXPECT_TRUE(Paints.WaitForPaintAfter(Seen)) << "bar colour " << Color;
    }
    const int Seen = Paints.Count();
    Bar.SetBkColor(Bar.BkColor());
    EXPECT_TRUE(Paints.WaitForPaintAfter(Seen)) << "background colour";
}

} // namespace
