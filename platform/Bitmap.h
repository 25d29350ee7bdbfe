// A device bitmap wrapper.
#pragma once

#include "platform/GdiObject.h"

class CBitmap : public CGdiObject {
public:
    BOOL CreateBitmapIndirect(const BITMAP* desc);
    int GetBitmap(BITMAP* desc) const;
    DWORD SetBitmapBits(DWORD cb, const void* bits);
    DWORD GetBitmapBits(DWORD cb, void* bits) const;
    HBITMAP GetHandle() const { return static_cast<HBITMAP>(m_hObject); }

    static CBitmap* FromHandle(HBITMAP h);
};
