#include "frame/ScannerSharing.h"

#include <wx/config.h>

#include "engine/AcquisitionEngine.h"

namespace velomark {

namespace {

constexpr char kSharingKey[] = "/Sharing/Enabled";

}  // namespace

ScannerSharing::ScannerSharing(AcquisitionEngine& engine, StatusText status)
    : m_engine(engine), m_status(std::move(status)) {}

bool ScannerSharing::Sharing() const { return !m_engine.SharingUrl().empty(); }

bool ScannerSharing::Remembered() {
    wxConfigBase* config = wxConfigBase::Get(false);
    bool on = false;
    return config && config->Read(kSharingKey, &on) && on;
}

void ScannerSharing::Share(bool on, bool remember) {
    if (on) {
        std::string error;
        if (m_engine.StartSharing(m_address, &error)) {
            m_status("Scanners shared at " + m_engine.SharingUrl());
        } else {
            m_status("The scanners could not be shared: " + error);
            on = false;
        }
    } else if (Sharing()) {
        m_engine.StopSharing();
        m_status("Scanners no longer shared");
    }
    if (!remember) return;
    if (wxConfigBase* config = wxConfigBase::Get(false)) {
        config->Write(kSharingKey, on);
        config->Flush();
    }
}

}  // namespace velomark
