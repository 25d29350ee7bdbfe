// A velomark-sane-worker started ahead for the next device to be opened, so that a
// job does not wait for the spawn and SANE's start (a few milliseconds a job). It has
// opened nothing, so it is what a worker started at Open would be, as long as what it
// was started with is unchanged: the SANE library, the worker program and the whole
// environment (SANE_CONFIG_DIR, the network settings) are compared, and one started
// with anything else is ended instead. SANE's configuration files it read as it
// started: a device it cannot open is asked of a worker started then.
#pragma once

#include <memory>
#include <string>

class SaneWorkerProcess;

class SaneWorkerStandby {
public:
    // The worker started ahead for `libraryFile` when it still fits (*startedAhead),
    // else a new one.
    static std::shared_ptr<SaneWorkerProcess> Take(const std::string& libraryFile,
                                                   bool* startedAhead);
    // Starts the worker for the next Take, ending the one there was.
    static void Prepare(const std::string& libraryFile);
};
