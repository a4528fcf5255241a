// The launcher window's mouse handling over the play button and its paint.
#include "launcher/launcher.h"

#include "launcher/launcher_events.h"
#include "services/clock.h"

namespace
{
bool IsReady(const KrLauncherState& state)
{
    return !state.launcherHash.empty() && state.installComplete;
}

} // namespace

void CKrLauncher::OnMouseMove(int32_t x, int32_t y)
{
    if (m_state.layout.buttonHit.Contains(x, y))
    {
        if (!m_state.hover)
            m_ports.window.Invalidate();
        m_state.hover = true;
        if (IsReady(m_state))
            m_ports.window.SetCursor(KrCursor::Hand);
    }
    else
    {
        if (m_state.hover)
            m_ports.window.Invalidate();
        m_state.hover = false;
    }
}

void CKrLauncher::OnLButtonDown(int32_t x, int32_t y)
{
    m_state.pressed = m_state.layout.buttonHit.Contains(x, y);
}

void CKrLauncher::OnLButtonUp(int32_t x, int32_t y)
{
    if (!m_state.pressed)
        return;
    m_state.pressed = false;
    if (m_state.layout.buttonHit.Contains(x, y) && IsReady(m_state))
        StartGame();
}

KrDisplayList CKrLauncher::Paint()
{
    KrBottomBarInput input;
    input.layout = m_state.layout;
    input.playLabel = m_config.labels[kLabelPlay].AsWideText();
    input.ready = IsReady(m_state);
    input.hover = m_state.hover;
    if (m_installer)
    {
        input.hasInstaller = true;
        m_installer->GetStatus(&input.state, &input.doneMb, &input.totalMb, nullptr, nullptr);
        bool showCompleted = ShowsCompletedText(m_state.installComplete, m_state.completionTime,
                                                CKrTime::Now(), kr::launcher::kCompletedTextMs);
        int label = StatusLabelFor(input.state, showCompleted);
        if (label >= 0)
            input.statusLabel = m_config.labels[label].AsWideText();

        if (TakeProgressStep(m_state.lastProgressDecile, input.doneMb, input.totalMb))
            QueueProgressEvent(m_state.lastProgressDecile * 10);
    }
    return PaintBottomBar(input);
}
