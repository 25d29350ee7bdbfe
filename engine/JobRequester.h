// Who a job with a ticket works for: a ticketed stream on the command socket or a
// network client. Its pages and its end go to it alone. Called on the
// user-interface thread; an implementation hands the pages to its own thread.
#pragma once

#include <cstddef>
#include <string>

#include "twain/TwainTypes.h"

namespace velomark {

class JobRequester {
public:
    virtual ~JobRequester() = default;
    // Whether it still wants the job: one that went away is skipped, its pages dropped.
    virtual bool Open() const = 0;
    // The job's acquisition started.
    virtual void Started() {}
    // One page: a packed 24-bit DIB of `size` bytes.
    virtual void TakePage(const void* packed, size_t size, const TW_IMAGEINFO& info) = 0;
    // The source closed after its batch.
    virtual void End() = 0;
    // The job could not run as asked.
    virtual void Fail(const std::string& sentence) = 0;
};

}  // namespace velomark
