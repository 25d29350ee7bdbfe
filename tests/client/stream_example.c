/* A C client of the image stream: starts an acquisition and prints each page's
 * size as it arrives; the pixels are read straight from the mapping. The same
 * program is shown in docs/PROTOCOL.md.
 *
 *   stream-example [COUNT] */
#include <stdio.h>
#include <stdlib.h>

#include "client/velomark_client.h"

int main(int argc, char** argv) {
    velomark_client* client = NULL;
    velomark_stream* stream = NULL;
    velomark_image* image = NULL;
    velomark_result result;
    uint64_t count = argc > 1 ? strtoull(argv[1], NULL, 10) : 0;

    if (velomark_open(&client) != VELOMARK_OK) {
        fprintf(stderr, "%s\n", velomark_last_error(NULL));
        return 1;
    }
    result = velomark_stream_open(client, VELOMARK_STREAM_START, count, &stream);
    if (result != VELOMARK_OK) {
        fprintf(stderr, "%s: %s\n", velomark_result_text(result), velomark_last_error(client));
        velomark_close(client);
        return 3;
    }
    while ((result = velomark_stream_next(stream, &image, 60000)) == VELOMARK_OK) {
        /* image->dib is the packed DIB, mapped read-only: no copy was made. */
        printf("page %u: %d x %d at %.0f dpi, %zu bytes\n", (unsigned)image->sequence,
               (int)image->width, (int)image->height, image->x_resolution, image->size);
        velomark_image_release(image);
    }
    /* VELOMARK_E_END: the acquisition ended, or COUNT pages came. */
    printf("%u pages (%s)\n", (unsigned)velomark_stream_count(stream),
           velomark_result_text(result));
    velomark_stream_close(stream);
    velomark_close(client);
    return result == VELOMARK_E_END ? 0 : 1;
}
