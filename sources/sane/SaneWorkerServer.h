// The worker's side of the protocol (SaneWorkerWire.h): each request of sane.ds
// answered with libsane's own calls on one device. A frame is read into memory files,
// each sealed and passed as a segment every so often and at the frame's end; a Cancel
// that comes meanwhile reaches sane_cancel between two reads.
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
    class Segment;
    void ReadFrame();
    // Takes a Cancel that came meanwhile; false when something else came.
    bool TakeCancel();

    const SaneLibrary& m_library;
    const SaneApi& m_api;
    const int m_socket;
    SANE_Handle m_handle = nullptr;
};
