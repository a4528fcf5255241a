#pragma once
// Layout and paint of the main window's bottom bar: status text, progress bar and play button.
#include "launcher/display_list.h"

#include <cstdint>
#include <string>

// The five rectangles of the main window, from its client rectangle.
struct KrLayout
{
    KrRect bottomBar;
    KrRect button;
    KrRect buttonHit;
    KrRect status;
    KrRect progress;
};
KrLayout ComputeLayout(const KrRect& client);

namespace kr::colors
{
constexpr KrColor kBackground{250, 250, 250};
constexpr KrColor kTrack{190, 190, 190};
constexpr KrColor kGrey{176, 176, 176};
constexpr KrColor kGreen{116, 176, 0};
constexpr KrColor kLightGreen{148, 232, 32};
constexpr KrColor kWhite{255, 255, 255};
} // namespace kr::colors

// What one paint needs to know.
struct KrBottomBarInput
{
    KrLayout layout;
    bool hasInstaller = false;
    int state = 0; // the installer's state, 0 to 7
    float doneMb = 0;
    float totalMb = 0;
    std::u16string statusLabel; // chosen by state (StatusLabelFor); empty for none
    std::u16string playLabel;
    bool ready = false; // logged in and installation complete
    bool hover = false;
};

// The status label of an installer state: the label index (KrLabel of launcher_config.h), or -1 for
// none. `showCompleted` tells whether the completion text is still shown in state 6.
int StatusLabelFor(int state, bool showCompleted);

// The display list of one paint.
KrDisplayList PaintBottomBar(const KrBottomBarInput& input);

// Tenth of the progress reached, 0 to 10 (0 while the total is not above 0).
uint32_t ProgressDecile(float doneMb, float totalMb);

// Whether a progress event is due: the decile rose above `lastDecile`, which is below 10. Then
// `lastDecile` takes the new decile, the event's step.
bool TakeProgressStep(uint32_t& lastDecile, float doneMb, float totalMb);

// Whether "installation completed" still shows at `nowMs`: until `completionMs` has been taken
// (`installComplete`), and then for the display time after it. Millisecond clock values that wrap.
bool ShowsCompletedText(bool installComplete, uint32_t completionMs, uint32_t nowMs, uint32_t displayMs);
