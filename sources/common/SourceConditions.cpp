#include "sources/common/SourceConditions.h"

TW_UINT16 SourceConditions::Status(TW_UINT16 msg, TW_STATUS* status) {
    if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
    if (!status) return Fail(TWCC_BADVALUE);
    status->ConditionCode = m_condition;
    status->Reserved = 0;
    m_condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}
