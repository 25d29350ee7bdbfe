// The SANE source library's answers to DS_Entry: one identity per device SANE offers,
// the note the DSM shows when SANE is missing or offers nothing, opening and closing a
// session on a device, and the condition code of its last failure. SANE itself runs
// in workers (SaneRemoteDevice): one per listing, one per open device. Devices are
// listed at MSG_GETFIRST unless the
// last listing is recent: asking every backend can take seconds (some wait for
// scanners to answer on the network), and the DSM lists its sources in each session.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "sources/common/SourceConditions.h"
#include "sources/sane/SaneLibrary.h"
#include "sources/sane/SaneUi.h"
#include "twain/TwainTypes.h"

class SaneSession;

class SaneSource : private SourceConditions {
public:
    // What the source reads from its environment, at each listing and opening.
    struct Environment {
        std::string libraryFile;  // VELOMARK_SANE_LIBRARY or libsane.so.1
        std::string options;      // VELOMARK_SANE_OPTIONS
        bool unattended = false;  // VELOMARK_UNATTENDED=1
        static Environment Process();
    };
    using EnvironmentReader = std::function<Environment()>;

    // A listing younger than this is reused.
    static constexpr std::chrono::seconds kListingLifetime{30};

    SaneSource(SaneUiFactory uiFactory, EnvironmentReader environment, std::ostream& log);
    // Closes a session still open.
    ~SaneSource();
    SaneSource(const SaneSource&) = delete;
    SaneSource& operator=(const SaneSource&) = delete;

    TW_UINT16 Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);

    // The identity listed for a device under a product name; Id 0.
    static TW_IDENTITY Identity(const SaneDeviceInfo& device, const std::string& productName);

private:
    struct Listed {
        TW_IDENTITY identity;
        std::string deviceName;
    };

    TW_UINT16 IdentityTriplet(TW_UINT16 msg, TW_IDENTITY* identity);
    TW_UINT16 OpenSession(TW_IDENTITY* identity);
    void ListDevices();
    TW_UINT16 Note(TW_UINT16 msg, void* data);
    // Asked by the application of the open session (DataSource.h).
    TW_UINT16 BatchFailure(TW_UINT16 msg, void* data);
    TW_UINT16 LongName(TW_UINT16 msg, void* data);

    std::mutex m_mutex;
    SaneUiFactory m_uiFactory;
    EnvironmentReader m_environment;
    std::ostream& m_log;
    bool m_listedOnce = false;  // the last listing reached SANE
    std::chrono::steady_clock::time_point m_listedAt;
    std::string m_listedFrom;  // the library file of the last listing
    std::string m_note;        // why no device is offered; empty when devices are
    std::vector<Listed> m_listed;
    size_t m_nextListed = 0;
    // Every product name handed out so far, with its device: a session opens the
    // device the DSM listed, even when a later listing no longer shows it.
    std::map<std::string, std::string> m_deviceByName;
    std::unique_ptr<SaneSession> m_session;
};
