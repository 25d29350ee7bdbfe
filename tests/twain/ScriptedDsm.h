// The test side of the fake DSM: records every call with its destination,
// triplet and a copy of its data, and answers from per-triplet rules. Without a
// rule it behaves as a well-mannered DSM with one source holding `pendingImages`
// images.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/GlobalMemory.h"
#include "twain/TwainTypes.h"

struct DsmCall {
    bool toSource = false;
    TW_UINT32 originId = 0;
    TW_UINT32 destId = 0;
    TW_UINT32 dg = 0;
    TW_UINT16 dat = 0;
    TW_UINT16 msg = 0;
    TW_MEMREF pData = nullptr;
    std::vector<BYTE> data;       // the data structure's bytes as they came in
    std::vector<BYTE> container;  // for DAT_CAPABILITY: the container's bytes
};

class ScriptedDsm {
public:
    using Rule = std::function<TW_UINT16(const DsmCall&, TW_MEMREF)>;

    // Installs itself as the handler of the fake DSM library at `libraryPath`.
    explicit ScriptedDsm(const char* libraryPath);
    ~ScriptedDsm();

    // A rule for one triplet; it replaces the default answer.
    void On(TW_UINT16 dat, TW_UINT16 msg, Rule rule) { m_rules[Key(dat, msg)] = std::move(rule); }
    // The condition code that the next DAT_STATUS reports.
    void SetCondition(TW_UINT16 cc) { m_condition = cc; }

    // "DSM IDENTITY/OPENDS", "SRC CAPABILITY/SET", ... one per call, in order.
    std::vector<std::string> Trace() const;
    // The same without the DAT_STATUS follow-ups.
    std::vector<std::string> TraceWithoutStatus() const;
    std::vector<DsmCall> calls;

    int pendingImages = 3;
    TW_UINT32 sourceId = 7;
    TW_UINT16 notifyMessage = 0x8123;  // a message number the source claims
    TW_UINT16 notifyAnswer = MSG_XFERREADY;
    std::vector<HGLOBAL> handedOut;  // every image block the source gave away

    static TW_IDENTITY SourceIdentity(const char* productName);
    static std::string Name(const DsmCall& call);

private:
    static TW_UINT16 Dispatch(void* context, pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                              TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);
    TW_UINT16 Default(const DsmCall& call, TW_MEMREF pData);
    static int Key(TW_UINT16 dat, TW_UINT16 msg) { return (dat << 16) | msg; }

    void* m_library = nullptr;
    std::map<int, Rule> m_rules;
    TW_UINT16 m_condition = TWCC_SUCCESS;
};

// A small packed 24-bit DIB in a new global block: width x height, filled with `value`.
HGLOBAL MakePackedDib(int width, int height, BYTE value);
