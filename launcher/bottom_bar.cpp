#include "launcher/bottom_bar.h"

#include "launcher/launcher_config.h"

#include <cstdio>

namespace
{
constexpr int32_t kBarHeight = 48;
constexpr int32_t kButtonMargin = 8;
constexpr int32_t kButtonWidth = 128;
constexpr int32_t kStatusMargin = 4;
constexpr int32_t kStatusInset = 164;
constexpr int32_t kTrackInset = 2;

bool ShowsProgress(int state)
{
    return state == 2 || state == 5;
}

void AddFill(KrDisplayList& list, const KrRect& rect, KrColor color)
{
    KrDrawItem item;
    item.kind = KrDrawItem::Kind::Fill;
    item.rect = rect;
    item.color = color;
    list.items.push_back(item);
}

void AddText(KrDisplayList& list, const KrRect& rect, KrColor color, KrFont font, std::u16string text)
{
    KrDrawItem item;
    item.kind = KrDrawItem::Kind::Text;
    item.rect = rect;
    item.color = color;
    item.font = font;
    item.text = std::move(text);
    list.items.push_back(item);
}

// Share of the total reached, 0 to 1; nothing while the total is unknown.
double Fraction(float doneMb, float totalMb)
{
    if (!(totalMb > 0) || !(doneMb > 0))
        return 0;
    double f = static_cast<double>(doneMb) / static_cast<double>(totalMb);
    return f > 1 ? 1 : f;
}

std::u16string ProgressSuffix(float doneMb, float totalMb)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, " (%.02fMb/%.02fMb)", static_cast<double>(doneMb),
                  static_cast<double>(totalMb));
    // Digits, blanks and punctuation only: widening byte by byte is exact.
    std::string narrow(buffer);
    return std::u16string(narrow.begin(), narrow.end());
}

void AddProgressBar(KrDisplayList& list, const KrLayout& layout, float doneMb, float totalMb)
{
    AddFill(list, layout.status, kr::colors::kGrey);
    AddFill(list, layout.progress, kr::colors::kBackground);
    KrRect track = layout.progress.Shrunk(kTrackInset);
    AddFill(list, track, kr::colors::kTrack);
    KrRect fill = track;
    fill.right = track.left + static_cast<int32_t>(Fraction(doneMb, totalMb) * track.Width());
    AddFill(list, fill, kr::colors::kGreen);
}
} // namespace

KrLayout ComputeLayout(const KrRect& client)
{
    KrLayout layout;
    layout.bottomBar = client;
    layout.bottomBar.top = client.bottom - kBarHeight;
    layout.button = layout.bottomBar.Shrunk(kButtonMargin);
    layout.button.left = layout.button.right - kButtonWidth;
    layout.buttonHit = layout.button.Shrunk(1);
    layout.status = layout.bottomBar.Shrunk(kStatusMargin);
    layout.status.left += kStatusInset;
    layout.status.right -= kStatusInset;
    layout.progress = layout.status.Shrunk(1);
    return layout;
}

int StatusLabelFor(int state, bool showCompleted)
{
    switch (state)
    {
    case 0:
    case 1:
        return kLabelInstallInit;
    case 2:
        return kLabelInstallProgress;
    case 4:
        return kLabelInstallUpdateInit;
    case 5:
        return kLabelInstallUpdateProgress;
    case 6:
        return showCompleted ? kLabelInstallationCompleted : -1;
    default:
        return -1;
    }
}

KrDisplayList PaintBottomBar(const KrBottomBarInput& input)
{
    const KrLayout& layout = input.layout;
    KrDisplayList list;
    AddFill(list, layout.bottomBar, kr::colors::kBackground);

    if (input.hasInstaller)
    {
        std::u16string status = input.statusLabel;
        if (ShowsProgress(input.state))
        {
            AddProgressBar(list, layout, input.doneMb, input.totalMb);
            status += ProgressSuffix(input.doneMb, input.totalMb);
        }
        // An empty text draws nothing, so it is left out of the list.
        if (!status.empty())
            AddText(list, layout.status, input.state == 6 ? kr::colors::kGrey : kr::colors::kWhite,
                    KrFont::Status, std::move(status));
    }

    list.cursor = KrCursor::Arrow;
    if (input.ready)
    {
        AddFill(list, layout.button, kr::colors::kGreen);
        if (input.hover)
        {
            list.cursor = KrCursor::Hand;
            AddFill(list, layout.buttonHit, kr::colors::kLightGreen);
        }
    }
    else
    {
        AddFill(list, layout.button, kr::colors::kGrey);
    }
    AddText(list, layout.button, kr::colors::kWhite, KrFont::Caption, input.playLabel);
    return list;
}

uint32_t ProgressDecile(float doneMb, float totalMb)
{
    if (!(totalMb > 0))
        return 0;
    return static_cast<uint32_t>(Fraction(doneMb, totalMb) * 10);
}

bool TakeProgressStep(uint32_t& lastDecile, float doneMb, float totalMb)
{
    uint32_t decile = ProgressDecile(doneMb, totalMb);
    if (lastDecile >= 10 || decile <= lastDecile)
        return false;
    lastDecile = decile;
    return true;
}

bool ShowsCompletedText(bool installComplete, uint32_t completionMs, uint32_t nowMs, uint32_t displayMs)
{
    // Before timer 3 has taken the completion time the engine has only just finished.
    if (!installComplete)
        return true;
    return nowMs - completionMs < displayMs;
}
