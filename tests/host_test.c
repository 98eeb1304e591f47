/* WAVCreate inside a host program, through the shared library: a host thread cancelled during
 * a render (and a caller that had disabled cancellation), a program started while a render is
 * under way, and a host whose standard output or standard error is closed. Each render goes to
 * a FIFO that the host drains itself, so the host decides when the render is blocked half-way,
 * with the file open.
 *
 * usage: host_test cancel|exec|closed-stdout|closed-stderr FOLDER */
#define _GNU_SOURCE
#include "wavcreate.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static char folder[256];
static char16_t text[2000];
static const int32_t tenths = 40;
/* 1999 characters at 40 tenths, 2000 tones of 8000 samples: far more than a pipe holds. */
static const long file_size = 44L + 2000L * 8000L;

/* Where the test reports: standard error, or standard output while standard error is closed. */
static FILE *report;

static int fail(const char *what)
{
    fprintf(report, "FAILED: %s\n", what);
    return 1;
}

static void widen(const char *ascii, char16_t *out, size_t out_size)
{
    size_t i = 0;
    for (; ascii[i] != '\0' && i + 1 < out_size; ++i)
        out[i] = (char16_t)(unsigned char)ascii[i];
    out[i] = 0;
}

struct render {
    char path[512];
    volatile int returned;
    int cancel_state_after;
};

static __attribute__((noinline)) void render_into(struct render *render)
{
    char16_t path[512];
    widen(render->path, path, sizeof path / sizeof path[0]);
    WAVCreate(text, path, tenths);
    render->returned = 1;
}

/* The cancellation point lies in a frame of its own without arrays: a cancel unwinds it without
 * running its epilogue, and AddressSanitizer would find the redzones of an array left behind
 * on the thread's stack. */
static void *render_thread(void *argument)
{
    struct render *render = argument;
    render_into(render);
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &render->cancel_state_after);
    pthread_testcancel();
    return NULL;
}

static int keeper = -1;

/* Moves a descriptor of the host's own above 2, so that only the library's file can take a
 * closed standard descriptor. */
static int above_standard(int fd)
{
    const int moved = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fd >= 0)
        close(fd);
    return moved;
}

/* A new FIFO whose reading end the host opens first, so that a render into it blocks with the
 * file open as soon as the pipe is full. A second writing end, the keeper, keeps the FIFO from
 * reading as ended before the library has opened it; wait_until_blocked closes it. */
struct fifo {
    int reader;
    int keeper;
};

static int make_fifo(struct render *render, struct fifo *fifo, const char *name)
{
    snprintf(render->path, sizeof render->path, "%s/%s", folder, name);
    unlink(render->path);
    if (mkfifo(render->path, 0600) != 0)
        return -1;
    fifo->reader = above_standard(open(render->path, O_RDONLY | O_NONBLOCK));
    fifo->keeper = above_standard(open(render->path, O_WRONLY));
    if (fifo->reader < 0 || fifo->keeper < 0 || fcntl(fifo->reader, F_SETFL, 0) != 0)
        return -1;
    return 0;
}

/* Starts the render into the FIFO; returns its reading end. */
static int start_render(struct render *render, pthread_t *thread, const char *name)
{
    struct fifo fifo;
    if (make_fifo(render, &fifo, name) != 0)
        return -1;
    keeper = fifo.keeper;
    if (pthread_create(thread, NULL, render_thread, render) != 0)
        return -1;
    return fifo.reader;
}

/* Reads the rest of the FIFO; returns how many bytes came, or -1. Checks that `forbidden`, if
 * given, is nowhere among them. */
static long drain(int fd, long already, const char *forbidden, int *found)
{
    static char chunk[1 << 16];
    long total = already;
    ssize_t count;
    while ((count = read(fd, chunk, sizeof chunk)) > 0) {
        if (forbidden != NULL && memmem(chunk, (size_t)count, forbidden, strlen(forbidden)))
            *found = 1;
        total += count;
    }
    close(fd);
    return count < 0 ? -1 : total;
}

/* Waits until the render has filled the pipe and is blocked in a write. */
static long wait_until_blocked(int fd)
{
    char header[44];
    ssize_t count = read(fd, header, sizeof header);
    close(keeper);
    usleep(100 * 1000);
    return count == (ssize_t)sizeof header && memcmp(header, "RIFF", 4) == 0 ? count : -1;
}

/* A caller that had disabled cancellation finds it still disabled after the call. */
static int test_cancel_disabled(void)
{
    char path[512];
    char16_t wide_path[512];
    const char16_t short_text[] = {'A', 'B', 0};
    int before;
    int after;
    snprintf(path, sizeof path, "%s/cancel-disabled.wav", folder);
    widen(path, wide_path, sizeof wide_path / sizeof wide_path[0]);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &before);
    WAVCreate(short_text, wide_path, 5);
    pthread_setcancelstate(before, &after);
    if (after != PTHREAD_CANCEL_DISABLE)
        return fail("a caller that had disabled cancellation found it enabled after the call");
    printf("host: a caller with cancellation disabled kept it disabled\n");
    return 0;
}

/* A cancel that arrives while the render is blocked in a write takes effect when the call has
 * returned, at the thread's next cancellation point; the file is whole and the library free. */
