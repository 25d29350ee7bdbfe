// An option descriptor as it crosses from the worker to sane.ds: written field by
// field from the backend's descriptor, read back into a copy that owns its texts and
// lists, so that a SANE_Option_Descriptor can point into it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sources/sane/SaneApi.h"
#include "sources/sane/SaneWorkerWire.h"

class SaneRemoteDescriptor {
public:
    // The longest value and list the worker passes on.
    static constexpr SANE_Int kMaxValueSize = 16 * 1024;
    static constexpr size_t kMaxListLength = 1024;

    static void Write(sane_wire::Writer& out, const SANE_Option_Descriptor& descriptor);
    // Null when the fields are not a descriptor (cut short, impossible sizes).
    static std::unique_ptr<SaneRemoteDescriptor> Read(sane_wire::Reader& in);

    const SANE_Option_Descriptor& Get() const { return m_descriptor; }

private:
    SaneRemoteDescriptor() = default;
    SANE_Option_Descriptor m_descriptor{};
    std::string m_name, m_title, m_description;
    std::vector<std::string> m_strings;
    std::vector<const char*> m_stringList;  // m_strings' texts, then null
    std::vector<SANE_Word> m_words;         // the count first, as SANE has it
    SANE_Range m_range{};
};
