// What a fake source library records of the triplets it receives, and the
// functions through which a test reads the record and sets the answers. A test
// reaches them with dlsym on the library the DSM loaded.
#pragma once

#include <cstddef>

#include "twain/TwainTypes.h"

struct FakeSourceCall {
    pTW_IDENTITY origin;
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    TW_MEMREF data;
    TW_IDENTITY identity;  // a copy of *data for DAT_IDENTITY triplets, else zero
};

// The fake's answer to every DAT_STATUS, so a test can tell it from the DSM's.
constexpr TW_UINT16 kFakeSourceCondition = 0x4242;

extern "C" {
typedef size_t (*FakeSourceCallCountProc)();
typedef const FakeSourceCall* (*FakeSourceCallAtProc)(size_t index);
// The answers to MSG_OPENDS, MSG_CLOSEDS and to every triplet not about identities.
typedef void (*FakeSourceSetAnswersProc)(TW_UINT16 open, TW_UINT16 close, TW_UINT16 other);
}
