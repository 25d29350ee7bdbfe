// A device context wrapper: the class-library face of an HDC.
#pragma once

#include "platform/Gdi.h"

class CDC {
public:
    explicit CDC(HDC hdc = nullptr) : m_hDC(hdc) {}
    HDC GetSafeHdc() const { return m_hDC; }

    HDC m_hDC;
};
