#include "sources/sane/SaneRemoteDevice.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sources/sane/SaneFrameRegion.h"
#include "sources/sane/SaneRemoteDescriptor.h"
#include "sources/sane/SaneWorkerProcess.h"
#include "sources/sane/SaneWorkerStandby.h"

namespace {

using sane_wire::Request;

constexpr uint32_t kMaxDevices = 4096;

sane_wire::Writer Asking(Request request) {
    sane_wire::Writer out;
    out.U32(uint32_t(request));
    return out;
}

// SANE's own words for its statuses, so that no libsane is loaded into Velomark.
SANE_String_Const StatusText(SANE_Status status) {
    static const char* const kTexts[] = {
        "Success",           "Operation not supported", "Operation was canceled",
        "Device busy",       "Invalid argument",        "End of file reached",
        "Document feeder jammed", "Document feeder out of documents", "Scanner cover is open",
        "Error during device I/O", "Out of memory",     "Access to resource has been denied"};
    const int index = static_cast<int>(status);
    return index >= 0 && index < int(std::size(kTexts)) ? kTexts[index] : nullptr;
}

SANE_Status NoInit(SANE_Int* version, SANE_Auth_Callback) {
    if (version) *version = 1 << 24;
    return SANE_STATUS_GOOD;
}

SANE_Status NoDevices(const SANE_Device***, SANE_Bool) { return SANE_STATUS_UNSUPPORTED; }

SANE_Status NoOpen(SANE_String_Const, SANE_Handle*) { return SANE_STATUS_UNSUPPORTED; }

}  // namespace

const SaneApi& SaneRemoteDevice::Api() {
    static const SaneApi api = [] {
        SaneApi a;
        a.init = NoInit;
        a.get_devices = NoDevices;
        a.open = NoOpen;
        a.close = [](SANE_Handle h) { From(h)->Close(); };
        a.get_option_descriptor = [](SANE_Handle h, SANE_Int option) {
            return From(h)->Descriptor(option);
        };
        a.control_option = [](SANE_Handle h, SANE_Int option, SANE_Action action, void* value,
                              SANE_Int* info) {
            return From(h)->Control(option, action, value, info);
        };
        a.get_parameters = [](SANE_Handle h, SANE_Parameters* p) { return From(h)->Parameters(p); };
        a.start = [](SANE_Handle h) { return From(h)->Start(); };
        a.read = [](SANE_Handle h, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
            return From(h)->Read(data, max, length);
        };
        a.read_view = [](SANE_Handle h, const SANE_Byte** data, SANE_Int max, SANE_Int* length) {
            return From(h)->View(data, max, length);
        };
        a.cancel = [](SANE_Handle h) { From(h)->Cancel(); };
        a.strstatus = StatusText;
        a.failure = [](SANE_Handle h) { return From(h)->Failure(); };
        return a;
    }();
    return api;
}

bool SaneRemoteDevice::ListDevices(const std::string& libraryFile,
                                   std::vector<SaneDeviceInfo>* devices, std::string* error) {
    devices->clear();
    SaneWorkerProcess worker(libraryFile);
    SaneWorkerProcess::Answer answer;
    if (!worker.Call(Asking(Request::List), SaneWorkerProcess::ShortDeadline(), &answer)) {
        *error = worker.Failure();
        return false;
    }
    if (answer.status != SANE_STATUS_GOOD) {
        *error = answer.text.empty() ? "SANE cannot list its devices" : answer.text;
        return false;
    }
    sane_wire::Reader in(answer.fields.data(), answer.fields.size());
    uint32_t count = 0;
    bool ok = in.U32(&count) && count <= kMaxDevices;
    for (uint32_t i = 0; ok && i < count; ++i) {
        SaneDeviceInfo device;
        ok = in.Text(&device.name) && in.Text(&device.vendor) && in.Text(&device.model) &&
             in.Text(&device.type);
        if (ok && !device.name.empty()) devices->push_back(std::move(device));
    }
    if (!ok || !in.AtEnd()) {
        worker.Reject("a malformed list of devices");
        *error = worker.Failure();
        devices->clear();
        return false;
    }
    return true;
}

SANE_Status SaneRemoteDevice::Open(const std::string& libraryFile, const std::string& name,
                                   SANE_Handle* handle, std::string* error) {
    std::unique_ptr<SaneRemoteDevice> device(new SaneRemoteDevice(libraryFile, name));
    const SANE_Status status = device->Revive();
    if (status != SANE_STATUS_GOOD) {
        *error = "cannot open " + name + ": " +
                 (device->m_failure.empty() ? StatusText(status) : device->m_failure);
        return status;
    }
    *handle = device.release();
    return SANE_STATUS_GOOD;
}

