#include "frame/ScannerSharing.h"

#include <wx/config.h>
#include <wx/tokenzr.h>

#include <vector>

#include "engine/AcquisitionEngine.h"

namespace velomark {

namespace {

constexpr char kSharingKey[] = "/Sharing/Enabled";
// Web applications' origins that may scan, separated by spaces
// ("https://app.example https://other.example").
constexpr char kOriginsKey[] = "/Sharing/AllowedOrigins";

std::vector<std::string> AllowedOrigins() {
    std::vector<std::string> origins;
    wxConfigBase* config = wxConfigBase::Get(false);
    wxString text;
    if (!config || !config->Read(kOriginsKey, &text)) return origins;
    wxStringTokenizer words(text, " \t,");
    while (words.HasMoreTokens()) origins.push_back(words.GetNextToken().utf8_string());
    return origins;
}

}  // namespace

ScannerSharing::ScannerSharing(AcquisitionEngine& engine, StatusText status)
    : m_engine(engine), m_status(std::move(status)) {}

// Asked on every menu update: no address text is built for it.
bool ScannerSharing::Sharing() const { return m_engine.Sharing(); }

bool ScannerSharing::Remembered() {
    wxConfigBase* config = wxConfigBase::Get(false);
    bool on = false;
    return config && config->Read(kSharingKey, &on) && on;
}

void ScannerSharing::Share(bool on, bool remember) {
    if (on) {
        std::string error;
        if (m_engine.StartSharing(m_address, &error, AllowedOrigins())) {
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
