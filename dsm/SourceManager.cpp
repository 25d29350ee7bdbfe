#include "dsm/SourceManager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "dsm/DefaultSourceStore.h"
#include "dsm/DsmEntry.h"
#include "dsm/ListingWait.h"
#include "dsm/SourceCatalog.h"
#include "dsm/SourceListing.h"
#include "dsm/SourceSearchPath.h"
#include "dsm/SourceSelectDialog.h"
#include "platform/Window.h"
#include "twain/TwainMemory.h"
#include "twain/UnattendedSetting.h"

struct SourceManager::Session {
    SourceCatalog catalog;
    bool listed = false;
    size_t nextListed = 0;  // the source MSG_GETNEXT answers; Count() when the list is done
    const ListedSource* openSource = nullptr;
    TW_UINT16 condition = TWCC_SUCCESS;
    // The open source's registered callback, and its message waiting for MSG_PROCESSEVENT.
    TW_CALLBACK2 callback{};
    TW_UINT16 waitingMessage = MSG_NULL;
    // The listing under way, if any; after the catalog, so that it ends first. Shared
    // with a wait that may outlive the session.
    std::shared_ptr<SourceListing> listing;
};

namespace {

// A source answering these has done what was asked, possibly with changes.
bool Succeeded(TW_UINT16 returnCode) {
    return returnCode == TWRC_SUCCESS || returnCode == TWRC_CHECKSTATUS;
}

}  // namespace

SourceManager& SourceManager::Instance() {
    // Destroyed when the DSM library is unloaded, which unloads the sources still loaded.
    static SourceManager manager;
    return manager;
}

SourceManager::SourceManager() = default;
// Sessions first: a listing thread still running uses the Id counter.
SourceManager::~SourceManager() { m_sessions.clear(); }

TW_UINT16 SourceManager::Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                               TW_UINT16 msg, TW_MEMREF data) {
    if (!origin) return TWRC_FAILURE;
    Lock lock(m_mutex);
    // A source's DAT_NULL names its application as destination; an application's
    // DAT_NULL to its source goes on to the source.
    if (dest && dat == DAT_NULL && !FindSession(origin->Id) && FindSession(dest->Id))
        return FromSource(origin, dest, msg);
    if (dest) return ToSource(origin, dest, dg, dat, msg, data);
    const Outcome outcome = ToManager(lock, origin, dg, dat, msg, data);
    // Looked up afresh: MSG_OPENDSM has just given the origin its Id.
    ConditionFor(origin->Id) = outcome.condition;
    return outcome.returnCode;
}

TW_UINT16 SourceManager::ToSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg,
                                  TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    Session* session = FindSession(origin->Id);
    if (!session) {
        m_unattachedCondition = TWCC_SEQERROR;
        return TWRC_FAILURE;
    }
    const ListedSource* source = session->openSource;
    if (!source || dest->Id != source->identity.Id) {
        session->condition = TWCC_BADDEST;
        return TWRC_FAILURE;
    }
    if (dg == DG_CONTROL && (dat == DAT_CALLBACK2 || dat == DAT_CALLBACK) &&
        msg == MSG_REGISTER_CALLBACK) {
        if (!data) {
            session->condition = TWCC_BADVALUE;
            return TWRC_FAILURE;
        }
        // DAT_CALLBACK's structure is DAT_CALLBACK2's with a 32-bit RefCon.
        session->callback = {};
        if (dat == DAT_CALLBACK2) {
            std::memcpy(&session->callback, data, sizeof(TW_CALLBACK2));
        } else {
            std::memcpy(&session->callback.CallBackProc, data, sizeof(TW_MEMREF));
            TW_UINT32 refCon = 0;
            std::memcpy(&refCon, static_cast<const char*>(data) + sizeof(TW_MEMREF), sizeof refCon);
            session->callback.RefCon = refCon;
        }
        session->waitingMessage = MSG_NULL;
        session->condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT && data &&
        session->waitingMessage != MSG_NULL) {
        static_cast<TW_EVENT*>(data)->TWMessage = session->waitingMessage;
        session->waitingMessage = MSG_NULL;
        return TWRC_DSEVENT;
    }
    return source->library->Call(origin, dg, dat, msg, data);
}

