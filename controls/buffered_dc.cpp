#include "controls/buffered_dc.h"

CBufferedDC::CBufferedDC(HDC target) noexcept : m_target(target) {
    // GetClipBox: the smallest rectangle around what may be drawn (the update region during a
    // paint), in logical coordinates. An empty result leaves the rectangle empty.
    if (::GetClipBox(m_target, &m_rect) == ERROR) ::SetRectEmpty(&m_rect);
    m_dc.Reset(::CreateCompatibleDC(m_target));
    m_bitmap.Reset(
        ::CreateCompatibleBitmap(m_target, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top));
    if (!m_dc || !m_bitmap) return;
    m_oldBitmap = ::SelectObject(m_dc.Get(), m_bitmap.Get());
    ::SetWindowOrgEx(m_dc.Get(), m_rect.left, m_rect.top, nullptr);
}

CBufferedDC::~CBufferedDC() {
    if (m_dc && m_bitmap) {
        ::BitBlt(m_target, m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top,
                 m_dc.Get(), m_rect.left, m_rect.top, SRCCOPY);
    }
    if (m_oldBitmap) ::SelectObject(m_dc.Get(), m_oldBitmap);
    m_bitmap.Reset();
    m_dc.Reset();
}
