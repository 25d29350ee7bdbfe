// The Data Source Manager's state: one session per application that opened the
// DSM, each with its catalogue of sources, at most one open source and the
// condition code of its last triplet that the DSM answered itself.
//
// Conventions beyond the plain protocol values:
// - Sources are looked for and listed once per session. A session opened with a
//   window (MSG_OPENDSM's handle not null: an application with a user who waits)
//   starts listing at once on a thread of its own (SourceListing), so that a
//   scanner library that takes seconds to list its devices does so during the
//   program's start-up. The first triplet that needs identities (MSG_GETDEFAULT,
//   MSG_USERSELECT, MSG_GETFIRST, MSG_OPENDS) waits for what is still missing, on
//   the user-interface thread with the toolkit's loop running (ListingWait). A
//   session opened without a window lists at that first triplet, on the caller's
//   thread. MSG_GETNEXT before the list is complete lists nothing.
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
// TWAIN 2, as the standard Linux DSM does it:
// - An application whose identity has DF_APP2 gets DF_DSM2 back at MSG_OPENDSM and
//   may ask DAT_ENTRYPOINT / MSG_GET. The memory functions are global memory blocks,
//   the memory every Velomark side uses, so a handle still knows its size.
// - A source whose identity has DF_DS2 gets DAT_ENTRYPOINT / MSG_SET before
//   MSG_OPENDS; refusing it refuses the open (TWCC_OPERATIONERROR).
// - A source's DAT_NULL (origin the source, destination the application) goes to
//   the callback the application registered for it (DAT_CALLBACK2 or DAT_CALLBACK /
//   MSG_REGISTER_CALLBACK); without one, it is the answer to the application's next
//   MSG_PROCESSEVENT (TWRC_DSEVENT), whatever event that carries.
#pragma once

#include <atomic>
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
    // DAT_NULL from a source to its application.
    TW_UINT16 FromSource(pTW_IDENTITY source, pTW_IDENTITY application, TW_UINT16 msg);
    Outcome GetEntryPoint(pTW_IDENTITY origin, TW_UINT16 msg, TW_MEMREF data);
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

    // Completes the session's list of sources if it is not yet. Null when the session
    // was closed meanwhile (the wait runs the user interface, which may close it).
    Session* EnsureListed(Lock& lock, TW_UINT32 applicationId);
    TW_UINT32 NextId() { return m_nextId.fetch_add(1); }
    Session* FindSession(TW_UINT32 originId);
    TW_UINT16& ConditionFor(TW_UINT32 originId);

    std::recursive_mutex m_mutex;
    std::map<TW_UINT32, std::unique_ptr<Session>> m_sessions;
    TW_UINT16 m_unattachedCondition = TWCC_SUCCESS;
    // Atomic: a listing thread takes Ids for the sources it lists.
    std::atomic<TW_UINT32> m_nextId{1};
};
