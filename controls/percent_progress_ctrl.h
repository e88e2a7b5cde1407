// CPercentProgressCtrl: the install page's progress bar, a progress control painted by the program.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "win/subclass.h"

// Takes over the painting of an existing msctls_progress32 window (attached by subclassing): a
// filled part in the bar colour, an empty part in the background colour, and the percentage
// centred across the whole bar in the swapped colours. The native control's own position and
// range are never used.
//
// Threads: the window belongs to the user-interface thread, which paints it. SetPos may be called
// from one other thread (the install job): the position and the cached filled width are atomics,
// and the repaint it asks for runs on the window's thread (RedrawWindow with RDW_UPDATENOW sends
// the paint there and waits for it).
class CPercentProgressCtrl : public win::Subclass {
public:
    // Reads the colours from the system, once.
    CPercentProgressCtrl() noexcept;
    ~CPercentProgressCtrl() override;

    // Stores the position and returns the previous one, or returns -1 without storing anything
    // when the control has no window. Asks for an immediate repaint only when the filled width in
    // pixels changes; nothing is sent to the native control.
    int SetPos(int position) noexcept;
    int GetPos() const noexcept { return m_pos.load(); }

protected:
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

private:
    void OnPaint();
    LRESULT OnSetText(WPARAM wp, LPARAM lp);
    LRESULT OnGetText(WPARAM wp, LPARAM lp) const;

    std::atomic<std::int32_t> m_pos{0};
    std::int32_t m_upper = 100;
    std::int32_t m_lower = 0;
    std::wstring m_text;  // UI thread only
    bool m_showText = true;
    std::atomic<std::int32_t> m_barWidth{-1};  // filled width at the last repaint request; -1 none
    COLORREF m_barColor;
    COLORREF m_backgroundColor;
    COLORREF m_textOverBackgroundColor;
    COLORREF m_textOverBarColor;
    std::uint32_t m_paints = 0;  // UI thread: WM_PAINT messages handled, for PaintCountQuery
};

// A diagnostic query that the bar answers: the registered message "QUENTARO.PaintCount" (wParam,
// lParam 0) returns how many WM_PAINT messages the bar has handled since it was attached. It lets
// a test or a benchmark see that the bar repaints only when its filled width changes.
UINT PaintCountQuery() noexcept;
