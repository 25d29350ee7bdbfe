// CDIB drawing through a device context, and device-dependent bitmaps.
#include <cstdint>
#include <cstdlib>

#include "dib/Dib.h"
#include "platform/Bitmap.h"
#include "platform/Dc.h"

int CDIB::Draw(HDC hdc, int xDest, int yDest, int width, int height, int xSrc, int ySrc) const {
    if (!m_pBlock) return 0;
    // ySrc counts rows from the top; the platform counts them from the bottom.
    const int64_t bottomUpSrc = int64_t(m_nHeight) - height - ySrc;
    if (bottomUpSrc < INT32_MIN || bottomUpSrc > INT32_MAX) return 0;
    return SetDIBitsToDevice(hdc, xDest, yDest, static_cast<DWORD>(width),
                             static_cast<DWORD>(height), xSrc, static_cast<int>(bottomUpSrc), 0,
                             static_cast<UINT>(m_nHeight), m_pBits,
                             reinterpret_cast<const BITMAPINFO*>(m_pInfo), DIB_RGB_COLORS);
}

int CDIB::StretchDraw(HDC hdc, int xDest, int yDest, int wDest, int hDest, int xSrc, int ySrc,
                      int wSrc, int hSrc) const {
    if (!m_pBlock) return 0;
    // Unlike Draw, ySrc goes to the platform as it is: a bottom-up coordinate.
    return StretchDIBits(hdc, xDest, yDest, wDest, hDest, xSrc, ySrc, wSrc, hSrc, m_pBits,
                         reinterpret_cast<const BITMAPINFO*>(m_pInfo), DIB_RGB_COLORS, SRCCOPY);
}

CBitmap* CDIB::MakeBitmap(CDC* pDC) const {
    if (!m_pBlock || !pDC) return nullptr;
    HBITMAP made = CreateDIBitmap(pDC->GetSafeHdc(), m_pInfo, CBM_INIT, m_pBits,
                                  reinterpret_cast<const BITMAPINFO*>(m_pInfo), DIB_RGB_COLORS);
    if (!made) return nullptr;
    CGdiObject* wrapper = CGdiObject::FromHandle(made);
    if (!wrapper) {
        DeleteObject(made);
        return nullptr;
    }
    BITMAP desc{};
    GetObjectA(made, sizeof(BITMAP), &desc);
    const size_t bytes = static_cast<size_t>(desc.bmWidthBytes) * desc.bmHeight;
    void* buffer = std::malloc(bytes ? bytes : 1);
    CBitmap* result = nullptr;
    if (buffer) {
        GetBitmapBits(made, static_cast<LONG>(bytes), buffer);
        result = new CBitmap;
        if (result->CreateBitmapIndirect(&desc)) {
            result->SetBitmapBits(static_cast<DWORD>(bytes), buffer);
        } else {
            delete result;
            result = nullptr;
        }
        std::free(buffer);
    }
    // The intermediate bitmap has served its purpose once its bits are copied.
    wrapper->DeleteObject();
    return result;
}

CBitmap* CDIB::GetDeviceBitmap(CDC* pDC) const {
    if (!m_pBlock || !pDC) return nullptr;
    HBITMAP made = CreateDIBitmap(pDC->GetSafeHdc(), m_pInfo, CBM_INIT, m_pBits,
                                  reinterpret_cast<const BITMAPINFO*>(m_pInfo), DIB_RGB_COLORS);
    return made ? CBitmap::FromHandle(made) : nullptr;
}
