// The condition code a source library keeps for DAT_STATUS: set by its last
// failure, read and cleared by DAT_STATUS.
#pragma once

#include "twain/TwainTypes.h"

// A session's failure: stores the condition code for the source and answers
// TWRC_FAILURE.
inline TW_UINT16 FailWith(TW_UINT16* condition, TW_UINT16 code) {
    *condition = code;
    return TWRC_FAILURE;
}

class SourceSession;

class SourceConditions {
protected:
    // Keeps the code and answers TWRC_FAILURE.
    TW_UINT16 Fail(TW_UINT16 condition) {
        m_condition = condition;
        return TWRC_FAILURE;
    }
    // DAT_STATUS / MSG_GET.
    TW_UINT16 Status(TW_UINT16 msg, TW_STATUS* status);
    // A triplet for the open session (TWCC_SEQERROR when none is open); the condition
    // of its failure is kept.
    TW_UINT16 ToSession(SourceSession* session, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                        TW_MEMREF data);

    TW_UINT16 m_condition = TWCC_SUCCESS;
};
