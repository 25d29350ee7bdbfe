/* A C client of libvelomark-client: asks Velomark for images and saves the first
 * one as a BMP file. The same program is shown in docs/PROTOCOL.md.
 *
 *   acquire-example OUTPUT.bmp */
#include <stdio.h>
#include <stdlib.h>

#include "client/velomark_client.h"

static int fail(velomark_client* client, velomark_result result) {
    fprintf(stderr, "%s: %s\n", velomark_result_text(result), velomark_last_error(client));
    velomark_close(client);
    return result == VELOMARK_E_NOT_RUNNING ? 3 : result == VELOMARK_E_TIMEOUT ? 4 : 1;
}

static void put32(unsigned char* p, size_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

int main(int argc, char** argv) {
    velomark_client* client = NULL;
    velomark_result result;
    size_t size = 0;
    unsigned char* dib;
    unsigned char header[14] = {'B', 'M'};
    FILE* file;

    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.bmp\n", argv[0]);
        return 2;
    }
    result = velomark_open(&client);
    if (result != VELOMARK_OK) return fail(NULL, result);
    result = velomark_check_running(client, 2000);
    if (result != VELOMARK_OK) return fail(client, result);

    result = velomark_request(client, VELOMARK_STATUS_ACQUIRE);
    if (result == VELOMARK_OK) result = velomark_wait_image(client, 30000);
    if (result == VELOMARK_OK) result = velomark_image_size(client, &size);
    if (result != VELOMARK_OK) return fail(client, result);
    dib = malloc(size);
    if (!dib) return fail(client, VELOMARK_E_MEMORY);
    result = velomark_copy_image(client, dib, size, &size);
    velomark_acknowledge(client);
    if (result != VELOMARK_OK) {
        free(dib);
        return fail(client, result);
    }

    /* The image has no colour table: the pixels start after the 14 + 40 bytes. */
    put32(header + 2, 14 + size);
    put32(header + 10, 14 + 40);
    file = fopen(argv[1], "wb");
    if (!file || fwrite(header, 1, 14, file) != 14 || fwrite(dib, 1, size, file) != size) {
        perror(argv[1]);
        if (file) fclose(file);
        free(dib);
        velomark_close(client);
        return 1;
    }
    fclose(file);
    free(dib);
    velomark_close(client);
    return 0;
}
