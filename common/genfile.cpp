#include "genfile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int finishStream(FILE *stream) {
    const bool written = fflush(stream) == 0 && ferror(stream) == 0;
    const bool closed = fclose(stream) == 0;
    return written && closed ? 1 : 0;
}

// The temporary's name is fixed (".NAME.new" beside the target), so a crash
// leaves at most one leftover per target and the next replacement clears it.
static int tempPathFor(const char *targetPath, char *tempPath, size_t tempSize) {
    const char *slash = strrchr(targetPath, '/');
    const int dirLength = slash != nullptr ? static_cast<int>(slash - targetPath + 1) : 0;
    const char *name = targetPath + dirLength;
    const int n = snprintf(tempPath, tempSize, "%.*s.%s.new", dirLength, targetPath, name);
    return n > 0 && static_cast<size_t>(n) < tempSize && *name != '\0' ? 1 : 0;
}

// The rename is durable only once the directory entry itself reaches storage.
static int syncDirectoryOf(const char *targetPath) {
    char dirPath[PATH_MAX];
    const char *slash = strrchr(targetPath, '/');
    if (slash == nullptr) {
        strcpy(dirPath, ".");
    } else {
        const size_t length = slash == targetPath ? 1 : static_cast<size_t>(slash - targetPath);
        if (length >= sizeof dirPath)
            return 0;
        memcpy(dirPath, targetPath, length);
        dirPath[length] = '\0';
    }
    const int fd = open(dirPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced ? 1 : 0;
}

// Writes the temporary file completely and makes it durable.
static int writeTemp(const char *tempPath, FileFiller fill) {
    // O_EXCL and O_NOFOLLOW: a link planted under the fixed name cannot redirect
    // a root-owned write elsewhere.
    const int fd = open(tempPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return 0;
    FILE *stream = fdopen(fd, "w");
    if (stream == nullptr) {
        close(fd);
        return 0;
    }
    fill(stream);
    const bool synced = fflush(stream) == 0 && fsync(fd) == 0;
    return finishStream(stream) && synced ? 1 : 0;
}

int replaceFile(const char *targetPath, FileFiller fill) {
    char tempPath[PATH_MAX];
    if (!tempPathFor(targetPath, tempPath, sizeof tempPath))
        return 0;
    unlink(tempPath); // a leftover of an interrupted replacement
    if (!writeTemp(tempPath, fill) || rename(tempPath, targetPath) != 0) {
        const int savedErrno = errno;
        unlink(tempPath);
        errno = savedErrno;
        return 0;
    }
    return syncDirectoryOf(targetPath);
}
