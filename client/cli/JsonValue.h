// A JSON value read from text (RFC 8259), enough for the documents Velomark sends:
// objects keep their members in order, numbers are doubles.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velomark {

class JsonValue {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    // The whole of `text` as one value; false with where and why in `error`.
    static bool Parse(const std::string& text, JsonValue& value, std::string& error);

    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;                                        // a String's UTF-8
    std::vector<JsonValue> items;                            // an Array's
    std::vector<std::pair<std::string, JsonValue>> members;  // an Object's

    bool Is(Type wanted) const { return type == wanted; }
    // The object's member of that name (the first), or null.
    const JsonValue* Member(const std::string& name) const;
    // A member's number, or `otherwise` when it is missing or not a number.
    double NumberOr(const std::string& name, double otherwise) const;
};

}  // namespace velomark
