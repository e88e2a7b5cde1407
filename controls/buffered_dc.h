// CBufferedDC: an off-screen drawing context over a paint DC, for flicker-free painting.
#pragma once

#include <windows.h>

#include "win/handles.h"

// Composes a picture of the target's clip box in a memory DC whose window origin is the clip box's
// top-left corner, so that the caller draws in the target's (client) coordinates. The destructor
// copies the buffered rectangle to the same place in the target with one BitBlt (SRCCOPY) and
// releases the bitmap and the memory DC. One paint at a time, on the window's own thread.
class CBufferedDC {
public:
    explicit CBufferedDC(HDC target) noexcept;
    ~CBufferedDC();
    CBufferedDC(const CBufferedDC&) = delete;
    CBufferedDC& operator=(const CBufferedDC&) = delete;

    // The memory DC to draw into.
    HDC Get() const noexcept { return m_dc.Get(); }
    // The buffered rectangle: the target's clip box in its logical (client) coordinates. Device
    // units of the memory DC are these coordinates minus the rectangle's top-left corner.
    const RECT& Rect() const noexcept { return m_rect; }

private:
    win::UniqueMemoryDc m_dc;
    win::UniqueBitmap m_bitmap;
    HGDIOBJ m_oldBitmap = nullptr;
    HDC m_target;
    RECT m_rect{};
};
