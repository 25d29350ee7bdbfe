/* libvelomark-client: what a client process needs to take images from Velomark.
 *
 * Velomark and its client share two named sections (the data block and the
 * status block) and Velomark's command socket. A handle opens both sections the
 * way Velomark does (create or open; a section lives while any process has it
 * open), so a client may start before or after Velomark. See docs/PROTOCOL.md.
 *
 * Every function but velomark_close and the two text functions returns
 * VELOMARK_OK or an error code; velomark_last_error tells the details of the
 * handle's last failure. A handle is used by one thread at a time. */
#ifndef VELOMARK_CLIENT_H
#define VELOMARK_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELOMARK_CLIENT_API __attribute__((visibility("default")))

typedef struct velomark_client velomark_client;

/* The status word's values. The client writes the two requests and 0; Velomark
 * resets a request to 0 when it takes it up and writes 5 after each image. */
#define VELOMARK_STATUS_IDLE 0
#define VELOMARK_STATUS_SELECT_SOURCE 1
#define VELOMARK_STATUS_ACQUIRE 2
#define VELOMARK_STATUS_IMAGE_READY 5

/* Bytes of the image description (TW_IMAGEINFO) in the status block. */
#define VELOMARK_IMAGE_INFO_SIZE 42
/* Longest command text Velomark reads. */
#define VELOMARK_COMMAND_TEXT_MAX 259
/* The command that makes Velomark read the command text. */
#define VELOMARK_ID_GET_DIB_BITES 32783

typedef enum velomark_result {
    VELOMARK_OK = 0,
    VELOMARK_E_ARGUMENT = 1,    /* a null pointer or a value out of range */
    VELOMARK_E_SECTION = 2,     /* a section could not be created, opened or mapped */
    VELOMARK_E_NOT_RUNNING = 3, /* nobody serves the command socket */
    VELOMARK_E_TIMEOUT = 4,     /* no answer or no image within the time limit */
    VELOMARK_E_REFUSED = 5,     /* Velomark refused the command (unknown or disabled) */
    VELOMARK_E_SOCKET = 6,      /* the connection failed or was closed */
    VELOMARK_E_NO_IMAGE = 7,    /* the status word does not say an image is ready */
    VELOMARK_E_BAD_IMAGE = 8,   /* not a packed 24-bit image, or larger than the block */
    VELOMARK_E_BUFFER = 9,      /* the caller's buffer is too small */
    VELOMARK_E_TOO_LONG = 10,   /* the text does not fit */
    VELOMARK_E_MEMORY = 11,     /* out of memory */
    VELOMARK_E_END = 12,        /* the acquisition ended: the stream has no more images */
    VELOMARK_E_PROTOCOL = 13,   /* what arrived on the stream breaks its format */
    VELOMARK_E_SERVER = 14      /* Velomark ended the stream with an error (its text in
                                   velomark_last_error) */
} velomark_result;

/* Opens (or creates) both sections. On failure *client is null. */
VELOMARK_CLIENT_API velomark_result velomark_open(velomark_client** client);
/* Unmaps and closes both sections and frees the handle; null is allowed. */
VELOMARK_CLIENT_API void velomark_close(velomark_client* client);

/* A fixed English text for a result code. */
VELOMARK_CLIENT_API const char* velomark_result_text(velomark_result result);
/* What went wrong in the handle's last failed call ("" after none); with a null
 * handle, why this thread's last velomark_open or velomark_ticket_text failed. */
VELOMARK_CLIENT_API const char* velomark_last_error(const velomark_client* client);
/* The command socket's path ("" when none can be had; see velomark_last_error). */
VELOMARK_CLIENT_API const char* velomark_socket_path(const velomark_client* client);

/* Sizes of the mapped sections: another process may have made them smaller. */
VELOMARK_CLIENT_API size_t velomark_data_size(const velomark_client* client);
VELOMARK_CLIENT_API size_t velomark_status_size(const velomark_client* client);

/* The status word, loaded with acquire ordering / stored with release ordering. */
VELOMARK_CLIENT_API velomark_result velomark_get_status(velomark_client* client, int32_t* status);
VELOMARK_CLIENT_API velomark_result velomark_set_status(velomark_client* client, int32_t status);
/* Writes a request to the status word: VELOMARK_STATUS_SELECT_SOURCE or _ACQUIRE. */
VELOMARK_CLIENT_API velomark_result velomark_request(velomark_client* client, int32_t request);
/* Waits until the status word no longer holds `value` (Velomark took the request). */
VELOMARK_CLIENT_API velomark_result velomark_wait_status_change(velomark_client* client,
                                                                int32_t value, int timeout_ms);

