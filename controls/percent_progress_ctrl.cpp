#include "controls/percent_progress_ctrl.h"

#include "controls/buffered_dc.h"
#include "core/text.h"

namespace {

// Fills a rectangle with one colour, without a brush (what CDC::FillSolidRect does).
void FillSolid(HDC dc, const RECT& rect, COLORREF colour) noexcept {
    ::SetBkColor(dc, colour);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

// Draws `text` into `bounds`, clipped to `clip` (client coordinates of a buffer whose device
// origin is `origin`), in `colour`.
void DrawClipped(HDC dc, const std::wstring& text, const RECT& bounds, const RECT& clip, POINT origin,
                 COLORREF colour) noexcept {
    // Regions are in device units, the rectangles in client coordinates.
    HRGN region = ::CreateRectRgn(clip.left - origin.x, clip.top - origin.y, clip.right - origin.x,
                                  clip.bottom - origin.y);
    ::SelectClipRgn(dc, region);  // the DC keeps a copy
    if (region) ::DeleteObject(region);
    ::SetTextColor(dc, colour);
    RECT target = bounds;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &target,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

}  // namespace

CPercentProgressCtrl::CPercentProgressCtrl() noexcept
    : m_barColor(::GetSysColor(COLOR_HIGHLIGHT)),
      m_backgroundColor(::GetSysColor(COLOR_WINDOW)),
      m_textOverBackgroundColor(::GetSysColor(COLOR_HIGHLIGHT)),
      m_textOverBarColor(::GetSysColor(COLOR_WINDOW)) {}

CPercentProgressCtrl::~CPercentProgressCtrl() = default;

int CPercentProgressCtrl::SetPos(int position) noexcept {
    HWND hwnd = Hwnd();
    if (!hwnd) return -1;
    const int old = m_pos.exchange(position);
    if (m_lower >= m_upper) return old;  // nothing is drawn then
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const std::int32_t width = quentaro::ProgressFilledWidth(
        quentaro::ProgressFraction(position, m_lower, m_upper), client.right - client.left);
    if (m_barWidth.exchange(width) != width) {
        ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    return old;
}

UINT PaintCountQuery() noexcept {
    static const UINT message = ::RegisterWindowMessageW(L"QUENTARO.PaintCount");
    return message;
}

bool CPercentProgressCtrl::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (msg != 0 && msg == PaintCountQuery()) {
        result = static_cast<LRESULT>(m_paints);
        return true;
    }
    switch (msg) {
    case WM_PAINT:
        ++m_paints;
        OnPaint();
        result = 0;
        return true;
    case WM_ERASEBKGND:  // nonzero: erased; the paint covers every pixel
        result = 1;
        return true;
    case WM_SIZE:
        result = CallOriginal(msg, wp, lp);
        m_barWidth = -1;
        return true;
    case WM_SETTEXT:
        result = OnSetText(wp, lp);
        return true;
    case WM_GETTEXT:
        result = OnGetText(wp, lp);
        return true;
    default:
        return false;
    }
}

void CPercentProgressCtrl::OnPaint() {
    HWND hwnd = Hwnd();
    if (m_lower >= m_upper) {
        ::ValidateRect(hwnd, nullptr);
        return;
    }
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const double fraction = quentaro::ProgressFraction(m_pos.load(), m_lower, m_upper);

    win::PaintScope paint(hwnd);
    if (::IsRectEmpty(&paint.Info().rcPaint)) return;  // nothing to repaint
    CBufferedDC buffer(paint.Dc());
    HDC dc = buffer.Get();
    if (!dc) return;

    RECT filled = client;
    filled.right = client.left + quentaro::ProgressFilledWidth(fraction, client.right - client.left);
    RECT empty = client;
    empty.left = filled.right;
    FillSolid(dc, filled, m_barColor);
    FillSolid(dc, empty, m_backgroundColor);

    if (m_showText) {
        std::wstring text = m_text;
        if (text.empty()) {
            const std::u16string percent = quentaro::ProgressPercentText(fraction);
            text.assign(percent.begin(), percent.end());
        }
        ::SetBkMode(dc, TRANSPARENT);
        const POINT origin{buffer.Rect().left, buffer.Rect().top};
        DrawClipped(dc, text, client, filled, origin, m_textOverBarColor);
        DrawClipped(dc, text, client, empty, origin, m_textOverBackgroundColor);
        ::SelectClipRgn(dc, nullptr);
    }
}

LRESULT CPercentProgressCtrl::OnSetText(WPARAM wp, LPARAM lp) {
    // The native control keeps the window caption as usual; its answer is the reply.
    const LRESULT result = CallOriginal(WM_SETTEXT, wp, lp);
    const wchar_t* text = reinterpret_cast<const wchar_t*>(lp);
    const std::wstring newText = text ? text : L"";
    if (newText != m_text) {
        m_text = newText;
        ::InvalidateRect(Hwnd(), nullptr, TRUE);
    }
    return result;
}

LRESULT CPercentProgressCtrl::OnGetText(WPARAM wp, LPARAM lp) const {
    // wp: the buffer's size in characters; the copy is truncated and always terminated.
    wchar_t* buffer = reinterpret_cast<wchar_t*>(lp);
    const size_t capacity = static_cast<size_t>(wp);
    if (!buffer || capacity == 0) return 0;
    const size_t count = m_text.size() < capacity - 1 ? m_text.size() : capacity - 1;
    m_text.copy(buffer, count);
    buffer[count] = L'\0';
    return static_cast<LRESULT>(count);
}