SaneRemoteDevice::SaneRemoteDevice(std::string libraryFile, std::string name)
    : m_libraryFile(std::move(libraryFile)), m_name(std::move(name)) {}

SaneRemoteDevice::~SaneRemoteDevice() { CloseSegment(); }

std::shared_ptr<SaneWorkerProcess> SaneRemoteDevice::Worker() {
    std::lock_guard lock(m_workerMutex);
    return m_worker;
}

void SaneRemoteDevice::FailedWorker(const SaneWorkerProcess* worker) {
    m_failure = worker ? worker->Failure() : "the scanner driver is not running";
}

void SaneRemoteDevice::Reject(SaneWorkerProcess* worker, const std::string& what) {
    if (!worker) return;
    worker->Reject(what);
    m_failure = worker->Failure();
}

SANE_Status SaneRemoteDevice::Ask(const sane_wire::Writer& request, bool longDeadline,
                                  std::vector<unsigned char>* fields, int passFd) {
    std::lock_guard lock(m_callMutex);
    DropFrame();
    std::shared_ptr<SaneWorkerProcess> worker = Worker();
    if (!worker || !worker->Alive()) {
        FailedWorker(worker.get());
        return SANE_STATUS_IO_ERROR;
    }
    SaneWorkerProcess::Answer answer;
    const auto deadline =
        longDeadline ? SaneWorkerProcess::LongDeadline() : SaneWorkerProcess::ShortDeadline();
    if (!worker->Call(request, deadline, &answer, passFd)) {
        FailedWorker(worker.get());
        return SANE_STATUS_IO_ERROR;
    }
    m_failure = answer.text;
    *fields = std::move(answer.fields);
    return answer.status;
}

SANE_Status SaneRemoteDevice::OpenInWorker() {
    sane_wire::Writer request = Asking(Request::Open);
    request.Text(m_name);
    std::vector<unsigned char> fields;
    return Ask(request, false, &fields, m_region->Fd());
}

SANE_Status SaneRemoteDevice::StartWorker(bool mayTakeAhead, bool* startedAhead) {
    *startedAhead = false;
    // A region of its own for each worker: nothing an old one (or a process it left
    // behind) still holds can reach the new one's pages.
    std::string error;
    auto region = std::make_unique<SaneFrameRegion>(sane_wire::kSlots * sane_wire::kSlotBytes,
                                                    &error);
    if (!region->Valid()) {
        m_failure = error;
        return SANE_STATUS_NO_MEM;
    }
    {
        std::lock_guard workerLock(m_workerMutex);
        m_worker = mayTakeAhead ? SaneWorkerStandby::Take(m_libraryFile, startedAhead)
                                : std::make_shared<SaneWorkerProcess>(m_libraryFile);
    }
    // The last view handed out may still be read on the batch's thread.
    if (m_region) m_oldRegions.push_back(std::move(m_region));
    m_region = std::move(region);
    ForgetDescriptors();
    return OpenInWorker();
}

SANE_Status SaneRemoteDevice::Revive() {
    std::lock_guard lock(m_callMutex);
    // A frame of the old worker is gone with it.
    CloseSegment();
    m_frame = Frame{};
    m_reviving = true;
    bool startedAhead = false;
    SANE_Status status = StartWorker(true, &startedAhead);
    // One started ahead read SANE's configuration back then: a device it cannot open
    // is asked of one started now, which reads it afresh.
    if (status != SANE_STATUS_GOOD && startedAhead) status = StartWorker(false, &startedAhead);
    // The new worker's device gets the options the old one had been given.
    const auto setBefore = m_setValues;
    for (size_t i = 0; status == SANE_STATUS_GOOD && i < setBefore.size(); ++i) {
        const SANE_Int option = setBefore[i].first;
        std::vector<unsigned char> copy = setBefore[i].second;
        SANE_Int info = 0;
        const SANE_Status set = Control(option, SANE_ACTION_SET_VALUE,
                                        copy.empty() ? nullptr : copy.data(), &info);
        if (set == SANE_STATUS_IO_ERROR && !Worker()->Alive()) status = set;
    }
    m_reviving = false;
    return status;
}

void SaneRemoteDevice::ForgetDescriptors() {
    std::lock_guard lock(m_descriptorMutex);
    m_retired = std::move(m_descriptors);
    m_descriptors.clear();
}

