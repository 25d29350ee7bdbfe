#include "sources/sane/SaneRemoteDescriptor.h"

#include <algorithm>

namespace {

std::string TextOrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

void SaneRemoteDescriptor::Write(sane_wire::Writer& out, const SANE_Option_Descriptor& d) {
    out.Text(TextOrEmpty(d.name));
    out.Text(TextOrEmpty(d.title));
    out.Text(TextOrEmpty(d.desc));
    out.I32(d.type);
    out.I32(d.unit);
    out.I32(d.size);
    out.I32(d.cap);
    switch (d.constraint_type) {
        case SANE_CONSTRAINT_STRING_LIST: {
            size_t count = 0;
            while (d.constraint.string_list && d.constraint.string_list[count] &&
                   count < kMaxListLength)
                ++count;
            out.I32(SANE_CONSTRAINT_STRING_LIST);
            out.U32(static_cast<uint32_t>(count));
            for (size_t i = 0; i < count; ++i) out.Text(d.constraint.string_list[i]);
            return;
        }
        case SANE_CONSTRAINT_WORD_LIST: {
            const SANE_Word* list = d.constraint.word_list;
            const SANE_Word count = list ? list[0] : 0;
            const size_t kept = count < 0 ? 0 : std::min<size_t>(size_t(count), kMaxListLength);
            out.I32(SANE_CONSTRAINT_WORD_LIST);
            out.U32(static_cast<uint32_t>(kept));
            for (size_t i = 1; i <= kept; ++i) out.I32(list[i]);
            return;
        }
        case SANE_CONSTRAINT_RANGE:
            if (d.constraint.range) {
                out.I32(SANE_CONSTRAINT_RANGE);
                out.I32(d.constraint.range->min);
                out.I32(d.constraint.range->max);
                out.I32(d.constraint.range->quant);
                return;
            }
            [[fallthrough]];
        default: out.I32(SANE_CONSTRAINT_NONE); return;
    }
}

std::unique_ptr<SaneRemoteDescriptor> SaneRemoteDescriptor::Read(sane_wire::Reader& in) {
    std::unique_ptr<SaneRemoteDescriptor> copy(new SaneRemoteDescriptor());
    SANE_Option_Descriptor& d = copy->m_descriptor;
    int32_t type = 0, constraint = 0;
    if (!in.Text(&copy->m_name) || !in.Text(&copy->m_title) || !in.Text(&copy->m_description) ||
        !in.I32(&type) || !in.I32(&d.unit) || !in.I32(&d.size) || !in.I32(&d.cap) ||
        !in.I32(&constraint))
        return nullptr;
    if (type < SANE_TYPE_BOOL || type > SANE_TYPE_GROUP || d.size < 0 || d.size > kMaxValueSize)
        return nullptr;
    d.type = static_cast<SANE_Value_Type>(type);
    d.name = copy->m_name.c_str();
    d.title = copy->m_title.c_str();
    d.desc = copy->m_description.c_str();
    d.constraint_type = SANE_CONSTRAINT_NONE;
    switch (constraint) {
        case SANE_CONSTRAINT_NONE: break;
        case SANE_CONSTRAINT_STRING_LIST: {
            uint32_t count = 0;
            if (!in.U32(&count) || count > kMaxListLength) return nullptr;
            copy->m_strings.resize(count);
            for (std::string& text : copy->m_strings)
                if (!in.Text(&text)) return nullptr;
            for (const std::string& text : copy->m_strings)
                copy->m_stringList.push_back(text.c_str());
            copy->m_stringList.push_back(nullptr);
            d.constraint.string_list = copy->m_stringList.data();
            break;
        }
        case SANE_CONSTRAINT_WORD_LIST: {
            uint32_t count = 0;
            if (!in.U32(&count) || count > kMaxListLength) return nullptr;
            copy->m_words.assign(1, static_cast<SANE_Word>(count));
            for (uint32_t i = 0; i < count; ++i) {
                int32_t word = 0;
                if (!in.I32(&word)) return nullptr;
                copy->m_words.push_back(word);
            }
            d.constraint.word_list = copy->m_words.data();
            break;
        }
        case SANE_CONSTRAINT_RANGE:
            if (!in.I32(&copy->m_range.min) || !in.I32(&copy->m_range.max) ||
                !in.I32(&copy->m_range.quant))
                return nullptr;
            d.constraint.range = &copy->m_range;
            break;
        default: return nullptr;
    }
    d.constraint_type = static_cast<SANE_Constraint_Type>(constraint);
    return copy;
}
