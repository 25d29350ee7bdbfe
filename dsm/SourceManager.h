// The Data Source Manager's state: one session per application that opened the
// DSM, each with its catalogue of sources, at most one open source and the
// condition code of its last triplet that the DSM answered itself.
//
// Conventions beyond the plain protocol values:
// - Sources are looked for and listed at a session's first triplet that needs
//   identities (MSG_GETDEFAULT, MSG_USERSELECT, MSG_GETFIRST, MSG_OPENDS), not
//   at MSG_OPENDSM: a library may take long to list its devices (a scanner on
//   the network), and the program's start-up should not wait for it. MSG_GETNEXT
//   before that lists nothing.
// - Ids come from one counter per loaded DSM, so an application and every
//   source listed in any session have distinct Ids. Sources get theirs when
//   the session lists them, so every identity handed out already carries it.
// - A triplet from an origin whose Id names no session (before MSG_OPENDSM,
//   after MSG_CLOSEDSM) fails with TWCC_SEQERROR, kept in one slot shared by
//   all such origins, which DAT_STATUS reads for them.
// - MSG_OPENDS matches the product name when given and the Id when non-zero;
//   an identity with neither opens the default source.
// - MSG_CLOSEDS with no source open is TWCC_SEQERROR; naming another source
//   than the open one is TWCC_BADDEST, as for any triplet sent to it.
// - When a source refuses MSG_OPENDS or MSG_CLOSEDS with TWRC_FAILURE, the DSM
//   returns that and keeps TWCC_OPERATIONERROR; a refused close leaves the
//   source open. MSG_CLOSEDSM closes the open source whatever it answers.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "twain/TwainTypes.h"

class SourceManager {
public:
    static SourceManager& Instance();

    SourceManager();
    ~SourceManager();
    SourceManager(const SourceManager&) = delete;
    SourceManager& operator=(const SourceManager&) = delete;

    // DSM_Entry: a triplet with pDest null is for the DSM, else for a source.
    TW_UINT16 Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                    TW_UINT16 msg, TW_MEMREF data);

private:
    struct Session;
    struct Outcome {
        TW_UINT16 returnCode;
        TW_UINT16 condition;
    };
    // Recursive, because a source or the selection dialog's event loop may call back in.
    using Lock = std::unique_lock<std::recursive_mutex>;

    TW_UINT16 ToSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                       TW_UINT16 msg, TW_MEMREF data);
    Outcome ToManager(Lock& lock, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                      TW_MEMREF data);
    Outcome ToIdentity(Lock& lock, pTW_IDENTITY origin, TW_UINT16 msg, pTW_IDENTITY identity);

    Outcome OpenDsm(pTW_IDENTITY origin, TW_MEMREF data);
    Outcome CloseDsm(pTW_IDENTITY origin);
    Outcome GetStatus(TW_UINT32 originId, TW_MEMREF data);
    Outcome GetDefault(Session& session, pTW_IDENTITY identity);
    Outcome GetNext(Session& session, pTW_IDENTITY identity);
    Outcome UserSelect(Lock& lock, pTW_IDENTITY origin, pTW_IDENTITY identity);
    Outcome OpenSource(Session& session, pTW_IDENTITY origin, pTW_IDENTITY identity);
    Outcome CloseSource(Session& session, pTW_IDENTITY origin, pTW_IDENTITY identity);

    // Lists the session's sources if it has not yet.
    void EnsureListed(Session& session);
    Session* FindSession(TW_UINT32 originId);
    TW_UINT16& ConditionFor(TW_UINT32 originId);

    std::recursive_mutex m_mutex;
    std::map<TW_UINT32, std::unique_ptr<Session>> m_sessions;
    TW_UINT16 m_unattachedCondition = TWCC_SUCCESS;
    TW_UINT32 m_nextId = 1;
};
