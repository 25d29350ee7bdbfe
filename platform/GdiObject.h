// A graphics object wrapper owning one handle, with per-thread temporary wrappers
// for handles that nobody wrapped yet (FromHandle), as the class library has them.
#pragma once

#include "platform/Gdi.h"

class CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject();  // deletes the attached object

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    // Takes ownership of a handle; fails if this wrapper already holds one or h is null.
    BOOL Attach(HGDIOBJ h);
    HGDIOBJ Detach();
    BOOL DeleteObject();

    // A temporary wrapper for h that does not own it and lives until DeleteTempMap.
    static CGdiObject* FromHandle(HGDIOBJ h);
    // Frees this thread's temporary wrappers; the objects they named are left alone.
    static void DeleteTempMap();

    HGDIOBJ m_hObject = nullptr;

protected:
    template <class T>
    static T* TemporaryFor(HGDIOBJ h);
};
