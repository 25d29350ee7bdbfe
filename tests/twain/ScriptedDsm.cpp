#include "tests/twain/ScriptedDsm.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

#include "platform/WinTypes.h"
#include "platform/Window.h"
#include "twain/DataSource.h"
#include "tests/DibRowSize.h"

namespace {

typedef TW_UINT16 (*Handler)(void*, pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16,
                             TW_MEMREF);
typedef void (*SetHandlerProc)(Handler, void*);

size_t DataSize(TW_UINT16 dat) {
    switch (dat) {
        case DAT_CAPABILITY: return sizeof(TW_CAPABILITY);
        case DAT_EVENT: return sizeof(TW_EVENT);
        case DAT_IDENTITY: return sizeof(TW_IDENTITY);
        case DAT_PARENT: return sizeof(void*);
        case DAT_PENDINGXFERS: return sizeof(TW_PENDINGXFERS);
        case DAT_STATUS: return sizeof(TW_STATUS);
        case DAT_USERINTERFACE: return sizeof(TW_USERINTERFACE);
        case DAT_IMAGEINFO: return sizeof(TW_IMAGEINFO);
        case DAT_IMAGELAYOUT: return sizeof(TW_IMAGELAYOUT);
        case DAT_IMAGENATIVEXFER: return sizeof(void*);
        default: return 0;
    }
}

const char* DatName(TW_UINT16 dat) {
    switch (dat) {
        case DAT_CAPABILITY: return "CAPABILITY";
        case DAT_EVENT: return "EVENT";
        case DAT_IDENTITY: return "IDENTITY";
        case DAT_PARENT: return "PARENT";
        case DAT_PENDINGXFERS: return "PENDINGXFERS";
        case DAT_STATUS: return "STATUS";
        case DAT_USERINTERFACE: return "USERINTERFACE";
        case DAT_IMAGEINFO: return "IMAGEINFO";
        case DAT_IMAGELAYOUT: return "IMAGELAYOUT";
        case DAT_IMAGENATIVEXFER: return "IMAGENATIVEXFER";
        case DAT_VELOMARK_NOTE: return "VELOMARK_NOTE";
        default: return "?";
    }
}

const char* MsgName(TW_UINT16 msg) {
    switch (msg) {
        case MSG_GET: return "GET";
        case MSG_GETDEFAULT: return "GETDEFAULT";
        case MSG_SET: return "SET";
        case MSG_RESET: return "RESET";
        case MSG_OPENDSM: return "OPENDSM";
        case MSG_CLOSEDSM: return "CLOSEDSM";
        case MSG_OPENDS: return "OPENDS";
        case MSG_CLOSEDS: return "CLOSEDS";
        case MSG_USERSELECT: return "USERSELECT";
        case MSG_DISABLEDS: return "DISABLEDS";
        case MSG_ENABLEDS: return "ENABLEDS";
        case MSG_PROCESSEVENT: return "PROCESSEVENT";
        case MSG_ENDXFER: return "ENDXFER";
        default: return "?";
    }
}

}  // namespace

ScriptedDsm::ScriptedDsm(const char* libraryPath) {
    m_library = dlopen(libraryPath, RTLD_NOW);
    if (!m_library) throw std::runtime_error(dlerror());
    auto set = reinterpret_cast<SetHandlerProc>(dlsym(m_library, "FakeDsm_SetHandler"));
    if (!set) throw std::runtime_error("FakeDsm_SetHandler missing");
    set(&ScriptedDsm::Dispatch, this);
}

ScriptedDsm::~ScriptedDsm() {
    auto set = reinterpret_cast<SetHandlerProc>(dlsym(m_library, "FakeDsm_SetHandler"));
    set(nullptr, nullptr);
    dlclose(m_library);
}

TW_IDENTITY ScriptedDsm::SourceIdentity(const char* productName) {
    TW_IDENTITY id{};
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 9;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strncpy(id.Manufacturer, "Test", sizeof(id.Manufacturer) - 1);
    std::strncpy(id.ProductName, productName, sizeof(id.ProductName) - 1);
    return id;
}

std::string ScriptedDsm::Name(const DsmCall& call) {
    std::string name = call.toSource ? "SRC " : "DSM ";
    if (call.dg == DG_IMAGE) name += "IMAGE:";
    return name + DatName(call.dat) + "/" + MsgName(call.msg);
}

std::vector<std::string> ScriptedDsm::Trace() const {
    std::vector<std::string> trace;
    for (const auto& call : calls) trace.push_back(Name(call));
    return trace;
}

std::vector<std::string> ScriptedDsm::TraceWithoutStatus() const {
    std::vector<std::string> trace;
    for (const auto& call : calls)
        if (call.dat != DAT_STATUS) trace.push_back(Name(call));
    return trace;
}

