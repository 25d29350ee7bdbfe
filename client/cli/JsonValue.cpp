#include "client/cli/JsonValue.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace velomark {

namespace {

// Nesting deeper than this is refused rather than followed down the stack.
constexpr int kDeepestNesting = 64;

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : m_text(text) {}

    bool ReadDocument(JsonValue& value, std::string& error) {
        bool read = ReadValue(value, 0);
        SkipSpace();
        if (read && m_at != m_text.size()) read = Fail("text after the value");
        if (!read) error = m_error + " at byte " + std::to_string(m_at);
        return read;
    }

private:
    bool Fail(const char* why) {
        if (m_error.empty()) m_error = why;
        return false;
    }
    void SkipSpace() {
        while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) && m_text[m_at]) ++m_at;
    }
    bool Take(char c) {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool TakeWord(const char* word) {
        const size_t length = std::strlen(word);
        if (m_text.compare(m_at, length, word) != 0) return Fail("an unknown word");
        m_at += length;
        return true;
    }

    bool ReadValue(JsonValue& value, int depth) {
        if (depth > kDeepestNesting) return Fail("nesting too deep");
        SkipSpace();
        if (m_at >= m_text.size()) return Fail("the text ends where a value was due");
        const char c = m_text[m_at];
        if (c == '{') return ReadObject(value, depth);
        if (c == '[') return ReadArray(value, depth);
        if (c == '"') {
            value.type = JsonValue::Type::String;
            return ReadString(value.text);
        }
        if (c == 't' || c == 'f') {
            value.type = JsonValue::Type::Bool;
            value.boolean = c == 't';
            return TakeWord(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            value.type = JsonValue::Type::Null;
            return TakeWord("null");
        }
        return ReadNumber(value);
    }

    bool ReadNumber(JsonValue& value) {
        const size_t start = m_at;
        if (m_at < m_text.size() && m_text[m_at] == '-') ++m_at;
        const size_t digits = m_at;
        while (m_at < m_text.size() && std::strchr("0123456789.eE+-", m_text[m_at]) && m_text[m_at])
            ++m_at;
        if (m_at == digits || !std::isdigit(static_cast<unsigned char>(m_text[digits])))
            return Fail("not a value");
        const std::string number = m_text.substr(start, m_at - start);
        char* end = nullptr;
        value.type = JsonValue::Type::Number;
        value.number = std::strtod(number.c_str(), &end);
        if (*end != 0 || !std::isfinite(value.number)) return Fail("a malformed number");
        return true;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool ReadHex4(unsigned& code) {
        if (m_at + 4 > m_text.size()) return Fail("a short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            const char* digits = "0123456789abcdef";
            const char* found = std::strchr(digits, std::tolower(static_cast<unsigned char>(c)));
            if (!found || c == 0) return Fail("a malformed \\u escape");
            code = code * 16 + static_cast<unsigned>(found - digits);
        }
        return true;
    }

    bool ReadEscape(std::string& out) {
        if (m_at >= m_text.size()) return Fail("the text ends in an escape");
        const char c = m_text[m_at++];
        const char* from = "\"\\/bfnrt";
        const char* to = "\"\\/\b\f\n\r\t";
        if (const char* found = std::strchr(from, c); found && c) {
            out += to[found - from];
            return true;
        }
        if (c != 'u') return Fail("an unknown escape");
        unsigned code = 0;
        if (!ReadHex4(code)) return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (m_text.compare(m_at, 2, "\\u") != 0) return Fail("a lone surrogate");
            m_at += 2;
            if (!ReadHex4(low) || low < 0xDC00 || low > 0xDFFF) return Fail("a lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return Fail("a lone surrogate");
        }
        AppendUtf8(out, code);
        return true;
    }

    bool ReadString(std::string& out) {
        ++m_at;  // the opening quote
        out.clear();
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return Fail("a control character in a string");
            if (c != '\\') {
                out += c;
            } else if (!ReadEscape(out)) {
                return false;
            }
        }
        return Fail("a string without its end");
    }

    bool ReadArray(JsonValue& value, int depth) {
        ++m_at;
        value.type = JsonValue::Type::Array;
        if (Take(']')) return true;
        do {
            value.items.emplace_back();
            if (!ReadValue(value.items.back(), depth + 1)) return false;
        } while (Take(','));
        return Take(']') || Fail("an array without its ']'");
    }

    bool ReadObject(JsonValue& value, int depth) {
        ++m_at;
        value.type = JsonValue::Type::Object;
        if (Take('}')) return true;
        do {
            SkipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != '"')
                return Fail("a member without a name");
            std::string name;
            if (!ReadString(name)) return false;
            if (!Take(':')) return Fail("a member without ':'");
            value.members.emplace_back(std::move(name), JsonValue{});
            if (!ReadValue(value.members.back().second, depth + 1)) return false;
        } while (Take(','));
        return Take('}') || Fail("an object without its '}'");
    }

    const std::string& m_text;
    size_t m_at = 0;
    std::string m_error;
};

}  // namespace

bool JsonValue::Parse(const std::string& text, JsonValue& value, std::string& error) {
    value = JsonValue{};
    return JsonReader(text).ReadDocument(value, error);
}

const JsonValue* JsonValue::Member(const std::string& name) const {
    for (const auto& [key, member] : members)
        if (key == name) return &member;
    return nullptr;
}

double JsonValue::NumberOr(const std::string& name, double otherwise) const {
    const JsonValue* member = Member(name);
    return member && member->Is(Type::Number) ? member->number : otherwise;
}

}  // namespace velomark
