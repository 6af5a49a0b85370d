// logreplay: lists a dm-log-writes log and replays a prefix of it onto a copy
// of the device it recorded, to see that device as a power cut would leave it.
//
//   logreplay list LOG                 every entry: index flags sector sectors [mark]
//   logreplay points LOG               the FLUSH and FUA entries and the marks, same columns
//   logreplay replay LOG COPY N        writes entries 0..N into COPY
//   logreplay replay LOG COPY -m MARK  writes the entries up to the first mark MARK
// Exit status: 0 done, 1 bad log, entry out of range or I/O error (COPY untouched
// unless the error is an I/O error while writing), 2 usage.
// Sectors are the recorded device's logical sectors (the log's sector size).
//
// Build: g++ -std=c++20 -O2 -Wall -Wextra -Wconversion -Werror
//            -o build/logreplay tests/vm/logreplay/logreplay.cpp
// In CMake: add_executable(logreplay logreplay/logreplay.cpp), a host tool that
// the vm scenarios run; it is not shipped.
//
// Why a prefix of the log is the state after a power cut: the kernel logs a
// plain write only when a later flush has completed, just before that flush;
// a FUA write when it completes; a mark when it is asked for. The log is thus
// the order in which data became durable, and entries 0..N are what the device
// holds for certain after entry N. At a FLUSH or FUA entry that is exactly what
// the file system has been promised; writes still in the cache then come later
// in the log and are all lost in this model, the worst case a file system must
// survive (a cache that keeps some of them in another order is not modelled).
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/types.h>
#include <unistd.h>