TW_UINT16 ScriptedDsm::Dispatch(void* context, pTW_IDENTITY pOrigin, pTW_IDENTITY pDest,
                                TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    auto* self = static_cast<ScriptedDsm*>(context);
    DsmCall call;
    call.toSource = pDest != nullptr;
    call.originId = pOrigin ? pOrigin->Id : 0;
    call.destId = pDest ? pDest->Id : 0;
    call.dg = DG;
    call.dat = DAT;
    call.msg = MSG;
    call.pData = pData;
    if (pData) {
        const auto* bytes = static_cast<const BYTE*>(pData);
        call.data.assign(bytes, bytes + DataSize(DAT));
    }
    if (DAT == DAT_CAPABILITY && pData) {
        auto hContainer = static_cast<HGLOBAL>(static_cast<TW_CAPABILITY*>(pData)->hContainer);
        if (const auto* p = static_cast<const BYTE*>(GlobalLock(hContainer))) {
            call.container.assign(p, p + GlobalSize(hContainer));
            GlobalUnlock(hContainer);
        }
    }
    self->calls.push_back(call);
    auto rule = self->m_rules.find(Key(DAT, MSG));
    if (rule != self->m_rules.end() && DAT != DAT_STATUS) return rule->second(call, pData);
    return self->Default(call, pData);
}

TW_UINT16 ScriptedDsm::Default(const DsmCall& call, TW_MEMREF pData) {
    switch (call.dat) {
        case DAT_STATUS: {
            auto* status = static_cast<TW_STATUS*>(pData);
            *status = TW_STATUS{m_condition, 0};
            m_condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        case DAT_PARENT: return TWRC_SUCCESS;
        case DAT_IDENTITY:
            if (call.msg == MSG_GETDEFAULT) {
                *static_cast<TW_IDENTITY*>(pData) = SourceIdentity("Default Scanner");
            } else if (call.msg == MSG_USERSELECT) {
                *static_cast<TW_IDENTITY*>(pData) = SourceIdentity("Chosen Scanner");
            } else if (call.msg == MSG_OPENDS) {
                static_cast<TW_IDENTITY*>(pData)->Id = sourceId;
            }
            return TWRC_SUCCESS;
        case DAT_CAPABILITY:
            if (call.msg == MSG_GET) {
                auto* cap = static_cast<TW_CAPABILITY*>(pData);
                HGLOBAL h = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
                auto* p = static_cast<BYTE*>(GlobalLock(h));
                p[0] = TWTY_INT16;
                p[2] = static_cast<BYTE>(pendingImages);
                GlobalUnlock(h);
                cap->ConType = TWON_ONEVALUE;
                cap->hContainer = h;
            }
            return TWRC_SUCCESS;
        case DAT_IMAGELAYOUT: return TWRC_SUCCESS;  // any area will do
        case DAT_USERINTERFACE:
            if (call.msg == MSG_ENABLEDS) static_cast<TW_USERINTERFACE*>(pData)->ModalUI = 0;
            return TWRC_SUCCESS;
        case DAT_EVENT: {
            auto* event = static_cast<TW_EVENT*>(pData);
            const auto* msg = static_cast<const MSG*>(event->pEvent);
            if (msg && msg->message == notifyMessage) {
                event->TWMessage = notifyAnswer;
                return TWRC_DSEVENT;
            }
            event->TWMessage = MSG_NULL;
            return TWRC_NOTDSEVENT;
        }
        case DAT_IMAGEINFO: {
            if (pendingImages <= 0) return TWRC_FAILURE;
            TW_IMAGEINFO info{};
            info.XResolution.Whole = info.YResolution.Whole = 100;
            info.ImageWidth = 4;
            info.ImageLength = 2;
            info.SamplesPerPixel = 3;
            info.BitsPerSample[0] = info.BitsPerSample[1] = info.BitsPerSample[2] = 8;
            info.BitsPerPixel = 24;
            info.PixelType = TWPT_RGB;
            *static_cast<TW_IMAGEINFO*>(pData) = info;
            return TWRC_SUCCESS;
        }
        case DAT_IMAGENATIVEXFER: {
            HGLOBAL h = MakePackedDib(4, 2, static_cast<BYTE>(pendingImages));
            handedOut.push_back(h);
            *static_cast<HGLOBAL*>(pData) = h;
            return TWRC_XFERDONE;
        }
        case DAT_PENDINGXFERS: {
            if (call.msg == MSG_RESET || pendingImages <= 0)
                pendingImages = 0;
            else
                --pendingImages;
            static_cast<TW_PENDINGXFERS*>(pData)->Count = static_cast<TW_UINT16>(pendingImages);
            return TWRC_SUCCESS;
        }
        default: return TWRC_FAILURE;
    }
}

HGLOBAL MakePackedDib(int width, int height, BYTE value) {
    const int stride = int(DibRowSize(width, 24));
    const size_t bytes = sizeof(BITMAPINFOHEADER) + static_cast<size_t>(stride) * height;
    HGLOBAL h = GlobalAlloc(GHND, bytes);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = static_cast<DWORD>(stride * height);
    std::memcpy(p, &header, sizeof(header));
    std::memset(p + sizeof(header), value, bytes - sizeof(header));
    GlobalUnlock(h);
    return h;
}
