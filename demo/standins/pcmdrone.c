/* Stand-in for the device's audio player, compiled so that it sees the
 * argument 0 it was started with (a script would see its interpreter's).
 *
 *   pcmdrone [aplay options] -f FORMAT FILE
 *
 * Records the call as the sandbox's fakes do, then "plays" FILE in real time
 * into nowhere: it reads one second of samples, reports their format and
 * whether every sample is zero, and goes on reading until it is stopped. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void appendLine(const char *path, const char *line) {
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, strlen(line)) < 0)
        perror("pcmdrone");
    close(fd);
}

static void event(const char *line) {
    const char *path = getenv("DEMO_EVENTS");
    appendLine(path ? path : "/run/demo/events", line);
}

static void recordCall(int argc, char **argv) {
    char line[1024];
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    int n = snprintf(line, sizeof line, "%lld.%09ld %d pcmdrone", (long long)now.tv_sec,
                     now.tv_nsec, (int)getpid());
    for (int i = 0; i < argc && n < (int)sizeof line; i++)
        n += snprintf(line + n, sizeof line - (size_t)n, " %s", argv[i]);
    if (n < (int)sizeof line - 1) {
        strcat(line, "\n");
        const char *record = getenv("SANDBOX_RECORD");
        appendLine(record ? record : "/run/sandbox/record", line);
    }
}

int main(int argc, char **argv) {
    recordCall(argc, argv);
    const char *format = NULL;
    for (int i = 1; i + 1 < argc; i++)
        if (strcmp(argv[i], "-f") == 0)
            format = argv[i + 1];
    /* aplay's "-f cd" means 16-bit little-endian, stereo, 44100 Hz. */
    if (argc < 2 || format == NULL || strcmp(format, "cd") != 0) {
        event("pcmdrone: needs -f cd and a file");
        return 1;
    }
    const char *file = argv[argc - 1];
    int fd = open(file, O_RDONLY);
    if (fd < 0) {
        event("pcmdrone: cannot open the input");
        return 1;
    }

    enum { rate = 44100, channels = 2, bytesPerSample = 2, tenth = rate / 10 };
    static unsigned char buf[tenth * channels * bytesPerSample];
    size_t total = 0, loud = 0;
    for (int pass = 0; pass < 10; pass++) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got <= 0)
            break;
        total += (size_t)got;
        for (ssize_t i = 0; i + 1 < got; i += 2)
            loud += (buf[i] | buf[i + 1] << 8) != 0;
    }
    char line[512];
    snprintf(line, sizeof line,
             "pcmdrone: pid %d, argument 0 \"%s\"; plays %s as 16-bit little-endian stereo at "
             "%d Hz; first second: %zu bytes, %zu samples, %s\n",
             (int)getpid(), argv[0], file, rate, total, total / bytesPerSample,
             total == sizeof buf * 10 && loud == 0 ? "every sample zero (silence)" : "NOT silent");
    event(line);

    /* Keeps consuming the stream at the sound card's pace until stopped. */
    struct timespec pause = {0, 100 * 1000 * 1000};
    while (read(fd, buf, sizeof buf) > 0)
        nanosleep(&pause, NULL);
    return 0;
}