const SANE_Option_Descriptor* SaneRemoteDevice::Descriptor(SANE_Int option) {
    {
        std::lock_guard lock(m_descriptorMutex);
        const auto found = m_descriptors.find(option);
        if (found != m_descriptors.end()) return found->second ? &found->second->Get() : nullptr;
    }
    std::shared_ptr<SaneWorkerProcess> worker = Worker();
    if (!worker || !worker->Alive()) {
        // A worker that dies while being given the options is not started again.
        if (m_reviving || Revive() != SANE_STATUS_GOOD) return nullptr;
        worker = Worker();
    }
    sane_wire::Writer request = Asking(Request::Descriptor);
    request.I32(option);
    std::vector<unsigned char> fields;
    if (Ask(request, false, &fields) != SANE_STATUS_GOOD) return nullptr;
    sane_wire::Reader in(fields.data(), fields.size());
    uint32_t count = 0;
    std::vector<std::unique_ptr<SaneRemoteDescriptor>> descriptors;
    bool ok = in.U32(&count) && count >= 1 && count <= fields.size() &&
              int64_t(option) + count - 1 <= INT32_MAX;
    for (uint32_t i = 0; ok && i < count; ++i) {
        uint32_t present = 0;
        std::unique_ptr<SaneRemoteDescriptor> descriptor;
        ok = in.U32(&present) && present <= 1 &&
             (!present || (descriptor = SaneRemoteDescriptor::Read(in))) &&
             (present || i + 1 == count);  // "none" only last
        descriptors.push_back(std::move(descriptor));
    }
    if (!ok || !in.AtEnd()) {
        Reject(worker.get(), "a malformed option descriptor");
        return nullptr;
    }
    std::lock_guard lock(m_descriptorMutex);
    for (size_t i = 0; i < descriptors.size(); ++i)
        m_descriptors[option + SANE_Int(i)] = std::move(descriptors[i]);
    const auto& kept = m_descriptors[option];
    return kept ? &kept->Get() : nullptr;
}

SANE_Status SaneRemoteDevice::Control(SANE_Int option, SANE_Action action, void* value,
                                      SANE_Int* info) {
    if (info) *info = 0;
    const SANE_Option_Descriptor* descriptor = Descriptor(option);
    if (!descriptor) return m_failure.empty() ? SANE_STATUS_INVAL : SANE_STATUS_IO_ERROR;
    const size_t size =
        action == SANE_ACTION_SET_AUTO || !value ? 0 : size_t(std::max(descriptor->size, 0));
    std::vector<unsigned char> sent(size, 0);
    if (action == SANE_ACTION_SET_VALUE && size) std::memcpy(sent.data(), value, size);
    sane_wire::Writer request = Asking(Request::Control);
    request.I32(option);
    request.I32(action);
    request.Bytes(sent.data(), sent.size());
    std::vector<unsigned char> fields;
    const SANE_Status status = Ask(request, false, &fields);
    if (status == SANE_STATUS_IO_ERROR && fields.empty()) {
        ForgetDescriptors();
        return status;
    }
    sane_wire::Reader in(fields.data(), fields.size());
    int32_t flags = 0;
    std::vector<unsigned char> back;
    if (!in.I32(&flags) || !in.Bytes(&back, long(size)) || !in.AtEnd()) {
        Reject(Worker().get(), "a malformed option value");
        return SANE_STATUS_IO_ERROR;
    }
    if (info) *info = flags;
    // SANE says when a set changed the descriptors; only then are they asked again.
    if (action != SANE_ACTION_GET_VALUE && (flags & SANE_INFO_RELOAD_OPTIONS))
        ForgetDescriptors();
    if (status == SANE_STATUS_GOOD && size) std::memcpy(value, back.data(), size);
    if (status == SANE_STATUS_GOOD && action == SANE_ACTION_SET_VALUE) {
        std::erase_if(m_setValues, [option](const auto& set) { return set.first == option; });
        m_setValues.emplace_back(option, std::move(sent));
    }
    return status;
}

SANE_Status SaneRemoteDevice::Parameters(SANE_Parameters* parameters) {
    std::vector<unsigned char> fields;
    const SANE_Status status = Ask(Asking(Request::Parameters), false, &fields);
    if (status != SANE_STATUS_GOOD) return status;
    sane_wire::Reader in(fields.data(), fields.size());
    int32_t format = 0;
    SANE_Parameters p{};
    if (!in.I32(&format) || !in.I32(&p.last_frame) || !in.I32(&p.bytes_per_line) ||
        !in.I32(&p.pixels_per_line) || !in.I32(&p.lines) || !in.I32(&p.depth) || !in.AtEnd()) {
        Reject(Worker().get(), "malformed scan parameters");
        return SANE_STATUS_IO_ERROR;
    }
    // The converter judges the values themselves, as it does libsane's.
    p.format = static_cast<SANE_Frame>(format);
    *parameters = p;
    return SANE_STATUS_GOOD;
}

SANE_Status SaneRemoteDevice::Start() {
    DropFrame();
    m_cancelled = false;
    std::shared_ptr<SaneWorkerProcess> worker = Worker();
    if (!worker || !worker->Alive()) {
        const SANE_Status revived = Revive();
        if (revived != SANE_STATUS_GOOD) return revived;
    }
    std::vector<unsigned char> fields;
    return Ask(Asking(Request::Start), true, &fields);
}