/* Whether Velomark answers on its command socket. */
VELOMARK_CLIENT_API velomark_result velomark_check_running(velomark_client* client, int timeout_ms);
/* Sends WM_COMMAND with the id: post != 0 returns once it is queued, else once it
 * has run. VELOMARK_E_REFUSED when Velomark answered -1. timeout_ms < 0: no limit. */
VELOMARK_CLIENT_API velomark_result velomark_send_command(velomark_client* client, uint16_t id,
                                                          int post, int timeout_ms);
/* Writes the text at the start of the data block, sends command 32783 and copies
 * the text found there afterwards (Velomark's reply) into reply[reply_size]. */
VELOMARK_CLIENT_API velomark_result velomark_command(velomark_client* client, const char* text,
                                                     char* reply, size_t reply_size,
                                                     int timeout_ms);

/* Waits until the status word is 5. timeout_ms < 0: no limit. */
VELOMARK_CLIENT_API velomark_result velomark_wait_image(velomark_client* client, int timeout_ms);
/* The size of the packed image in the data block, from its header and checked
 * against the block's size. Needs status 5. */
VELOMARK_CLIENT_API velomark_result velomark_image_size(velomark_client* client, size_t* size);
/* Copies the packed image (header, rows) into buffer; *size receives its size. */
VELOMARK_CLIENT_API velomark_result velomark_copy_image(velomark_client* client, void* buffer,
                                                        size_t buffer_size, size_t* size);
/* Makes the data section at least `bytes` large, so that Velomark can place images
 * up to that size (the section starts at 16,096,000 bytes). It only ever grows:
 * never make it smaller while Velomark runs. */
VELOMARK_CLIENT_API velomark_result velomark_grow_data(velomark_client* client, size_t bytes);
/* Copies the 42-byte image description (TW_IMAGEINFO, 2-byte packed). */
VELOMARK_CLIENT_API velomark_result
velomark_copy_image_info(velomark_client* client, unsigned char info[VELOMARK_IMAGE_INFO_SIZE]);
/* Writes 0 to the status word: the image is taken. */
VELOMARK_CLIENT_API velomark_result velomark_acknowledge(velomark_client* client);

/* The text at the start of the data block, cut to buffer_size - 1 bytes and
 * terminated (VELOMARK_E_BUFFER when it was cut). */
VELOMARK_CLIENT_API velomark_result velomark_get_text(velomark_client* client, char* buffer,
                                                      size_t buffer_size);
/* Writes the text and its zero byte at the start of the data block. */
VELOMARK_CLIENT_API velomark_result velomark_set_text(velomark_client* client, const char* text);

/* The image stream: every image of an acquisition, of any size, each in its own
 * sealed memory file that the client maps read-only. */
typedef struct velomark_stream velomark_stream;

/* Flags of velomark_stream_open. */
#define VELOMARK_STREAM_START 1 /* start an acquisition now, as command 32772 does */

typedef struct velomark_image {
    const unsigned char* dib; /* the packed 24-bit DIB, mapped read-only */
    size_t size;              /* its bytes */
    uint32_t sequence;        /* 1, 2, ... within the stream */
    int32_t width;            /* from the description */
    int32_t height;
    int16_t bits_per_pixel;   /* as the source delivered it; the DIB has 24 */
    double x_resolution;      /* dots per inch */
    double y_resolution;
    unsigned char info[VELOMARK_IMAGE_INFO_SIZE]; /* TW_IMAGEINFO, 2-byte packed */
} velomark_image;

/* Asks for a stream of `count` images (0: until the acquisition ends).
 * VELOMARK_E_REFUSED when Velomark has no TWAIN driver or the flags are wrong. */
VELOMARK_CLIENT_API velomark_result velomark_stream_open(velomark_client* client, uint32_t flags,
                                                         uint64_t count,
                                                         velomark_stream** stream);
/* The next image; give it back with velomark_image_release. VELOMARK_E_END when
 * the acquisition ended or the images asked for came; VELOMARK_E_SERVER,
 * _PROTOCOL or _SOCKET end the stream too. timeout_ms < 0: no limit. */
VELOMARK_CLIENT_API velomark_result velomark_stream_next(velomark_stream* stream,
                                                         velomark_image** image, int timeout_ms);
