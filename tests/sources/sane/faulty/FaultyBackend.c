/* A SANE backend that fails as some drivers do, for the tests: one grey device,
 * NAME:0 (the dll backend names it so), whose scan goes wrong in the way FAULT names: CRASH_IN_READ (sane_read
 * dies of SIGSEGV), HANG_IN_START (sane_start never returns) or LIE_IN_READ
 * (sane_read says it read more than it was given room for). Built once per fault as
 * libsane-NAME.so.1; SANE's dll backend loads it from a folder in LD_LIBRARY_PATH. */
#include <signal.h>
#include <stddef.h>
#include <string.h>
#include <unistd.h>

typedef int SANE_Int;
typedef int SANE_Status;
typedef void* SANE_Handle;
typedef struct {
    const char* name;
    const char* vendor;
    const char* model;
    const char* type;
} SANE_Device;
typedef struct {
    int format, last_frame, bytes_per_line, pixels_per_line, lines, depth;
} SANE_Parameters;
typedef struct {
    const char *name, *title, *desc;
    int type, unit, size, cap, constraint_type;
    const void* constraint;
} SANE_Option_Descriptor;

enum { GOOD = 0, UNSUPPORTED = 1, INVAL = 4 };
enum { kSide = 16 };

#define JOIN3(a, b, c) a##b##c
#define ENTRY(name, function) JOIN3(sane_, name, function)
#define CALL(function) ENTRY(NAME, _##function)
#define TEXT2(x) #x
#define TEXT(x) TEXT2(x)

static const SANE_Device kDevice = {"0", "Velomark", "Faulty", "virtual device"};
static const SANE_Device* kList[] = {&kDevice, NULL};
static const SANE_Option_Descriptor kCount = {"", "Number of options", "", 1, 0, 4, 4, 0, NULL};
static int s_open;

SANE_Status CALL(init)(SANE_Int* version, void* authorize) {
    (void)authorize;
    if (version) *version = 1 << 24;
    return GOOD;
}
void CALL(exit)(void) {}
SANE_Status CALL(get_devices)(const SANE_Device*** list, int localOnly) {
    (void)localOnly;
    *list = kList;
    return GOOD;
}
SANE_Status CALL(open)(const char* name, SANE_Handle* handle) {
    if (name[0] && strcmp(name, kDevice.name) != 0) return INVAL;
    *handle = &s_open;
    return GOOD;
}
void CALL(close)(SANE_Handle handle) { (void)handle; }
const SANE_Option_Descriptor* CALL(get_option_descriptor)(SANE_Handle handle, SANE_Int option) {
    (void)handle;
    return option == 0 ? &kCount : NULL;
}
SANE_Status CALL(control_option)(SANE_Handle handle, SANE_Int option, int action, void* value,
                                 SANE_Int* info) {
    (void)handle;
    if (info) *info = 0;
    if (option != 0 || action != 0) return INVAL;
    *(SANE_Int*)value = 1;
    return GOOD;
}
SANE_Status CALL(get_parameters)(SANE_Handle handle, SANE_Parameters* p) {
    (void)handle;
    p->format = 0;
    p->last_frame = 1;
    p->bytes_per_line = kSide;
    p->pixels_per_line = kSide;
    p->lines = kSide;
    p->depth = 8;
    return GOOD;
}
SANE_Status CALL(start)(SANE_Handle handle) {
    (void)handle;
#ifdef HANG_IN_START
    for (;;) pause();
#endif
    return GOOD;
}
SANE_Status CALL(read)(SANE_Handle handle, unsigned char* data, SANE_Int max, SANE_Int* length) {
    (void)handle;
#ifdef CRASH_IN_READ
    /* A driver's own fault, not one a sanitizer in the worker would turn into an exit. */
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
#endif
    memset(data, 0x80, (size_t)max);
    *length = max;
#ifdef LIE_IN_READ
    *length = max + 4096;
#endif
    return GOOD;
}
void CALL(cancel)(SANE_Handle handle) { (void)handle; }
SANE_Status CALL(set_io_mode)(SANE_Handle handle, int nonBlocking) {
    (void)handle;
    return nonBlocking ? UNSUPPORTED : GOOD;
}
SANE_Status CALL(get_select_fd)(SANE_Handle handle, SANE_Int* fd) {
    (void)handle;
    (void)fd;
    return UNSUPPORTED;
}
const char* CALL(strstatus)(SANE_Status status) {
    (void)status;
    return "";
}
