// A data source library for the DSM's tests. What it offers is set at compile time:
//   FAKE_NAMES         product names separated by '|' (an empty one is offered as is)
//   FAKE_MANUFACTURER  the Manufacturer of every identity
//   FAKE_GET_ONLY      refuses MSG_GETFIRST and answers MSG_GET with the first name
//   FAKE_ENDLESS       never answers TWRC_ENDOFLIST
//   FAKE_NO_ENTRY      exports no DS_Entry at all
//   FAKE_LIST_DELAY_MS takes this long to answer MSG_GETFIRST, as a scanner library does
//   FAKE_NOTE          answers DAT_VELOMARK_NOTE with this text, and DAT_VELOMARK_LONGNAME
//                      with "fake:long:" and the product name
// Plain arrays, not library containers, so that the library unloads when closed.
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "tests/dsm/FakeSourceRecord.h"
#include "twain/DataSource.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#ifdef FAKE_NO_ENTRY

FAKE_EXPORT int FakeSource_NotASource() { return 1; }

#else

namespace {

constexpr size_t kMaxCalls = 256;
FakeSourceCall g_calls[kMaxCalls];
size_t g_callCount = 0;
[[maybe_unused]] size_t g_nextName = 0;
TW_UINT16 g_openAnswer = TWRC_SUCCESS;
TW_UINT16 g_closeAnswer = TWRC_SUCCESS;
TW_UINT16 g_otherAnswer = TWRC_SUCCESS;

// The index-th name of FAKE_NAMES, copied like a library that fills all 34
// bytes of a long name; false past the last name.
bool CopyName(size_t index, TW_STR32& out) {
    const char* name = FAKE_NAMES;
    for (; index > 0; --index) {
        name = std::strchr(name, '|');
        if (!name) return false;
        ++name;
    }
    const char* end = std::strchr(name, '|');
    const size_t length = end ? static_cast<size_t>(end - name) : std::strlen(name);
    std::memset(out, 0, sizeof(out));
    std::memcpy(out, name, length < sizeof(out) ? length : sizeof(out));
    return true;
}

TW_UINT16 FillIdentity(size_t index, pTW_IDENTITY identity) {
    TW_IDENTITY filled{};
    if (!CopyName(index, filled.ProductName)) return TWRC_ENDOFLIST;
    filled.Id = 0xdead;  // the DSM assigns Ids; whatever a library puts here is replaced
    filled.Version.MajorNum = 1;
    std::strcpy(filled.Version.Info, "fake");
    filled.ProtocolMajor = 1;
    filled.ProtocolMinor = 9;
    filled.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(filled.Manufacturer, FAKE_MANUFACTURER);
    std::strcpy(filled.ProductFamily, "Fake");
    *identity = filled;
    return TWRC_SUCCESS;
}

TW_UINT16 AnswerIdentity(TW_UINT16 msg, pTW_IDENTITY identity) {
    switch (msg) {
#ifdef FAKE_GET_ONLY
        case MSG_GET: return FillIdentity(0, identity);
#else
        case MSG_GETFIRST:
#ifdef FAKE_LIST_DELAY_MS
            usleep(FAKE_LIST_DELAY_MS * 1000);
#endif
            g_nextName = 0;
            return FillIdentity(g_nextName++, identity);
#ifdef FAKE_ENDLESS
        case MSG_GETNEXT: return FillIdentity(0, identity);
#else
        case MSG_GETNEXT: return FillIdentity(g_nextName++, identity);
#endif
#endif
        case MSG_OPENDS: return g_openAnswer;
        case MSG_CLOSEDS: return g_closeAnswer;
    }
    return TWRC_FAILURE;
}

}  // namespace

FAKE_EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                               TW_MEMREF pData) {
    if (g_callCount < kMaxCalls) {
        FakeSourceCall& call = g_calls[g_callCount++];
        call = FakeSourceCall{pOrigin, DG, DAT, MSG, pData, {}};
        if (DAT == DAT_IDENTITY && pData) call.identity = *static_cast<pTW_IDENTITY>(pData);
    }
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY) {
        return AnswerIdentity(MSG, static_cast<pTW_IDENTITY>(pData));
    }
#ifdef FAKE_NOTE
    if (DG == DG_CONTROL && DAT == DAT_VELOMARK_NOTE && MSG == MSG_GET && !pOrigin) {
        std::strcpy(static_cast<TW_VELOMARK_NOTE*>(pData)->Text, FAKE_NOTE);
        return TWRC_SUCCESS;
    }
    if (DG == DG_CONTROL && DAT == DAT_VELOMARK_LONGNAME && MSG == MSG_GET && !pOrigin) {
        auto* request = static_cast<TW_VELOMARK_LONGNAME*>(pData);
        std::snprintf(request->LongName, sizeof request->LongName, "fake:long:%.33s",
                      request->Identity.ProductName);
        return TWRC_SUCCESS;
    }
#endif
    if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET) {
        static_cast<TW_STATUS*>(pData)->ConditionCode = kFakeSourceCondition;
        return TWRC_SUCCESS;
    }
    return g_otherAnswer;
}

FAKE_EXPORT size_t FakeSource_CallCount() { return g_callCount; }

FAKE_EXPORT const FakeSourceCall* FakeSource_CallAt(size_t index) {
    return index < g_callCount ? &g_calls[index] : nullptr;
}

FAKE_EXPORT void FakeSource_SetAnswers(TW_UINT16 open, TW_UINT16 close, TW_UINT16 other) {
    g_openAnswer = open;
    g_closeAnswer = close;
    g_otherAnswer = other;
}

#endif
