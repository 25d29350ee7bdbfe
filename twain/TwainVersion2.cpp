// CTwain: what a TWAIN 2 DSM adds. Its memory functions (DAT_ENTRYPOINT), the
// callback through which sources deliver their messages (DAT_CALLBACK2), native
// images that are not packed DIBs, and sources listed rather than chosen in the
// DSM's own dialog.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "twain/NativeImage.h"
#include "twain/TiffDibReader.h"
#include "twain/Twain.h"

namespace {

// Called by the DSM, possibly on a source's thread: only posts. RefCon (here pData)
// is the window the DSM was opened with.
TW_UINT16 SourceCallback(pTW_IDENTITY origin, pTW_IDENTITY, TW_UINT32, TW_UINT16 dat,
                         TW_UINT16 msg, TW_MEMREF refCon) {
    if (dat != DAT_NULL || !refCon) return TWRC_FAILURE;
    if (msg != MSG_XFERREADY && msg != MSG_CLOSEDSREQ && msg != MSG_CLOSEDSOK) return TWRC_SUCCESS;
    const LPARAM sourceId = origin ? static_cast<LPARAM>(origin->Id) : 0;
    return PostMessage(static_cast<HWND>(refCon), kDsmCallbackMessage, msg, sourceId)
               ? TWRC_SUCCESS
               : TWRC_FAILURE;
}

bool SameName(const TW_STR32& a, const char* b) { return std::strncmp(a, b, sizeof(a)) == 0; }

}  // namespace

bool CTwain::SourceUiWanted() {
    const char* value = std::getenv("VELOMARK_SOURCE_UI");
    return !(value && std::strcmp(value, "0") == 0);
}

void CTwain::TakeDsmEntryPoint() {
    m_memory = TwainMemory();
    if (!(m_AppId.SupportedGroups & DF_DSM2)) return;
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof(entry);
    if (CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &entry))
        m_memory = TwainMemory(entry);
}

void CTwain::RegisterCallback() {
    if (!m_memory.UsesDsmFunctions()) return;
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&SourceCallback);
    callback.RefCon = reinterpret_cast<uintptr_t>(m_hParentWnd);
    // Refused, the source's messages come only as answers to MSG_PROCESSEVENT, which
    // the program must then offer on its events (NeedsEveryEvent).
    const TW_UINT16 code = m_nReturnCode;
    m_bCallbackRegistered =
        CallDsm(&m_AppId, &m_Source, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback);
    m_nReturnCode = code;
}

std::vector<TW_IDENTITY> CTwain::ListSources() {
    std::vector<TW_IDENTITY> sources;
    TW_IDENTITY identity{};
    for (TW_UINT16 msg = MSG_GETFIRST;
         sources.size() < 256 &&
         CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, msg, &identity);
         msg = MSG_GETNEXT) {
        identity.ProductName[sizeof(identity.ProductName) - 1] = '\0';
        sources.push_back(identity);
        identity = {};
    }
    return sources;
}

std::optional<size_t> CTwain::ChooseSource(const std::vector<TW_IDENTITY>&, size_t preselected) {
    return preselected;
}

BOOL CTwain::SelectFromList() {
    const std::vector<TW_IDENTITY> sources = ListSources();
    if (sources.empty()) {
        m_nReturnCode = TWRC_FAILURE;
        return m_bSourceSelected;
    }
    TW_IDENTITY preferred{};
    const bool hasDefault =
        CallDsm(&m_AppId, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &preferred);
    size_t preselected = 0;
    for (size_t i = 0; hasDefault && i < sources.size(); ++i)
        if (sources[i].Id == preferred.Id) preselected = i;
    const std::optional<size_t> chosen = ChooseSource(sources, preselected);
    if (!chosen || *chosen >= sources.size()) {
        m_nReturnCode = TWRC_CANCEL;
        return m_bSourceSelected;
    }
    m_Source = sources[*chosen];
    m_bSourceSelected = TRUE;
    m_nReturnCode = TWRC_SUCCESS;
    return TRUE;
}

void CTwain::PreferNamedSource() {
    const char* name = std::getenv("VELOMARK_DEFAULT_SOURCE");
    if (!name || !*name || (m_bSourceSelected && SameName(m_Source.ProductName, name))) return;
    const TW_UINT16 code = m_nReturnCode;
    for (const TW_IDENTITY& source : ListSources()) {
        if (SameName(source.ProductName, name)) {
            m_Source = source;
            m_bSourceSelected = TRUE;
            m_nReturnCode = TWRC_SUCCESS;
            return;
        }
    }
    // Not a product name here (Velomark's DSM also knows other names): its default stands.
    m_nReturnCode = code;
}

HGLOBAL CTwain::TakeNativeImage(TW_HANDLE hNative, TW_IMAGEINFO* info, bool* sameHandle) {
    *sameHandle = false;
    // A global memory block holding anything but a TIFF goes on as it is: the
    // receiver reads a packed DIB within the block's size.
    const size_t known = TwainMemory::KnownSize(hNative);
    if (known != 0) {
        bool tiff = false;
        if (known >= 8) {
            const void* p = m_memory.Lock(hNative);
            tiff = p && TiffDibReader::IsTiff(p);
            m_memory.Unlock(hNative);
        }
        if (!tiff) {
            *sameHandle = true;
            return static_cast<HGLOBAL>(hNative);
        }
    }
    std::string whyNot;
    HGLOBAL dib = NativeImage::ToPackedDib(hNative, m_memory, info, &whyNot);
    if (dib) return dib;
    std::fprintf(stderr, "velomark: the source's image is refused: %s\n", whyNot.c_str());
    // The receiver gets an empty block, which it refuses as it refuses a malformed
    // DIB: the page is reported, nothing of it is read.
    return GlobalAlloc(GHND, 0);
}
