// libsane's interface as sane.ds calls it, answered by a velomark-sane-worker: a
// SaneApi whose SANE_Handle is one of these. A device's worker starts at Open (or was
// started ahead, SaneWorkerStandby); listing starts one of its own. Frames come through
// a SaneFrameRegion made with each worker. A worker that failed makes the call under
// way fail with its sentence (FailureText); the next option or start on the device
// starts a fresh worker, which opens the device again and is given the options set so
// far.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sources/sane/SaneApi.h"
#include "sources/sane/SaneLibrary.h"
#include "sources/sane/SaneWorkerWire.h"

class SaneFrameRegion;
class SaneRemoteDescriptor;
class SaneWorkerProcess;

class SaneRemoteDevice {
public:
    // The interface whose handles are SaneRemoteDevice objects (from Open).
    static const SaneApi& Api();
    // Every device, listed by a worker that loads `libraryFile`.
    static bool ListDevices(const std::string& libraryFile, std::vector<SaneDeviceInfo>* devices,
                            std::string* error);
    // Opens `name` in a new worker; the handle is for Api(), closed by its close.
    static SANE_Status Open(const std::string& libraryFile, const std::string& name,
                            SANE_Handle* handle, std::string* error);

    ~SaneRemoteDevice();
    SaneRemoteDevice(const SaneRemoteDevice&) = delete;
    SaneRemoteDevice& operator=(const SaneRemoteDevice&) = delete;

private:
    SaneRemoteDevice(std::string libraryFile, std::string name);

    // The calls of the interface, on this device.
    const SANE_Option_Descriptor* Descriptor(SANE_Int option);
    SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info);
    SANE_Status Parameters(SANE_Parameters* parameters);
    SANE_Status Start();
    SANE_Status Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
    SANE_Status View(const SANE_Byte** data, SANE_Int maxLength, SANE_Int* length);
    void Cancel();
    void Close();
    const char* Failure() const { return m_failure.c_str(); }

    // Starts a worker and opens the device in it, after a worker that failed.
    SANE_Status Revive();
    // A worker (the one started ahead, when it may and fits) with a region of its own,
    // asked to open the device.
    SANE_Status StartWorker(bool mayTakeAhead, bool* startedAhead);
    SANE_Status OpenInWorker();
    // A call to the worker; its failure (or the worker's words) in m_failure.
    SANE_Status Ask(const sane_wire::Writer& request, bool longDeadline,
                    std::vector<unsigned char>* fields, int passFd = -1);
    std::shared_ptr<SaneWorkerProcess> Worker();
    // m_failure of a worker that failed, or of none.
    void FailedWorker(const SaneWorkerProcess* worker);
    // The worker's answer broke the protocol: it is killed (when there is one) and
    // m_failure says so.
    void Reject(SaneWorkerProcess* worker, const std::string& what);
    // The frame being read: its next segment or its end, within the long deadline;
    // false when the worker failed.
    bool NextPacket();
    // Gives the segment's slot back to the worker.
    void CloseSegment();
    // Takes the rest of a frame under way and forgets it.
    void DropFrame();
    void ForgetDescriptors();

    static SaneRemoteDevice* From(SANE_Handle handle) {
        return static_cast<SaneRemoteDevice*>(handle);
    }

    const std::string m_libraryFile;
    const std::string m_name;
    mutable std::mutex m_workerMutex;  // the pointer only: Cancel comes from any thread
    std::shared_ptr<SaneWorkerProcess> m_worker;
    // The worker's frame region, made with it; read under m_callMutex.
    std::unique_ptr<SaneFrameRegion> m_region;
    // Those of workers replaced since the last View, which may still be read from.
    std::vector<std::unique_ptr<SaneFrameRegion>> m_oldRegions;
    std::string m_failure;  // why the last call failed, in a sentence; "" otherwise
    bool m_reviving = false;

    std::mutex m_descriptorMutex;
    std::map<SANE_Int, std::unique_ptr<SaneRemoteDescriptor>> m_descriptors;
    // The ones handed out before the last set, kept until the next one.
    std::map<SANE_Int, std::unique_ptr<SaneRemoteDescriptor>> m_retired;
    std::vector<std::pair<SANE_Int, std::vector<unsigned char>>> m_setValues;

    // One call or frame at a time on the worker's socket; recursive, since a call may
    // first start a fresh worker and give it the options.
    std::recursive_mutex m_callMutex;
    // The frame being read, served to sane_read segment by segment from the region.
    struct Frame {
        bool open = false;   // asked for, its end not come yet
        bool ended = false;  // its end came: `end` after the last segment's bytes
        uint64_t at = 0;     // the segment's offset in the region, checked
        size_t size = 0;     // not 0 while the segment's slot is held
        size_t offset = 0;
        uint64_t received = 0;  // bytes in all its segments
        SANE_Status end = SANE_STATUS_EOF;
        std::string endText;
    };
    Frame m_frame;
    std::atomic<bool> m_cancelled{false};  // since the last start
};
