#include "sources/sane/SaneSource.h"

#include <cstdlib>
#include <cstring>

#include "sources/sane/SaneConfigStore.h"
#include "sources/sane/SaneDevice.h"
#include "sources/sane/SaneRemoteDevice.h"
#include "sources/sane/SaneSession.h"
#include "sources/sane/SaneSourceNames.h"
#include "twain/DataSource.h"
#include "twain/UnattendedSetting.h"

namespace {

template <size_t N>
void CopyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

SaneSource::Environment SaneSource::Environment::Process() {
    Environment environment;
    environment.libraryFile = SaneLibrary::FileFromEnvironment();
    const char* options = std::getenv("VELOMARK_SANE_OPTIONS");
    environment.options = options ? options : "";
    environment.unattended = UnattendedFromEnvironment();
    return environment;
}

SaneSource::SaneSource(SaneUiFactory uiFactory, EnvironmentReader environment, std::ostream& log)
    : m_uiFactory(std::move(uiFactory)), m_environment(std::move(environment)), m_log(log) {}

SaneSource::~SaneSource() = default;

TW_IDENTITY SaneSource::Identity(const SaneDeviceInfo& device, const std::string& productName) {
    return MakeTwainIdentity(1, 0, "1.0 SANE",
                             device.vendor.empty() ? "SANE" : device.vendor.c_str(),
                             device.model.c_str(), productName.c_str());
}

TW_UINT16 SaneSource::Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                            TW_MEMREF data) {
    std::lock_guard lock(m_mutex);
    if (dg == DG_CONTROL) {
        switch (dat) {
            case DAT_IDENTITY: return IdentityTriplet(msg, static_cast<TW_IDENTITY*>(data));
            case DAT_STATUS: return Status(msg, static_cast<TW_STATUS*>(data));
            case DAT_VELOMARK_NOTE: return origin ? BatchFailure(msg, data) : Note(msg, data);
            case DAT_VELOMARK_LONGNAME: return LongName(msg, data);
            default: break;
        }
    }
    return ToSession(m_session.get(), dg, dat, msg, data);
}

void SaneSource::ListDevices() {
    m_nextListed = 0;
    const std::string file = m_environment().libraryFile;
    const auto now = std::chrono::steady_clock::now();
    if (m_listedOnce && file == m_listedFrom && now - m_listedAt < kListingLifetime) return;
    m_listed.clear();
    m_listedFrom = file;
    m_listedAt = now;
    // Listing may take seconds on a network, and runs the backends: in a worker too.
    std::vector<SaneDeviceInfo> devices;
    std::string error;
    m_listedOnce = SaneRemoteDevice::ListDevices(file, &devices, &error);
    if (!m_listedOnce) {
        m_note = error;
        m_log << "velomark-sane: " << error << std::endl;
        return;
    }
    const std::vector<std::string> names = SaneSourceNames::ProductNames(devices);
    for (size_t i = 0; i < devices.size(); ++i) {
        m_listed.push_back({Identity(devices[i], names[i]), devices[i].name});
        m_deviceByName[names[i]] = devices[i].name;
    }
    m_note = devices.empty() ? "SANE found no scanner" : "";
}

TW_UINT16 SaneSource::IdentityTriplet(TW_UINT16 msg, TW_IDENTITY* identity) {
    if (!identity) return Fail(TWCC_BADVALUE);
    switch (msg) {
        case MSG_GETFIRST: ListDevices(); [[fallthrough]];
        case MSG_GETNEXT: {
            if (m_nextListed >= m_listed.size()) return TWRC_ENDOFLIST;
            *identity = m_listed[m_nextListed++].identity;
            return TWRC_SUCCESS;
        }
        case MSG_OPENDS: return OpenSession(identity);
        case MSG_CLOSEDS:
            if (!m_session) return Fail(TWCC_SEQERROR);
            m_session.reset();
            return TWRC_SUCCESS;
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SaneSource::OpenSession(TW_IDENTITY* identity) {
    if (m_session) return Fail(TWCC_MAXCONNECTIONS);
    identity->ProductName[sizeof identity->ProductName - 1] = '\0';
    const auto found = m_deviceByName.find(identity->ProductName);
    if (!m_listedOnce || found == m_deviceByName.end()) return Fail(TWCC_NODS);
    const Environment environment = m_environment();
    std::string error;
    SANE_Handle handle = nullptr;
    if (SaneRemoteDevice::Open(environment.libraryFile, found->second, &handle, &error) !=
        SANE_STATUS_GOOD) {
        m_log << "velomark-sane: " << error << std::endl;
        return Fail(TWCC_OPERATIONERROR);
    }
    std::unique_ptr<SaneDevice> device =
        SaneDevice::Adopt(SaneRemoteDevice::Api(), handle, found->second);
    SaneSettings settings = SaneConfigStore::Load(found->second);
    SaneSettings given;
    if (!SaneSettings::Parse(environment.options, &given, &error))
        m_log << "velomark-sane: VELOMARK_SANE_OPTIONS ignored: " << error << std::endl;
    settings.Merge(given);
    m_session = std::make_unique<SaneSession>(*identity, std::move(device), settings,
                                              environment.unattended, m_uiFactory, m_log);
    m_condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSource::Note(TW_UINT16 msg, void* data) {
    if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
    if (!data) return Fail(TWCC_BADVALUE);
    if (m_note.empty()) return TWRC_FAILURE;
    CopyText(static_cast<TW_VELOMARK_NOTE*>(data)->Text, "SANE: " + m_note);
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSource::BatchFailure(TW_UINT16 msg, void* data) {
    if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
    if (!data) return Fail(TWCC_BADVALUE);
    if (!m_session) return Fail(TWCC_SEQERROR);
    const std::string failure = m_session->BatchFailure();
    if (failure.empty()) return TWRC_FAILURE;
    CopyText(static_cast<TW_VELOMARK_NOTE*>(data)->Text, failure);
    return TWRC_SUCCESS;
}

TW_UINT16 SaneSource::LongName(TW_UINT16 msg, void* data) {
    if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
    if (!data) return Fail(TWCC_BADVALUE);
    auto* request = static_cast<TW_VELOMARK_LONGNAME*>(data);
    request->Identity.ProductName[sizeof request->Identity.ProductName - 1] = '\0';
    const auto found = m_deviceByName.find(request->Identity.ProductName);
    if (found == m_deviceByName.end()) return Fail(TWCC_NODS);
    CopyText(request->LongName, found->second);
    return TWRC_SUCCESS;
}
