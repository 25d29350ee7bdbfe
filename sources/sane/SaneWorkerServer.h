// The worker's side of the protocol (SaneWorkerWire.h): each request of sane.ds
// answered with libsane's own calls on one device. A frame is read straight into the
// slots of the region sane.ds gave at Open, each slot passed as a segment when full,
// every so often and at the frame's end; with every slot out the worker waits for
// sane.ds to give one back. A Cancel that comes meanwhile reaches sane_cancel between
// two reads.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "sources/sane/SaneApi.h"
#include "sources/sane/SaneLibrary.h"
#include "sources/sane/SaneWorkerWire.h"

class SaneWorkerServer {
public:
    SaneWorkerServer(const SaneLibrary& library, int socket)
        : m_library(library), m_api(library.Api()), m_socket(socket) {}
    ~SaneWorkerServer();
    SaneWorkerServer(const SaneWorkerServer&) = delete;
    SaneWorkerServer& operator=(const SaneWorkerServer&) = delete;
    // Answers requests until sane.ds closes the device or goes away; the exit status.
    int Run();

private:
    using Packet = std::vector<unsigned char>;
    // False when the request is malformed: the worker then ends.
    bool Answer(sane_wire::Request request, sane_wire::Reader& in, bool* closed);
    bool Reply(SANE_Status status, const sane_wire::Writer& fields,
               const std::string& text = std::string());
    void List();
    // Maps the frame region passed beside Open; false when it is no region.
    bool TakeRegion(int fd);
    void ReadFrame();
    bool Ship(size_t offset, size_t size);
    // Takes the Cancels and Releases that came meanwhile, waiting for one while
    // `untilSlotFree` and every slot is out; false when something else came.
    bool TakeCancels(bool untilSlotFree);

    const SaneLibrary& m_library;
    const SaneApi& m_api;
    const int m_socket;
    SANE_Handle m_handle = nullptr;
    unsigned char* m_region = nullptr;
    size_t m_regionSize = 0;
    size_t m_slots = 0;
    size_t m_nextSlot = 0;  // the slot written next, free while m_slotsOut < m_slots
    size_t m_slotsOut = 0;  // shipped, not given back yet
};
