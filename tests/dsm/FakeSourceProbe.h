// A test's view of a fake source library that the DSM has loaded: the triplets
// it received and its answers. Holding a probe keeps the library loaded.
#pragma once

#include <string>
#include <vector>

#include "tests/dsm/FakeSourceRecord.h"

class FakeSourceProbe {
public:
    // Attaches to the library at `path` if this process has it loaded.
    explicit FakeSourceProbe(const std::string& path);
    ~FakeSourceProbe();
    FakeSourceProbe(const FakeSourceProbe&) = delete;
    FakeSourceProbe& operator=(const FakeSourceProbe&) = delete;

    bool Attached() const { return m_handle != nullptr; }
    // Every triplet received, listing ones (null origin) included.
    std::vector<FakeSourceCall> Calls() const;
    // The triplets received from an application (non-null origin).
    std::vector<FakeSourceCall> SessionCalls() const;
    void SetAnswers(TW_UINT16 open, TW_UINT16 close, TW_UINT16 other);

    // Whether the process has the library at `path` loaded, without loading it.
    static bool IsLoaded(const std::string& path);

private:
    void* m_handle;
    FakeSourceCallCountProc m_callCount = nullptr;
    FakeSourceCallAtProc m_callAt = nullptr;
    FakeSourceSetAnswersProc m_setAnswers = nullptr;
};
