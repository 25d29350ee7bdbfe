// The part of the SANE interface this source uses, declared from the public SANE
// standard (version 1), and the library's functions looked up at run time: the source
// loads libsane with dlopen, so Velomark runs where SANE is not installed.
#pragma once

#include <cstdint>
#include <string>

using SANE_Word = int32_t;
using SANE_Int = SANE_Word;
using SANE_Bool = SANE_Word;
using SANE_Fixed = SANE_Word;
using SANE_Byte = unsigned char;
using SANE_Char = char;
using SANE_String_Const = const char*;
using SANE_Handle = void*;

enum SANE_Status : int {
    SANE_STATUS_GOOD = 0,
    SANE_STATUS_UNSUPPORTED,
    SANE_STATUS_CANCELLED,
    SANE_STATUS_DEVICE_BUSY,
    SANE_STATUS_INVAL,
    SANE_STATUS_EOF,
    SANE_STATUS_JAMMED,
    SANE_STATUS_NO_DOCS,
    SANE_STATUS_COVER_OPEN,
    SANE_STATUS_IO_ERROR,
    SANE_STATUS_NO_MEM,
    SANE_STATUS_ACCESS_DENIED,
};

enum SANE_Value_Type : int {
    SANE_TYPE_BOOL = 0,
    SANE_TYPE_INT,
    SANE_TYPE_FIXED,
    SANE_TYPE_STRING,
    SANE_TYPE_BUTTON,
    SANE_TYPE_GROUP,
};

enum SANE_Constraint_Type : int {
    SANE_CONSTRAINT_NONE = 0,
    SANE_CONSTRAINT_RANGE,
    SANE_CONSTRAINT_WORD_LIST,
    SANE_CONSTRAINT_STRING_LIST,
};

enum SANE_Action : int {
    SANE_ACTION_GET_VALUE = 0,
    SANE_ACTION_SET_VALUE,
    SANE_ACTION_SET_AUTO,
};

enum SANE_Frame : int {
    SANE_FRAME_GRAY = 0,
    SANE_FRAME_RGB,
    SANE_FRAME_RED,
    SANE_FRAME_GREEN,
    SANE_FRAME_BLUE,
};

constexpr SANE_Int SANE_CAP_SOFT_SELECT = 1 << 0;
constexpr SANE_Int SANE_CAP_INACTIVE = 1 << 5;
constexpr SANE_Int SANE_INFO_INEXACT = 1 << 0;
constexpr SANE_Int SANE_INFO_RELOAD_OPTIONS = 1 << 1;

constexpr double SaneUnfix(SANE_Fixed value) { return value / 65536.0; }
constexpr SANE_Fixed SaneFix(double value) {
    return static_cast<SANE_Fixed>(value * 65536.0 + (value < 0 ? -0.5 : 0.5));
}

struct SANE_Device {
    SANE_String_Const name;
    SANE_String_Const vendor;
    SANE_String_Const model;
    SANE_String_Const type;
};

struct SANE_Range {
    SANE_Word min;
    SANE_Word max;
    SANE_Word quant;
};

struct SANE_Option_Descriptor {
    SANE_String_Const name;
    SANE_String_Const title;
    SANE_String_Const desc;
    SANE_Value_Type type;
    SANE_Int unit;
    SANE_Int size;
    SANE_Int cap;
    SANE_Constraint_Type constraint_type;
    union {
        const SANE_String_Const* string_list;  // null-terminated
        const SANE_Word* word_list;            // first element is the count
        const SANE_Range* range;
    } constraint;
};

struct SANE_Parameters {
    SANE_Frame format;
    SANE_Bool last_frame;
    SANE_Int bytes_per_line;
    SANE_Int pixels_per_line;
    SANE_Int lines;
    SANE_Int depth;
};

using SANE_Auth_Callback = void (*)(SANE_String_Const resource, SANE_Char* username,
                                    SANE_Char* password);

// libsane's entry points, filled by SaneLibrary.
struct SaneApi {
    SANE_Status (*init)(SANE_Int* version, SANE_Auth_Callback authorize) = nullptr;
    SANE_Status (*get_devices)(const SANE_Device*** list, SANE_Bool localOnly) = nullptr;
    SANE_Status (*open)(SANE_String_Const name, SANE_Handle* handle) = nullptr;
    void (*close)(SANE_Handle handle) = nullptr;
    const SANE_Option_Descriptor* (*get_option_descriptor)(SANE_Handle handle,
                                                           SANE_Int option) = nullptr;
    SANE_Status (*control_option)(SANE_Handle handle, SANE_Int option, SANE_Action action,
                                  void* value, SANE_Int* info) = nullptr;
    SANE_Status (*get_parameters)(SANE_Handle handle, SANE_Parameters* params) = nullptr;
    SANE_Status (*start)(SANE_Handle handle) = nullptr;
    SANE_Status (*read)(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength,
                        SANE_Int* length) = nullptr;
    void (*cancel)(SANE_Handle handle) = nullptr;
    SANE_String_Const (*strstatus)(SANE_Status status) = nullptr;
    // Velomark's own: why the last call on the handle failed, when SANE's status says
    // less (the scanner driver stopped); null or empty otherwise.
    const char* (*failure)(SANE_Handle handle) = nullptr;
    // Velomark's own: read without the copy. *data points at up to maxLength bytes
    // where they already are, until the next read on the handle; null when the
    // interface has no such place (libsane's own).
    SANE_Status (*read_view)(SANE_Handle handle, const SANE_Byte** data, SANE_Int maxLength,
                             SANE_Int* length) = nullptr;

    // The status as SANE words it, with a fallback when the library gives none.
    std::string StatusText(SANE_Status status) const {
        const char* text = strstatus ? strstatus(status) : nullptr;
        return text ? text : "SANE status " + std::to_string(static_cast<int>(status));
    }
    // The failure of the last call on `handle` when the interface knows one, else the
    // status's words.
    std::string StatusText(SANE_Handle handle, SANE_Status status) const {
        const char* text = failure && handle ? failure(handle) : nullptr;
        return text && *text ? text : StatusText(status);
    }
};