namespace {

// Layout of drivers/md/dm-log-writes.c: a super in the first sector, then per
// entry one sector (the header, and a mark's text after it) and its data.
constexpr uint64_t logMagic = 0x6a736677736872ULL;
constexpr uint64_t logVersion = 1;
constexpr uint64_t flagFlush = 1U << 0, flagFua = 1U << 1, flagDiscard = 1U << 2;
constexpr uint64_t flagMark = 1U << 3, knownFlags = 0x1f; // and 1 << 4: METADATA
// Both start with 64-bit fields: super {magic, version, nr_entries} then a
// 32-bit sector size; entry {sector, nr_sectors, flags, data_len}.
constexpr size_t fieldSize = 8, superSize = 3 * fieldSize + 4, headerSize = 4 * fieldSize;
enum { fieldSector, fieldSectors, fieldFlags, fieldTextLen };
constexpr uint32_t minSectorSize = 512, maxSectorSize = 4096;
constexpr size_t copyChunk = 1 << 20;

struct Log {
    const char *path;
    int fd;
    uint64_t size, count;
    uint32_t sectorSize;
};

struct Entry {
    uint64_t index, sector, sectors, flags, dataAt, next;
    char mark[maxSectorSize];
};

// The log is little-endian whatever the machine that reads it.
uint64_t le(const unsigned char *p, size_t bytes) {
    uint64_t v = 0;
    while (bytes > 0)
        v = v << CHAR_BIT | p[--bytes];
    return v;
}

uint64_t field(const unsigned char *p, size_t index) {
    return le(p + index * fieldSize, fieldSize);
}

int fail(const char *path, uint64_t index, const char *what) {
    fprintf(stderr, "logreplay: %s: entry %" PRIu64 ": %s\n", path, index, what);
    return 0;
}

// Reads or writes exactly len bytes at off: a short file is an error like any other.
int transfer(int fd, unsigned char *p, size_t len, uint64_t off, int write) {
    while (len > 0) {
        const ssize_t n = write ? pwrite(fd, p, len, static_cast<off_t>(off))
                                : pread(fd, p, len, static_cast<off_t>(off));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n, len -= static_cast<size_t>(n), off += static_cast<uint64_t>(n);
    }
    return 1;
}

int openLog(const char *path, Log *log) {
    log->path = path;
    log->fd = open(path, O_RDONLY | O_CLOEXEC);
    const off_t end = log->fd < 0 ? -1 : lseek(log->fd, 0, SEEK_END);
    unsigned char super[superSize];
    if (end < 0 || !transfer(log->fd, super, sizeof super, 0, 0)) {
        fprintf(stderr, "logreplay: %s: cannot read the log's super: %s\n", path,
                end < 0 ? strerror(errno) : "too short");
        return 0;
    }
    log->size = static_cast<uint64_t>(end);
    log->count = field(super, 2);
    log->sectorSize = static_cast<uint32_t>(le(super + 3 * fieldSize, 4));
    const uint32_t ss = log->sectorSize;
    const char *bad = field(super, 0) != logMagic     ? "bad magic"
                      : field(super, 1) != logVersion ? "unknown version"
                      : ss < minSectorSize || ss > maxSectorSize || (ss & (ss - 1)) != 0
                          ? "unsupported sector size"
                          : nullptr;
    if (bad != nullptr)
        fprintf(stderr, "logreplay: %s: %s\n", path, bad);
    return bad == nullptr;
}

// Reads the entry whose header is at off and checks that it lies in the log.
int readEntry(const Log *log, uint64_t index, uint64_t off, Entry *e) {
    const uint64_t ss = log->sectorSize;
    unsigned char sector[maxSectorSize];
    if (off > log->size || log->size - off < ss || !transfer(log->fd, sector, ss, off, 0))
        return fail(log->path, index, "log truncated");
    e->index = index;
    e->sector = field(sector, fieldSector);
    e->sectors = field(sector, fieldSectors);
    e->flags = field(sector, fieldFlags);
    const uint64_t textLen = field(sector, fieldTextLen);
    e->dataAt = off + ss;
    e->mark[0] = '\0';
    if ((e->flags & ~knownFlags) != 0)
        return fail(log->path, index, "unknown flags");
    if ((e->flags & flagMark) != 0) {
        if (textLen >= ss - headerSize)
            return fail(log->path, index, "mark text too long");
        memcpy(e->mark, sector + headerSize, textLen);
        e->mark[textLen] = '\0';
    } else if (textLen != 0) {
        return fail(log->path, index, "inline data is not supported");
    }
    // A discard names a range but carries no data.
    const uint64_t dataLen = (e->flags & flagDiscard) != 0 ? 0 : e->sectors;
    if (dataLen > (log->size - e->dataAt) / ss)
        return fail(log->path, index, "log truncated");
    e->next = e->dataAt + dataLen * ss;
    return 1;
}

void printEntry(const Entry *e) {
    static const char *const names[] = {"FLUSH", "FUA", "DISCARD", "MARK", "METADATA"};
    printf("%" PRIu64 " ", e->index);
    const char *separator = "";
    for (size_t bit = 0; bit < std::size(names); bit++) {
        if ((e->flags >> bit & 1U) != 0)
            printf("%s%s", separator, names[bit]), separator = ",";
    }
    printf("%s %" PRIu64 " %" PRIu64, *separator == '\0' ? "-" : "", e->sector, e->sectors);
    if ((e->flags & flagMark) != 0) {
        // One line per entry whatever the mark holds.
        putchar(' ');
        for (const char *c = e->mark; *c != '\0'; c++)
            putchar(*c >= ' ' && *c <= '~' ? *c : '?');
    }
    putchar('\n');
}

int list(const Log *log, int pointsOnly) {
    Entry e{};
    e.next = log->sectorSize;
    for (uint64_t i = 0; i < log->count; i++) {
        if (!readEntry(log, i, e.next, &e))
            return 0;
        if (!pointsOnly || (e.flags & (flagFlush | flagFua | flagMark)) != 0)
            printEntry(&e);
    }
    return fflush(stdout) == 0 && ferror(stdout) == 0;
}

// Applies one entry at its place in the copy; a discarded range reads as zeros.
int applyEntry(const Log *log, const Entry *e, int copyFd) {
    static unsigned char buf[copyChunk];
    const uint64_t ss = log->sectorSize;
    uint64_t len = e->sectors * ss;
    uint64_t to = e->sector * ss;
    uint64_t from = e->dataAt;
    const int discard = (e->flags & flagDiscard) != 0;
    if (discard && len > 0)
        memset(buf, 0, sizeof buf);
    while (len > 0) {
        const size_t n = len < sizeof buf ? static_cast<size_t>(len) : sizeof buf;
        if (!discard && !transfer(log->fd, buf, n, from, 0))
            return fail(log->path, e->index, "cannot read data");
        if (!transfer(copyFd, buf, n, to, 1))
            return fail(log->path, e->index, "cannot write the copy");
        len -= n, to += n, from += n;
    }
    return 1;
}

// Walks the entries up to *last, or to the first mark named mark when there is
// one, checking that each lies in the log and in the copy; writes them only when
// apply is set, so that a bad log leaves the copy untouched. Sets *last.
int replay(const Log *log, int copyFd, uint64_t copySize, const char *mark, uint64_t *last,
           int apply) {
    Entry e{};
    e.next = log->sectorSize;
    const uint64_t copySectors = copySize / log->sectorSize;
    for (uint64_t i = 0; i < log->count; i++) {
        if (!readEntry(log, i, e.next, &e))
            return 0;
        if (e.sectors > copySectors || e.sector > copySectors - e.sectors)
            return fail(log->path, i, "writes past the end of the copy");
        if (apply && !applyEntry(log, &e, copyFd))
            return 0;
        const int stop =
            mark != nullptr ? (e.flags & flagMark) != 0 && strcmp(e.mark, mark) == 0 : i == *last;
        if (stop) {
            *last = i;
            return 1;
        }
    }
    if (mark != nullptr)
        fprintf(stderr, "logreplay: %s: no mark '%s'\n", log->path, mark);
    return mark != nullptr ? 0 : fail(log->path, *last, "no such entry");
}

// Replays to entry number target, or to the mark when there is one.
int replayCommand(const Log *log, const char *copyPath, const char *target, const char *mark) {
    constexpr int decimal = 10;
    uint64_t last = 0;
    char *end = nullptr;
    errno = 0;
    if (mark == nullptr)
        last = strtoull(target, &end, decimal);
    if (mark == nullptr && (errno != 0 || end == target || *end != '\0' || target[0] == '-')) {
        fprintf(stderr, "logreplay: bad entry number '%s'\n", target);
        return 0;
    }
    const int fd = open(copyPath, O_RDWR | O_CLOEXEC);
    const off_t size = fd < 0 ? -1 : lseek(fd, 0, SEEK_END);
    if (size < 0) {
        fprintf(stderr, "logreplay: %s: %s\n", copyPath, strerror(errno));
        return 0;
    }
    const auto copySize = static_cast<uint64_t>(size);
    const int ok =
        replay(log, fd, copySize, mark, &last, 0) && replay(log, fd, copySize, nullptr, &last, 1);
    return close(fd) == 0 && ok;
}

} // namespace

int main(int argc, char *argv[]) {
    enum { argLog = 2, argCopy, argTarget, argMark }; // argv of "replay LOG COPY -m MARK"
    const char *cmd = argc > 1 ? argv[1] : "";
    const int listing = (strcmp(cmd, "list") == 0 || strcmp(cmd, "points") == 0) && argc == argCopy;
    const int byMark = argc == argMark + 1 && strcmp(argv[argTarget], "-m") == 0;
    const int replaying = strcmp(cmd, "replay") == 0 && (argc == argMark || byMark);
    if (!listing && !replaying) {
        fputs("usage: logreplay list|points LOG\n"
              "       logreplay replay LOG COPY N|-m MARK\n",
              stderr);
        return 2;
    }
    Log log{};
    if (!openLog(argv[argLog], &log))
        return 1;
    const int ok = listing ? list(&log, strcmp(cmd, "points") == 0)
                           : replayCommand(&log, argv[argCopy], argv[argTarget],
                                           byMark ? argv[argMark] : nullptr);
    close(log.fd);
    return ok ? 0 : 1;
}