void SaneRemoteDevice::CloseSegment() {
    // A segment is held while it has bytes; a worker that is gone needs no slot back.
    if (m_frame.size > 0) {
        if (std::shared_ptr<SaneWorkerProcess> worker = Worker(); worker && worker->Alive())
            worker->Tell(Asking(Request::Release));
    }
    m_frame.at = 0;
    m_frame.size = m_frame.offset = 0;
}

void SaneRemoteDevice::DropFrame() {
    // What the worker still sends of a frame nobody reads is taken and let go, so that
    // the next reply is the next request's.
    while (m_frame.open && NextPacket()) CloseSegment();
    CloseSegment();
    m_frame = Frame{};
}

bool SaneRemoteDevice::NextPacket() {
    std::shared_ptr<SaneWorkerProcess> worker = Worker();
    SaneWorkerProcess::Answer answer;
    if (!worker || !worker->Await(SaneWorkerProcess::LongDeadline(), &answer)) {
        FailedWorker(worker.get());
        m_frame.open = false;
        return false;
    }
    if (answer.segment) {
        if (answer.size == 0) return true;
        // The worker names where its bytes are; only what lies within the region is
        // ever read.
        if (!m_region || !m_region->Holds(answer.offset, answer.size)) {
            Reject(worker.get(), "a segment of a frame outside its memory");
            m_frame.open = false;
            return false;
        }
        m_frame.at = answer.offset;
        m_frame.size = size_t(answer.size);
        m_frame.offset = 0;
        m_frame.received += answer.size;
        return true;
    }
    sane_wire::Reader in(answer.fields.data(), answer.fields.size());
    uint64_t total = 0;
    m_frame.open = false;
    if (!in.U64(&total) || !in.AtEnd() || answer.status == SANE_STATUS_GOOD ||
        total != m_frame.received) {
        Reject(worker.get(), "a malformed end of a frame");
        return false;
    }
    m_frame.ended = true;
    m_frame.end = answer.status;
    m_frame.endText = answer.text;
    return true;
}

SANE_Status SaneRemoteDevice::Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
    const SANE_Byte* view = nullptr;
    const SANE_Status status = View(&view, maxLength, length);
    if (status == SANE_STATUS_GOOD && *length > 0) std::memcpy(data, view, size_t(*length));
    return status;
}

SANE_Status SaneRemoteDevice::View(const SANE_Byte** data, SANE_Int maxLength,
                                   SANE_Int* length) {
    std::lock_guard lock(m_callMutex);
    *data = nullptr;
    *length = 0;
    m_oldRegions.clear();  // the caller is done with its last view
    if (maxLength <= 0) return SANE_STATUS_INVAL;
    if (m_cancelled) {
        DropFrame();
        return SANE_STATUS_CANCELLED;
    }
    if (!m_frame.open && !m_frame.ended) {
        std::shared_ptr<SaneWorkerProcess> worker = Worker();
        if (!worker || !worker->Send(Asking(Request::ReadFrame))) {
            FailedWorker(worker.get());
            return SANE_STATUS_IO_ERROR;
        }
        m_frame.open = true;
    }
    for (;;) {
        if (m_frame.offset < m_frame.size) {
            const size_t count =
                std::min(m_frame.size - m_frame.offset, size_t(std::max(maxLength, 0)));
            // Where the bytes are: the offset and length are sane.ds's own, checked;
            // what the worker writes there meanwhile changes pixels at most.
            *data = m_region->At(m_frame.at + m_frame.offset);
            m_frame.offset += count;
            *length = SANE_Int(count);
            return SANE_STATUS_GOOD;
        }
        CloseSegment();
        if (m_frame.ended) {
            const SANE_Status end = m_frame.end;
            m_failure = m_frame.endText;
            m_frame = Frame{};
            return end;
        }
        if (!NextPacket()) return SANE_STATUS_IO_ERROR;
    }
}

void SaneRemoteDevice::Cancel() {
    m_cancelled = true;
    if (std::shared_ptr<SaneWorkerProcess> worker = Worker()) worker->Cancel();
}

void SaneRemoteDevice::Close() {
    std::vector<unsigned char> fields;
    if (std::shared_ptr<SaneWorkerProcess> worker = Worker(); worker && worker->Alive())
        Ask(Asking(Request::Close), false, &fields);
    CloseSegment();
    {
        std::lock_guard workerLock(m_workerMutex);
        m_worker.reset();
    }
    // The next device opened (the next job, mostly) finds its worker started.
    SaneWorkerStandby::Prepare(m_libraryFile);
    delete this;
}
