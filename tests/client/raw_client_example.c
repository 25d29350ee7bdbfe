/* A client without libvelomark-client: opens the two sections by the lifetime
 * rule, sends "OnFileAcquire" as a command text, prints the reply, waits for the
 * first image and prints its size. The same program is shown in docs/PROTOCOL.md.
 * Test aids: VELOMARK_CHANNEL_SUFFIX and XDG_RUNTIME_DIR as Velomark reads them. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#define BLOCK_SIZE 16096000

struct section {
    char name[256];
    int fd;
    unsigned char* view;
    size_t size;
};

/* Create or open, hold a shared flock, map the object's real size. */
static int open_section(struct section* s, const char* base, size_t zero_bytes) {
    const char* suffix = getenv("VELOMARK_CHANNEL_SUFFIX");
    struct stat st;
    int created = 0;
    snprintf(s->name, sizeof(s->name), "/%s%s", base, suffix ? suffix : "");
    s->fd = shm_open(s->name, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (s->fd >= 0) {
        flock(s->fd, LOCK_EX); /* nobody uses it before it has its size */
        if (ftruncate(s->fd, BLOCK_SIZE) != 0 || posix_fallocate(s->fd, 0, BLOCK_SIZE) != 0)
            return -1;
        flock(s->fd, LOCK_SH);
        created = 1;
    } else if (errno == EEXIST) {
        s->fd = shm_open(s->name, O_RDWR, 0);
        if (s->fd < 0) return -1;
        flock(s->fd, LOCK_SH);
        /* (A careful client also waits while the size is still 0 and checks
         * that the name still names this object; see PROTOCOL.md.) */
    } else {
        return -1;
    }
    if (fstat(s->fd, &st) != 0 || st.st_size == 0) return -1;
    s->size = (size_t)st.st_size;
    s->view = mmap(NULL, s->size, PROT_READ | PROT_WRITE, MAP_SHARED, s->fd, 0);
    if (s->view == MAP_FAILED) return -1;
    if (created) memset(s->view, 0, s->size < zero_bytes ? s->size : zero_bytes);
    return 0;
}

/* Unmap; the last user (an exclusive flock succeeds) removes the name. */
static void close_section(struct section* s) {
    munmap(s->view, s->size);
    if (flock(s->fd, LOCK_EX | LOCK_NB) == 0) shm_unlink(s->name);
    close(s->fd);
}

/* One WM_COMMAND in send mode; returns the reply (0 dispatched, -1 refused), or
 * -2 when Velomark does not answer. */
static int64_t send_command(uint16_t id) {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    const char* suffix = getenv("VELOMARK_CHANNEL_SUFFIX");
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    unsigned char request[24] = {0x11, 0x01}; /* message 0x0111, mode 0 (send) */
    unsigned char reply[8];
    int64_t value = 0;
    size_t got = 0;
    int fd, i;
    if (runtime && *runtime)
        snprintf(address.sun_path, sizeof(address.sun_path), "%s/velomark%s.sock", runtime,
                 suffix ? suffix : "");
    else
        snprintf(address.sun_path, sizeof(address.sun_path), "/tmp/velomark-%u/velomark%s.sock",
                 (unsigned)getuid(), suffix ? suffix : "");
    request[8] = (unsigned char)id; /* wParam, little-endian */
    request[9] = (unsigned char)(id >> 8);
    fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof(address)) != 0) {
        if (fd >= 0) close(fd);
        return -2;
    }
    if (send(fd, request, sizeof(request), MSG_NOSIGNAL) != (ssize_t)sizeof(request)) {
        close(fd);
        return -2;
    }
    while (got < sizeof(reply)) {
        ssize_t n = recv(fd, reply + got, sizeof(reply) - got, 0);
        if (n <= 0) {
            close(fd);
            return -2;
        }
        got += (size_t)n;
    }
    close(fd);
    for (i = 7; i >= 0; --i) value = (value << 8) | reply[i];
    return value;
}

int main(void) {
    struct section data, status;
    int32_t* word;
    int32_t width, height;
    int waited;
    int64_t answer;
    if (open_section(&data, "dllmemfilemap", BLOCK_SIZE) != 0 ||
        open_section(&status, "dllmemfilemapStatus", 80) != 0) {
        perror("sections");
        return 1;
    }
    word = (int32_t*)status.view;

    strcpy((char*)data.view, "OnFileAcquire");
    answer = send_command(32783);
    if (answer != 0) {
        fprintf(stderr, answer == -2 ? "Velomark is not running\n" : "refused\n");
        close_section(&status);
        close_section(&data);
        return answer == -2 ? 3 : 5;
    }
    /* The reply text stays until the first image takes its place. */
    printf("%.*s\n", 259, (const char*)data.view);

    for (waited = 0; __atomic_load_n(word, __ATOMIC_ACQUIRE) != 5; ++waited) {
        struct timespec pause = {0, 1000000};
        if (waited == 30000) {
            fprintf(stderr, "no image\n");
            close_section(&status);
            close_section(&data);
            return 4;
        }
        nanosleep(&pause, NULL);
    }
    memcpy(&width, data.view + 4, 4);
    memcpy(&height, data.view + 8, 4);
    printf("image %d x %d\n", width, height);
    __atomic_store_n(word, 0, __ATOMIC_RELEASE); /* taken */

    close_section(&status);
    close_section(&data);
    return 0;
}