static int test_cancel(void)
{
    struct render render = {0};
    pthread_t thread;
    void *thread_result;
    const int fd = start_render(&render, &thread, "cancel.fifo");
    int fd2;
    long received;
    if (fd < 0 || (received = wait_until_blocked(fd)) < 0)
        return fail("the render did not start");
    pthread_cancel(thread);
    received = drain(fd, received, NULL, NULL);
    pthread_join(thread, &thread_result);
    if (thread_result != PTHREAD_CANCELED)
        return fail("the thread was not cancelled after the call");
    if (!render.returned || render.cancel_state_after != PTHREAD_CANCEL_ENABLE)
        return fail("the call did not return with the caller's cancel state restored");
    if (received != file_size)
        return fail("the cancelled thread's file is not whole");
    /* The lock was released: the next call works. */
    render.returned = 0;
    fd2 = start_render(&render, &thread, "cancel-after.fifo");
    if (fd2 < 0 || (received = wait_until_blocked(fd2)) < 0)
        return fail("a call after the cancelled one did not start");
    received = drain(fd2, received, NULL, NULL);
    pthread_join(thread, NULL);
    if (received != file_size)
        return fail("a call after the cancelled one did not complete");
    printf("host: a cancel during a render waited for the call to return\n");
    return test_cancel_disabled();
}

/* A program the host starts while a render is under way inherits none of its files. */
static int test_exec(void)
{
    struct render render = {0};
    pthread_t thread;
    char command[1024];
    char listing_path[512];
    int found = 0;
    const int fd = start_render(&render, &thread, "exec.fifo");
    long received;
    FILE *listing;
    char line[1024];
    if (fd < 0 || (received = wait_until_blocked(fd)) < 0)
        return fail("the render did not start");
    snprintf(listing_path, sizeof listing_path, "%s/descriptors.txt", folder);
    snprintf(command, sizeof command, "ls -l /proc/$$/fd > '%s'", listing_path);
    if (system(command) != 0)
        return fail("the child could not list its descriptors");
    received = drain(fd, received, NULL, NULL);
    pthread_join(thread, NULL);
    listing = fopen(listing_path, "r");
    if (listing == NULL)
        return fail("no listing");
    while (fgets(line, sizeof line, listing) != NULL) {
        if (strstr(line, "exec.fifo") != NULL) {
            fprintf(stderr, "the child holds: %s", line);
            found = 1;
        }
    }
    fclose(listing);
    if (found)
        return fail("a child started during the render inherited the WAVE file");
    if (received != file_size)
        return fail("the file is not whole");
    printf("host: a child started during a render inherited none of its files\n");
    return 0;
}

static volatile int printing = 1;
static int closed_fd;

static void *printer_thread(void *unused)
{
    static const char line[] = "HOST LINE\n";
    (void)unused;
    while (printing) {
        if (write(closed_fd, line, sizeof line - 1) < 0)
            sched_yield();
    }
    return NULL;
}

/* A host whose standard output or standard error (`fd`) is closed, and a host thread printing
 * to it all the while: nothing the host prints lands in the file, and the descriptor is still
 * closed after. */
static int test_closed(int fd)
{
    enum { rounds = 6 };
    struct render renders[rounds] = {{{0}}};
    struct fifo fifos[rounds];
    pthread_t printer;
    int found = 0;
    int round;
    /* The FIFOs are opened while the descriptor is still taken: the host's own ends must not
     * land on it. */
    for (round = 0; round < rounds; ++round) {
        char name[32];
        snprintf(name, sizeof name, "closed-%d-%d.fifo", fd, round);
        if (make_fifo(&renders[round], &fifos[round], name) != 0)
            return fail("no FIFO");
    }
    closed_fd = fd;
    if (fd == STDERR_FILENO)
        report = stdout;
    close(fd);
    if (pthread_create(&printer, NULL, printer_thread, NULL) != 0)
        return fail("no printer thread");
    for (round = 0; round < rounds && !found; ++round) {
        pthread_t thread;
        long received;
        keeper = fifos[round].keeper;
        if (pthread_create(&thread, NULL, render_thread, &renders[round]) != 0)
            return fail("no render thread");
        /* A stream that does not start with its header has host lines before it. */
        received = wait_until_blocked(fifos[round].reader);
        found = received < 0;
        received = drain(fifos[round].reader, received, "HOST LINE", &found);
        pthread_join(thread, NULL);
        if (received != file_size && !found)
            return fail("the file is not whole");
    }
    printing = 0;
    pthread_join(printer, NULL);
    if (found)
        return fail("lines the host printed landed in the WAVE file");
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
        return fail("the standard descriptor is no longer closed after the calls");
    fprintf(fd == STDERR_FILENO ? stdout : stderr,
            "host: with descriptor %d closed, no host line reached the file\n", fd);
    return 0;
}

/* Ends without flushing every stream: after a failure the library's stream may still be open
 * and blocked on the FIFO. */
static int finish(int status)
{
    fflush(stdout);
    fflush(stderr);
    _exit(status);
}

int main(int argc, char **argv)
{
    int i;
    report = stderr;
    if (argc != 3) {
        fprintf(stderr, "usage: host_test cancel|exec|closed-stdout|closed-stderr FOLDER\n");
        return 2;
    }
    snprintf(folder, sizeof folder, "%s", argv[2]);
    for (i = 0; i < 1999; ++i)
        text[i] = (char16_t)('a' + i % 26);
    text[1999] = 0;
    if (strcmp(argv[1], "cancel") == 0)
        return finish(test_cancel());
    if (strcmp(argv[1], "exec") == 0)
        return finish(test_exec());
    if (strcmp(argv[1], "closed-stdout") == 0)
        return finish(test_closed(STDOUT_FILENO));
    if (strcmp(argv[1], "closed-stderr") == 0)
        return finish(test_closed(STDERR_FILENO));
    return fail("unknown test");
}
