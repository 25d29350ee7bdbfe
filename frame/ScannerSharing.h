// File > Share Scanners on the Network: serves the engine's sources as eSCL
// scanners, or stops. The choice is kept in the settings ("/Sharing/Enabled") and
// taken up at the next start, as are the web applications' origins that may use
// the scanners ("/Sharing/AllowedOrigins", separated by spaces); the status bar
// says where the scanners are served, or why they are not.
#pragma once

#include <functional>
#include <string>

#include "engine/ShareAddress.h"

namespace velomark {

class AcquisitionEngine;

class ScannerSharing {
public:
    using StatusText = std::function<void(const std::string& text)>;

    ScannerSharing(AcquisitionEngine& engine, StatusText status);

    // The address served while sharing (from the command line; loopback otherwise).
    void SetAddress(const ShareAddress& address) { m_address = address; }
    // Starts or stops sharing; `remember` writes the choice to the settings.
    void Share(bool on, bool remember);
    bool Sharing() const;
    // What the settings say.
    static bool Remembered();

private:
    AcquisitionEngine& m_engine;
    StatusText m_status;
    ShareAddress m_address = ShareAddress::Loopback();
};

}  // namespace velomark
