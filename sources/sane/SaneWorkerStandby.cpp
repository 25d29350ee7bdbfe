#include "sources/sane/SaneWorkerStandby.h"

#include <mutex>
#include <vector>

#include "sources/sane/SaneWorkerProcess.h"

extern char** environ;

namespace {

// What a worker is started with, beside the library named.
std::vector<std::string> Environment() {
    std::vector<std::string> all;
    for (char** entry = environ; entry && *entry; ++entry) all.emplace_back(*entry);
    return all;
}

struct Standby {
    std::mutex mutex;
    std::string libraryFile;
    std::vector<std::string> environment;
    std::shared_ptr<SaneWorkerProcess> worker;
};

// Never destroyed: a worker left at exit ends with its socket, and ending it from a
// static destructor would run after the threads it might still need.
Standby& Shared() {
    static Standby* standby = new Standby;
    return *standby;
}

}  // namespace

std::shared_ptr<SaneWorkerProcess> SaneWorkerStandby::Take(const std::string& libraryFile,
                                                           bool* startedAhead) {
    std::shared_ptr<SaneWorkerProcess> worker;
    bool fits = false;
    {
        Standby& standby = Shared();
        std::lock_guard lock(standby.mutex);
        worker = std::move(standby.worker);
        fits = worker && worker->Alive() && standby.libraryFile == libraryFile &&
               standby.environment == Environment();
    }
    *startedAhead = fits;
    if (fits) return worker;
    worker.reset();  // one that no longer fits is ended and reaped
    return std::make_shared<SaneWorkerProcess>(libraryFile);
}

void SaneWorkerStandby::Prepare(const std::string& libraryFile) {
    std::vector<std::string> environment = Environment();
    auto worker = std::make_shared<SaneWorkerProcess>(libraryFile);
    std::shared_ptr<SaneWorkerProcess> old;  // ended after the lock is let go
    Standby& standby = Shared();
    std::lock_guard lock(standby.mutex);
    old = std::move(standby.worker);
    standby.libraryFile = libraryFile;
    standby.environment = std::move(environment);
    standby.worker = std::move(worker);
}
