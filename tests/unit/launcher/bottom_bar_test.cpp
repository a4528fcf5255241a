#include "launcher/bottom_bar.h"
#include "launcher/launcher_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::string RectText(const KrRect& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

std::string ColorText(const KrColor& c)
{
    return std::to_string(c.red) + "/" + std::to_string(c.green) + "/" + std::to_string(c.blue);
}

// One line per drawing step, so a whole paint compares in one expectation.
std::vector<std::string> Describe(const KrDisplayList& list)
{
    std::vector<std::string> lines;
    for (const KrDrawItem& item : list.items)
    {
        std::string line = item.kind == KrDrawItem::Kind::Fill ? "fill " : "text ";
        line += RectText(item.rect) + " " + ColorText(item.color);
        if (item.kind == KrDrawItem::Kind::Text)
            line += std::string(item.font == KrFont::Caption ? " caption " : " status ") +
                    std::string(item.text.begin(), item.text.end());
        lines.push_back(line);
    }
    return lines;
}

// The layout of a 1024 x 682 client area, worked out by hand.
const char* const kBar = "fill 0,634,1024,682 250/250/250";
const char* const kGreyButton = "fill 888,642,1016,674 176/176/176";
const char* const kGreenButton = "fill 888,642,1016,674 116/176/0";
const char* const kLitHitArea = "fill 889,643,1015,673 148/232/32";
const char* const kPlay = "text 888,642,1016,674 255/255/255 caption PLAY";
const char* const kStatusArea = "fill 168,638,856,678 176/176/176";
const char* const kProgressFrame = "fill 169,639,855,677 250/250/250";
const char* const kTrack = "fill 171,641,853,675 190/190/190";

KrBottomBarInput Input(int state, const char16_t* status)
{
    KrBottomBarInput input;
    input.layout = ComputeLayout(KrRect{0, 0, 1024, 682});
    input.hasInstaller = true;
    input.state = state;
    input.statusLabel = status;
    input.playLabel = u"PLAY";
    return input;
}

TEST(BottomBarTest, LayoutOfTheMainWindowClient)
{
    KrLayout layout = ComputeLayout(KrRect{0, 0, 1024, 682});
    EXPECT_EQ((KrRect{0, 634, 1024, 682}), layout.bottomBar);
    EXPECT_EQ((KrRect{888, 642, 1016, 674}), layout.button);
    EXPECT_EQ((KrRect{889, 643, 1015, 673}), layout.buttonHit);
    EXPECT_EQ((KrRect{168, 638, 856, 678}), layout.status);
    EXPECT_EQ((KrRect{169, 639, 855, 677}), layout.progress);

    KrLayout moved = ComputeLayout(KrRect{10, 20, 810, 520});
    EXPECT_EQ((KrRect{10, 472, 810, 520}), moved.bottomBar) << "follows the client's own origin";
    EXPECT_EQ((KrRect{674, 480, 802, 512}), moved.button);
}

TEST(BottomBarTest, StatusLabelByState)
{
    EXPECT_EQ(kLabelInstallInit, StatusLabelFor(0, false));
    EXPECT_EQ(kLabelInstallInit, StatusLabelFor(1, false));
    EXPECT_EQ(kLabelInstallProgress, StatusLabelFor(2, false));
    EXPECT_EQ(-1, StatusLabelFor(3, true));
    EXPECT_EQ(kLabelInstallUpdateInit, StatusLabelFor(4, false));
    EXPECT_EQ(kLabelInstallUpdateProgress, StatusLabelFor(5, false));
    EXPECT_EQ(kLabelInstallationCompleted, StatusLabelFor(6, true));
    EXPECT_EQ(-1, StatusLabelFor(6, false));
    EXPECT_EQ(-1, StatusLabelFor(7, true));
    EXPECT_EQ(-1, StatusLabelFor(8, true));
}

TEST(BottomBarTest, ProgressBarWithTruncatedFillAndMegabytes)
{
    // Track 682 wide; 1.5 of 4 is 255.75 pixels, drawn as 255.
    KrBottomBarInput input = Input(2, u"Installing");
    input.doneMb = 1.5f;
    input.totalMb = 4.0f;
    EXPECT_EQ((std::vector<std::string>{
                  kBar, kStatusArea, kProgressFrame, kTrack, "fill 171,641,426,675 116/176/0",
                  "text 168,638,856,678 255/255/255 status Installing (1.50Mb/4.00Mb)", kGreyButton, kPlay}),
              Describe(PaintBottomBar(input)));

    input = Input(5, u"Updating");
    input.doneMb = 0.004f;
    input.totalMb = 1234.567f;
    std::vector<std::string> lines = Describe(PaintBottomBar(input));
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("fill 171,641,171,675 116/176/0", lines[4]) << "a sliver of progress fills nothing yet";
    EXPECT_EQ("text 168,638,856,678 255/255/255 status Updating (0.00Mb/1234.57Mb)", lines[5]);
}