TW_UINT16 SourceManager::FromSource(pTW_IDENTITY source, pTW_IDENTITY application,
                                    TW_UINT16 msg) {
    Session* session = FindSession(application->Id);
    if (!session || !session->openSource || session->openSource->identity.Id != source->Id)
        return TWRC_FAILURE;
    if (msg != MSG_XFERREADY && msg != MSG_CLOSEDSREQ && msg != MSG_CLOSEDSOK &&
        msg != MSG_DEVICEEVENT) {
        session->condition = TWCC_BADPROTOCOL;
        return TWRC_FAILURE;
    }
    if (session->callback.CallBackProc) {
        // The application's own copies: what the callback writes there is not ours.
        TW_IDENTITY from = session->openSource->identity;
        TW_IDENTITY to = *application;
        auto callback = reinterpret_cast<DSMENTRYPROC>(session->callback.CallBackProc);
        return callback(&from, &to, DG_CONTROL, DAT_NULL, msg,
                        reinterpret_cast<TW_MEMREF>(session->callback.RefCon));
    }
    session->waitingMessage = msg;
    return TWRC_SUCCESS;
}

SourceManager::Outcome SourceManager::GetEntryPoint(pTW_IDENTITY origin, TW_UINT16 msg,
                                                    TW_MEMREF data) {
    if (msg != MSG_GET) return {TWRC_FAILURE, TWCC_BADPROTOCOL};
    if (!FindSession(origin->Id)) return {TWRC_FAILURE, TWCC_SEQERROR};
    if (!(origin->SupportedGroups & DF_APP2)) return {TWRC_FAILURE, TWCC_BADPROTOCOL};
    if (!data || static_cast<TW_ENTRYPOINT*>(data)->Size < sizeof(TW_ENTRYPOINT))
        return {TWRC_FAILURE, TWCC_BADVALUE};
    *static_cast<TW_ENTRYPOINT*>(data) = TwainMemory::GlobalEntryPoint(&DSM_Entry);
    return {TWRC_SUCCESS, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::ToManager(Lock& lock, pTW_IDENTITY origin, TW_UINT32 dg,
                                                TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (dg == DG_CONTROL) {
        switch (dat) {
            case DAT_PARENT:
                if (msg == MSG_OPENDSM) return OpenDsm(origin, data);
                if (msg == MSG_CLOSEDSM) return CloseDsm(origin);
                break;
            case DAT_STATUS:
                if (msg == MSG_GET) return GetStatus(origin->Id, data);
                break;
            case DAT_ENTRYPOINT: return GetEntryPoint(origin, msg, data);
            case DAT_IDENTITY:
                switch (msg) {
                    case MSG_GETDEFAULT:
                    case MSG_USERSELECT:
                    case MSG_GETFIRST:
                    case MSG_GETNEXT:
                    case MSG_OPENDS:
                    case MSG_CLOSEDS:
                        return ToIdentity(lock, origin, msg, static_cast<pTW_IDENTITY>(data));
                }
                break;
        }
    }
    return {TWRC_FAILURE, TWCC_BADPROTOCOL};
}

SourceManager::Outcome SourceManager::ToIdentity(Lock& lock, pTW_IDENTITY origin, TW_UINT16 msg,
                                                 pTW_IDENTITY identity) {
    Session* session = FindSession(origin->Id);
    if (!session) return {TWRC_FAILURE, TWCC_SEQERROR};
    if (!identity) return {TWRC_FAILURE, TWCC_BADVALUE};
    if (msg != MSG_GETNEXT && msg != MSG_CLOSEDS) {
        session = EnsureListed(lock, origin->Id);
        if (!session) return {TWRC_FAILURE, TWCC_SEQERROR};
    }
    switch (msg) {
        case MSG_GETDEFAULT: return GetDefault(*session, identity);
        case MSG_USERSELECT: return UserSelect(lock, origin, identity);
        case MSG_GETFIRST: session->nextListed = 0; return GetNext(*session, identity);
        case MSG_GETNEXT: return GetNext(*session, identity);
        case MSG_OPENDS: return OpenSource(*session, origin, identity);
        case MSG_CLOSEDS: return CloseSource(*session, origin, identity);
    }
    return {TWRC_FAILURE, TWCC_BADPROTOCOL};
}

SourceManager::Outcome SourceManager::OpenDsm(pTW_IDENTITY origin, TW_MEMREF data) {
    // data points at the application's window handle; the DSM shows no window of its own
    // there, so only its presence is checked.
    if (!data) return {TWRC_FAILURE, TWCC_BADVALUE};
    if (FindSession(origin->Id)) return {TWRC_FAILURE, TWCC_SEQERROR};
    auto session = std::make_unique<Session>();
    origin->Id = NextId();
    if (origin->SupportedGroups & DF_APP2) origin->SupportedGroups |= DF_DSM2;
    if (*static_cast<HWND*>(data)) {
        session->listing = std::make_shared<SourceListing>(
            session->catalog, SourceSearchPath::Folders(), [this] { return NextId(); });
    }
    m_sessions.emplace(origin->Id, std::move(session));
    return {TWRC_SUCCESS, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::CloseDsm(pTW_IDENTITY origin) {
    auto it = m_sessions.find(origin->Id);
    if (it == m_sessions.end()) return {TWRC_FAILURE, TWCC_SEQERROR};
    std::unique_ptr<Session> session = std::move(it->second);
    m_sessions.erase(it);
    if (session->listing) session->listing->Finish();
    if (const ListedSource* source = session->openSource) {
        TW_IDENTITY listed = source->identity;
        source->library->Call(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &listed);
        session->openSource = nullptr;
    }
    session->catalog.Clear();
    return {TWRC_SUCCESS, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::GetStatus(TW_UINT32 originId, TW_MEMREF data) {
    if (!data) return {TWRC_FAILURE, TWCC_BADVALUE};
    auto* status = static_cast<TW_STATUS*>(data);
    status->ConditionCode = ConditionFor(originId);
    status->Reserved = 0;
    // Reading the condition clears it: the outcome recorded for this call is success.
    return {TWRC_SUCCESS, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::GetDefault(Session& session, pTW_IDENTITY identity) {
    const ListedSource* source = session.catalog.DefaultSource();
    if (!source) return {TWRC_FAILURE, TWCC_NODS};
    *identity = source->identity;
    return {TWRC_SUCCESS, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::GetNext(Session& session, pTW_IDENTITY identity) {
    // A listing thread may still be filling the catalog.
    if (!session.listed) return {TWRC_ENDOFLIST, TWCC_SUCCESS};
    if (session.nextListed >= session.catalog.Count()) {
        session.nextListed = session.catalog.Count();
        return {TWRC_ENDOFLIST, TWCC_SUCCESS};
    }
    *identity = session.catalog.At(session.nextListed++).identity;
    return {TWRC_SUCCESS, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::UserSelect(Lock& lock, pTW_IDENTITY origin,
                                                 pTW_IDENTITY identity) {
    Session* session = FindSession(origin->Id);
    const ListedSource* preferred = session->catalog.DefaultSource();
    if (!preferred) return {TWRC_FAILURE, TWCC_NODS};
    if (UnattendedFromEnvironment() || !SourceSelectDialog::CanShow()) {
        *identity = preferred->identity;
        return {TWRC_SUCCESS, TWCC_SUCCESS};
    }

    if (const ListedSource* named = session->catalog.FindByName(identity->ProductName)) {
        preferred = named;
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < session->catalog.Count(); ++i) {
        names.emplace_back(session->catalog.At(i).identity.ProductName);
    }
    const size_t preselected = session->catalog.IndexOf(*preferred);
    const TW_UINT32 applicationId = origin->Id;
    const std::vector<std::string> notes = session->catalog.Notes();
    // The dialog runs an event loop that may call in again, even to close this session.
    lock.unlock();
    const std::optional<size_t> chosen = SourceSelectDialog::Choose(names, preselected, notes);
    lock.lock();

    session = FindSession(applicationId);
    if (!session) return {TWRC_FAILURE, TWCC_SEQERROR};
    if (!chosen) return {TWRC_CANCEL, TWCC_SUCCESS};
    const ListedSource* source = session->catalog.FindByName(names[*chosen].c_str());
    if (!source) return {TWRC_FAILURE, TWCC_NODS};
    *identity = source->identity;
    std::string error;
    if (!DefaultSourceStore::Save(names[*chosen], &error)) {
        std::fprintf(stderr, "velomark-dsm: cannot remember the chosen source: %s\n",
                     error.c_str());
    }
    return {TWRC_SUCCESS, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::OpenSource(Session& session, pTW_IDENTITY origin,
                                                 pTW_IDENTITY identity) {
    if (session.openSource) return {TWRC_FAILURE, TWCC_MAXCONNECTIONS};
    const bool namesNone = identity->Id == 0 && identity->ProductName[0] == '\0';
    const ListedSource* source =
        namesNone ? session.catalog.DefaultSource() : session.catalog.Find(*identity);
    if (!source) return {TWRC_FAILURE, TWCC_NODS};
    // The source gets its own copy of its identity; what it writes there is not ours.
    TW_IDENTITY listed = source->identity;
    if (listed.SupportedGroups & DF_DS2) {
        TW_ENTRYPOINT entry = TwainMemory::GlobalEntryPoint(&DSM_Entry);
        if (source->library->Call(origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry) !=
            TWRC_SUCCESS)
            return {TWRC_FAILURE, TWCC_OPERATIONERROR};
    }
    const TW_UINT16 answer =
        source->library->Call(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &listed);
    if (!Succeeded(answer)) {
        return {answer, answer == TWRC_FAILURE ? TWCC_OPERATIONERROR : TWCC_SUCCESS};
    }
    session.openSource = source;
    session.callback = {};
    session.waitingMessage = MSG_NULL;
    *identity = source->identity;
    return {answer, TWCC_SUCCESS};
}

SourceManager::Outcome SourceManager::CloseSource(Session& session, pTW_IDENTITY origin,
                                                  pTW_IDENTITY identity) {
    const ListedSource* source = session.openSource;
    if (!source) return {TWRC_FAILURE, TWCC_SEQERROR};
    if (identity->Id != source->identity.Id) return {TWRC_FAILURE, TWCC_BADDEST};
    TW_IDENTITY listed = source->identity;
    const TW_UINT16 answer =
        source->library->Call(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &listed);
    if (!Succeeded(answer)) {
        return {answer, answer == TWRC_FAILURE ? TWCC_OPERATIONERROR : TWCC_SUCCESS};
    }
    session.openSource = nullptr;
    session.callback = {};
    session.waitingMessage = MSG_NULL;
    return {answer, TWCC_SUCCESS};
}

SourceManager::Session* SourceManager::EnsureListed(Lock& lock, TW_UINT32 applicationId) {
    Session* session = FindSession(applicationId);
    if (session->listed) return session;
    if (!session->listing) {
        SourceListing::ListNow(session->catalog, SourceSearchPath::Folders(),
                               [this] { return NextId(); });
    } else {
        if (!session->listing->Done() && ListingWait::KeepsUiRunning()) {
            // The window stays live meanwhile; its loop may call in, even to close this session.
            const std::shared_ptr<SourceListing> listing = session->listing;
            lock.unlock();
            ListingWait::RunUiUntil([&listing] { return listing->Done(); });
            lock.lock();
            session = FindSession(applicationId);
            if (!session || session->listed) return session;
        }
        session->listing->Finish();
        session->listing.reset();
    }
    session->listed = true;
    // MSG_GETNEXT before any MSG_GETFIRST has nothing to continue.
    session->nextListed = session->catalog.Count();
    for (const std::string& note : session->catalog.Notes())
        std::fprintf(stderr, "velomark-dsm: %s\n", note.c_str());
    return session;
}

SourceManager::Session* SourceManager::FindSession(TW_UINT32 originId) {
    auto it = m_sessions.find(originId);
    return it == m_sessions.end() ? nullptr : it->second.get();
}

TW_UINT16& SourceManager::ConditionFor(TW_UINT32 originId) {
    Session* session = FindSession(originId);
    return session ? session->condition : m_unattachedCondition;
}