/* Images the stream has given (or, after VELOMARK_E_END, that Velomark sent). */
VELOMARK_CLIENT_API uint32_t velomark_stream_count(const velomark_stream* stream);
/* Unmaps the image and frees it; null is allowed. */
VELOMARK_CLIENT_API void velomark_image_release(velomark_image* image);
/* Closes the connection; images still held stay valid. Null is allowed. */
VELOMARK_CLIENT_API void velomark_stream_close(velomark_stream* stream);

/* The sources and their abilities (message 0x8003): *json receives Velomark's
 * UTF-8 JSON document as it came, {"sources":[{"name":...,"inputs":[...],...}]}
 * (docs/PROTOCOL.md, section 12), NUL-terminated; free it with
 * velomark_free_text. VELOMARK_E_REFUSED when Velomark has no TWAIN driver.
 * timeout_ms < 0: no limit. */
VELOMARK_CLIENT_API velomark_result velomark_devices(velomark_client* client, char** json,
                                                     int timeout_ms);
/* Frees a text the library made; null is allowed. */
VELOMARK_CLIENT_API void velomark_free_text(char* text);

/* A ticket: the settings of one scan job (docs/PROTOCOL.md, section 11). */
#define VELOMARK_TICKET_MAX 4096 /* bytes of a ticket's text at most */

typedef enum velomark_input {
    VELOMARK_INPUT_AUTO = 0,
    VELOMARK_INPUT_FLATBED = 1,
    VELOMARK_INPUT_FEEDER = 2,
    VELOMARK_INPUT_DUPLEX = 3
} velomark_input;

typedef enum velomark_color {
    VELOMARK_COLOR_AUTO = 0,
    VELOMARK_COLOR_BW = 1,
    VELOMARK_COLOR_GRAY = 2,
    VELOMARK_COLOR_RGB = 3
} velomark_color;

typedef struct velomark_ticket {
    const char* device;    /* a source's product name; null or "": the default source */
    int input;             /* a velomark_input */
    int color;             /* a velomark_color */
    uint32_t x_resolution; /* dots per inch; 0: the source's own */
    uint32_t y_resolution; /* 0: as x_resolution */
    int has_area;          /* nonzero: scan the area below, else the whole bed */
    uint32_t area_left;    /* the area, in 1/1200 inch from the bed's top left */
    uint32_t area_top;
    uint32_t area_width;   /* at least 1 */
    uint32_t area_height;  /* at least 1 */
    uint32_t pages;        /* 0: all the feeder holds */
    int ui;                /* 1: show the source's own window; 0: do not */
} velomark_ticket;

/* Sets every field to its default: the default source, auto input and colour,
 * the source's own resolution, the whole bed, all pages, no window. */
VELOMARK_CLIENT_API void velomark_ticket_init(velomark_ticket* ticket);
/* Writes the ticket's text ("key=value" lines) and a NUL into buffer[size]; its
 * length without the NUL, or a negative velomark_result: -VELOMARK_E_ARGUMENT for a
 * value that cannot be written (velomark_last_error(NULL) tells which),
 * -VELOMARK_E_BUFFER when size is not above the length. A buffer of
 * VELOMARK_TICKET_MAX + 1 bytes always does. */
VELOMARK_CLIENT_API long velomark_ticket_text(const velomark_ticket* ticket, char* buffer,
                                              size_t size);
/* Asks for a stream of the job the ticket describes (message 0x8002): its pages
 * come to this stream alone, `wanted` of them (0: until the job ends), read with
 * velomark_stream_next as any stream's. A job that cannot run as asked (no
 * feeder, no grey...) ends with VELOMARK_E_SERVER and Velomark's sentence in
 * velomark_stream_error. VELOMARK_E_ARGUMENT for a ticket that cannot be written,
 * VELOMARK_E_REFUSED when Velomark refused it. */
VELOMARK_CLIENT_API velomark_result velomark_stream_open_ticket(velomark_client* client,
                                                                const velomark_ticket* ticket,
                                                                uint64_t wanted,
                                                                velomark_stream** stream);
/* After VELOMARK_E_SERVER, Velomark's own sentence (the error event's text); ""
 * otherwise. Valid until the stream is closed. */
VELOMARK_CLIENT_API const char* velomark_stream_error(const velomark_stream* stream);

#ifdef __cplusplus
}
#endif

#endif /* VELOMARK_CLIENT_H */
