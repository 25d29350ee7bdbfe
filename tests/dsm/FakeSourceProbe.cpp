#include "tests/dsm/FakeSourceProbe.h"

#include <dlfcn.h>

FakeSourceProbe::FakeSourceProbe(const std::string& path)
    : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    if (!m_handle) return;
    m_callCount =
        reinterpret_cast<FakeSourceCallCountProc>(dlsym(m_handle, "FakeSource_CallCount"));
    m_callAt = reinterpret_cast<FakeSourceCallAtProc>(dlsym(m_handle, "FakeSource_CallAt"));
    m_setAnswers =
        reinterpret_cast<FakeSourceSetAnswersProc>(dlsym(m_handle, "FakeSource_SetAnswers"));
}

FakeSourceProbe::~FakeSourceProbe() {
    if (m_handle) dlclose(m_handle);
}

std::vector<FakeSourceCall> FakeSourceProbe::Calls() const {
    std::vector<FakeSourceCall> calls;
    if (!m_callCount || !m_callAt) return calls;
    for (size_t i = 0; i < m_callCount(); ++i) calls.push_back(*m_callAt(i));
    return calls;
}

std::vector<FakeSourceCall> FakeSourceProbe::SessionCalls() const {
    std::vector<FakeSourceCall> calls;
    for (const FakeSourceCall& call : Calls()) {
        if (call.origin) calls.push_back(call);
    }
    return calls;
}

void FakeSourceProbe::SetAnswers(TW_UINT16 open, TW_UINT16 close, TW_UINT16 other) {
    if (m_setAnswers) m_setAnswers(open, close, other);
}

bool FakeSourceProbe::IsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}
