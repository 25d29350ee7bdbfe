#include "platform/Bitmap.h"

BOOL CBitmap::CreateBitmapIndirect(const BITMAP* desc) {
    if (m_hObject) return FALSE;  // Attach would refuse the new bitmap and leak it
    return Attach(::CreateBitmapIndirect(desc));
}

int CBitmap::GetBitmap(BITMAP* desc) const { return ::GetObjectA(m_hObject, sizeof(BITMAP), desc); }

DWORD CBitmap::SetBitmapBits(DWORD cb, const void* bits) {
    return static_cast<DWORD>(::SetBitmapBits(GetHandle(), cb, bits));
}

DWORD CBitmap::GetBitmapBits(DWORD cb, void* bits) const {
    return static_cast<DWORD>(::GetBitmapBits(GetHandle(), static_cast<LONG>(cb), bits));
}
