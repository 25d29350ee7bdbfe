#include "sources/common/SourceConditions.h"

#include "sources/common/SourceSession.h"

TW_UINT16 SourceConditions::Status(TW_UINT16 msg, TW_STATUS* status) {
    if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
    if (!status) return Fail(TWCC_BADVALUE);
    status->ConditionCode = m_condition;
    status->Reserved = 0;
    m_condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceConditions::ToSession(SourceSession* session, TW_UINT32 dg, TW_UINT16 dat,
                                      TW_UINT16 msg, TW_MEMREF data) {
    if (!session) return Fail(TWCC_SEQERROR);
    TW_UINT16 condition = TWCC_SUCCESS;
    const TW_UINT16 result = session->Handle(dg, dat, msg, data, &condition);
    if (condition != TWCC_SUCCESS) m_condition = condition;
    return result;
}