TEST(BottomBarTest, ProgressBarNeverLeavesItsTrack)
{
    KrBottomBarInput input = Input(2, u"");
    input.doneMb = 3;
    input.totalMb = 0;
    std::vector<std::string> lines = Describe(PaintBottomBar(input));
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("fill 171,641,171,675 116/176/0", lines[4]) << "no total yet";
    EXPECT_EQ("text 168,638,856,678 255/255/255 status  (3.00Mb/0.00Mb)", lines[5])
        << "the megabytes show even without a label";

    input.doneMb = 5;
    input.totalMb = 4;
    EXPECT_EQ("fill 171,641,853,675 116/176/0", Describe(PaintBottomBar(input))[4]);
}

TEST(BottomBarTest, StatusTextWithoutProgressBar)
{
    EXPECT_EQ((std::vector<std::string>{kBar, "text 168,638,856,678 255/255/255 status Connecting",
                                        kGreyButton, kPlay}),
              Describe(PaintBottomBar(Input(0, u"Connecting"))));

    KrBottomBarInput done = Input(6, u"Completed");
    done.doneMb = done.totalMb = 10;
    EXPECT_EQ((std::vector<std::string>{kBar, "text 168,638,856,678 176/176/176 status Completed",
                                        kGreyButton, kPlay}),
              Describe(PaintBottomBar(done)))
        << "the completion text is grey";

    for (int state : {3, 6, 7})
        EXPECT_EQ((std::vector<std::string>{kBar, kGreyButton, kPlay}),
                  Describe(PaintBottomBar(Input(state, u""))))
            << "state " << state << " without a label draws no status";
}

TEST(BottomBarTest, WithoutInstallerOnlyBarAndDisabledButton)
{
    KrBottomBarInput input = Input(2, u"Installing");
    input.hasInstaller = false;
    input.doneMb = 1;
    input.totalMb = 2;
    input.hover = true;
    KrDisplayList list = PaintBottomBar(input);
    EXPECT_EQ((std::vector<std::string>{kBar, kGreyButton, kPlay}), Describe(list));
    EXPECT_EQ(KrCursor::Arrow, list.cursor);
}

TEST(BottomBarTest, ButtonLooksAndCursor)
{
    KrBottomBarInput input = Input(7, u"");
    input.ready = true;
    KrDisplayList list = PaintBottomBar(input);
    EXPECT_EQ((std::vector<std::string>{kBar, kGreenButton, kPlay}), Describe(list));
    EXPECT_EQ(KrCursor::Arrow, list.cursor);

    input.hover = true;
    list = PaintBottomBar(input);
    EXPECT_EQ((std::vector<std::string>{kBar, kGreenButton, kLitHitArea, kPlay}), Describe(list));
    EXPECT_EQ(KrCursor::Hand, list.cursor);

    input.ready = false;
    list = PaintBottomBar(input);
    EXPECT_EQ((std::vector<std::string>{kBar, kGreyButton, kPlay}), Describe(list));
    EXPECT_EQ(KrCursor::Arrow, list.cursor) << "hovering a disabled button keeps the arrow";
}

TEST(BottomBarTest, ProgressDecileEdges)
{
    EXPECT_EQ(0u, ProgressDecile(5, 0));
    EXPECT_EQ(0u, ProgressDecile(5, -1));
    EXPECT_EQ(0u, ProgressDecile(0, 100));
    EXPECT_EQ(1u, ProgressDecile(10, 100));
    EXPECT_EQ(9u, ProgressDecile(99.9f, 100));
    EXPECT_EQ(10u, ProgressDecile(100, 100));
    EXPECT_EQ(10u, ProgressDecile(733.25f, 733.25f));
    EXPECT_EQ(10u, ProgressDecile(200, 100)) << "an overshoot counts as complete";
}

TEST(BottomBarTest, ProgressStepsRiseOnceEachAndStopAtTen)
{
    uint32_t last = 0;
    std::vector<uint32_t> sent;
    for (float done : {0.f, 5.f, 12.f, 19.f, 15.f, 47.f, 47.f, 100.f, 100.f, 30.f})
        if (TakeProgressStep(last, done, 100))
            sent.push_back(last);
    EXPECT_EQ((std::vector<uint32_t>{1, 4, 10}), sent);
    EXPECT_EQ(10u, last);

    last = 3;
    EXPECT_FALSE(TakeProgressStep(last, 80, 0)) << "no total, no step";
    EXPECT_EQ(3u, last);
}

TEST(BottomBarTest, CompletedTextShowsForItsDisplayTime)
{
    EXPECT_TRUE(ShowsCompletedText(false, 0, 999999, 4000)) << "completion time not taken yet";
    EXPECT_TRUE(ShowsCompletedText(true, 10000, 10000, 4000));
    EXPECT_TRUE(ShowsCompletedText(true, 10000, 13999, 4000));
    EXPECT_FALSE(ShowsCompletedText(true, 10000, 14000, 4000));
    EXPECT_TRUE(ShowsCompletedText(true, 0xFFFFFF00u, 0x00000E9Fu, 4000)) << "across the clock's wrap";
    EXPECT_FALSE(ShowsCompletedText(true, 0xFFFFFF00u, 0x00000EA0u, 4000));
}

} // namespace
