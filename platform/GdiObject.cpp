#include "platform/GdiObject.h"

#include <map>
#include <memory>
#include <vector>

#include "platform/Bitmap.h"

namespace {

// Temporary wrappers do not own their handle: they are detached before deletion.
struct TempMap {
    std::map<HGDIOBJ, std::unique_ptr<CGdiObject>> wrappers;
    // Wrappers replaced in their slot: callers may hold them until DeleteTempMap.
    std::vector<std::unique_ptr<CGdiObject>> retired;
    void Clear() {
        for (auto& entry : wrappers) entry.second->Detach();
        for (auto& wrapper : retired) wrapper->Detach();
        wrappers.clear();
        retired.clear();
    }
    ~TempMap() { Clear(); }
};

thread_local TempMap t_temps;

}  // namespace

CGdiObject::~CGdiObject() { DeleteObject(); }

BOOL CGdiObject::Attach(HGDIOBJ h) {
    if (h == nullptr || m_hObject != nullptr) return FALSE;
    m_hObject = h;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject() {
    if (m_hObject == nullptr) return FALSE;
    return ::DeleteObject(Detach());
}

template <class T>
T* CGdiObject::TemporaryFor(HGDIOBJ h) {
    if (h == nullptr) return nullptr;
    auto& slot = t_temps.wrappers[h];
    // A wrapper whose handle was deleted and reissued is replaced by a fresh one.
    T* existing = dynamic_cast<T*>(slot.get());
    if (existing && existing->m_hObject == h) return existing;
    if (slot) t_temps.retired.push_back(std::move(slot));
    auto wrapper = std::make_unique<T>();
    wrapper->m_hObject = h;
    slot = std::move(wrapper);
    return static_cast<T*>(slot.get());
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ h) { return TemporaryFor<CGdiObject>(h); }

CBitmap* CBitmap::FromHandle(HBITMAP h) { return TemporaryFor<CBitmap>(h); }

void CGdiObject::DeleteTempMap() { t_temps.Clear(); }
