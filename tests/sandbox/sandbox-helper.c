/* The sandbox's compiled half, one binary with two jobs.
 *
 *   sandbox-helper init -- CMD...   PID 1 of the sandbox: runs CMD, reaps
 *                                   every orphan and notes its status.
 *   reboot|systemctl|aplay|...      a recording fake: appends one line to the
 *                                   record file and exits with a chosen status.
 *
 * The fake also notes the descriptors it was started with in /run/sandbox/fds
 * ("<pid> <name> <fd>=<target>..."), so tests see what a command inherited.
 *
 * The fake takes its name from the path the kernel executed (AT_EXECFN), not
 * from argv[0]: programs legitimately exec "pcmdrone" with argv[0] "aplay",
 * and the record must show both. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define REAPED_FILE "/run/sandbox/reaped"
#define DEFAULT_RECORD "/run/sandbox/record"
#define FDS_FILE "/run/sandbox/fds"

static pid_t childPid;

static void appendLine(const char *path, const char *line, size_t len) {
    /* One write() on an O_APPEND descriptor: lines from parallel processes
     * never interleave. */
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, len) != (ssize_t)len)
        perror("sandbox-helper: write");
    close(fd);
}

static int statusCode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 255;
}

static void forwardSignal(int sig) {
    if (childPid > 0)
        kill(childPid, sig);
}

static int runInit(char **cmd) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = forwardSignal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);

    childPid = fork();
    if (childPid < 0) {
        perror("sandbox-helper: fork");
        return 125;
    }
    if (childPid == 0) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        execvp(cmd[0], cmd);
        perror("sandbox-helper: exec");
        _exit(127);
    }
    for (;;) {
        int status;
        pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            perror("sandbox-helper: waitpid");
            return 125;
        }
        /* Leaving PID 1 makes the kernel kill whatever is still running in
         * the namespace, so stray daemons cannot outlive the sandbox. */
        if (pid == childPid)
            return statusCode(status);
        char line[64];
        int n = snprintf(line, sizeof line, "%d %d\n", (int)pid, statusCode(status));
        appendLine(REAPED_FILE, line, (size_t)n);
    }
}

/* Appends src to the line, turning line feeds into "\n" so one call stays one line. */
static char *appendWord(char *out, const char *src) {
    *out++ = ' ';
    for (; *src; src++) {
        if (*src == '\n') {
            *out++ = '\\';
            *out++ = 'n';
        } else {
            *out++ = *src;
        }
    }
    return out;
}

static void fakeWait(const char *name) {
    char var[128];
    snprintf(var, sizeof var, "SANDBOX_FAKE_SLEEP_%s", name);
    const char *value = getenv(var);
    if (value == NULL)
        return;
    double seconds = strtod(value, NULL);
    struct timespec ts = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
    while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
    }
}

/* Before the fake opens anything itself; what does not fit in the line is cut. */
static void noteDescriptors(const char *name) {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == NULL)
        return;
    char line[4096], link[64], target[PATH_MAX];
    size_t n = (size_t)snprintf(line, sizeof line, "%d %s", (int)getpid(), name);
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL && n < sizeof line) {
        const int fd = atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == dirfd(dir))
            continue;
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t len = readlink(link, target, sizeof target - 1);
        target[len < 0 ? 0 : len] = '\0';
        n += (size_t)snprintf(line + n, sizeof line - n, " %d=%s", fd, target);
    }
    closedir(dir);
    n = n < sizeof line - 1 ? n : sizeof line - 2;
    line[n++] = '\n';
    appendLine(FDS_FILE, line, n);
}

static int runFake(const char *name, int argc, char **argv) {
    noteDescriptors(name);
    size_t size = 64 + strlen(name);
    for (int i = 0; i < argc; i++)
        size += 2 * strlen(argv[i]) + 1;
    char *line = malloc(size);
    if (line == NULL)
        return 125;

    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char *out =
        line + sprintf(line, "%lld.%09ld %d", (long long)now.tv_sec, now.tv_nsec, (int)getpid());
    out = appendWord(out, name);
    for (int i = 0; i < argc; i++)
        out = appendWord(out, argv[i]);
    *out++ = '\n';

    const char *record = getenv("SANDBOX_RECORD");
    appendLine(record ? record : DEFAULT_RECORD, line, (size_t)(out - line));
    free(line);

    fakeWait(name);
    char var[128];
    snprintf(var, sizeof var, "SANDBOX_FAKE_STATUS_%s", name);
    const char *status = getenv(var);
    return status ? atoi(status) : 0;
}

int main(int argc, char **argv) {
    const char *path = (const char *)getauxval(AT_EXECFN);
    if (path == NULL || *path == '\0')
        path = argv[0];
    const char *slash = strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;

    if (strcmp(name, "sandbox-helper") == 0) {
        if (argc >= 4 && strcmp(argv[1], "init") == 0 && strcmp(argv[2], "--") == 0)
            return runInit(argv + 3);
        fprintf(stderr, "usage: sandbox-helper init -- COMMAND [ARGS...]\n");
        return 125;
    }
    return runFake(name, argc, argv);
}
