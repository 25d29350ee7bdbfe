// The worker's side of the protocol (SaneWorkerWire.h): each request of sane.ds
// answered with libsane's own calls on one device. A frame is read whole into a
// memory file, sealed and passed beside the reply; a Cancel that comes meanwhile
// reaches sane_cancel between two reads.
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
    // Answers requests until sane.ds closes the device or goes away; the exit status.
    int Run();

private:
    using Packet = std::vector<unsigned char>;
    // False when the request is malformed: the worker then ends.
    bool Answer(sane_wire::Request request, sane_wire::Reader& in, bool* closed);
    bool Reply(SANE_Status status, const sane_wire::Writer& fields, int passFd = -1,
               const std::string& text = std::string());
    void List();
    void ReadFrame();
    // Grows the frame's memory file to hold `capacity` bytes and maps it afresh.
    bool GrowFrame(int fd, unsigned char** map, size_t* mapped, size_t capacity);
    // Takes a Cancel that came meanwhile; false when something else came.
    bool TakeCancel();
    void SendProgress(uint64_t bytes);

    const SaneLibrary& m_library;
    const SaneApi& m_api;
    const int m_socket;
    SANE_Handle m_handle = nullptr;
};
