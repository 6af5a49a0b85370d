#include "trustedopen.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t trustedOwner = 0;
// The kernel's own limit on links followed in one lookup.
constexpr int maxLinks = 40;

using PathBuffer = std::array<char, PATH_MAX>;

// The walk at "/" is not a descriptor of "/" but names under it, "/tmp" say:
// emulators that map "/" to a target's system root (qemu-user -L) see "/" as
// that directory, yet leave names it does not hold alone.
constexpr int atRoot = AT_FDCWD;

// Closes the descriptor it holds when it goes out of scope.
struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0)
            close(fd);
    }
    void reset(int newFd) {
        if (fd >= 0)
            close(fd);
        fd = newFd;
    }
};

// Replaces the walk's remaining path with the target of the link that was
// checked (a link's target never changes, so the same inode means the same
// target) followed by what was left after the link; an absolute target
// restarts the walk at "/".
int followLink(int dir, const char *name, const struct stat &checked, const char *rest,
               PathBuffer *remaining, FdGuard *walk) {
    PathBuffer target{};
    const ssize_t length = readlinkat(dir, name, target.data(), target.size() - 1);
    struct stat now {};
    if (length <= 0 || fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_ino != checked.st_ino || now.st_dev != checked.st_dev)
        return 0;
    PathBuffer next{};
    const char *fromRoot = dir == atRoot && target[0] != '/' ? "/" : "";
    const int n = snprintf(next.data(), next.size(), "%s%.*s%s%s", fromRoot,
                           static_cast<int>(length), target.data(), *rest != '\0' ? "/" : "", rest);
    if (n < 0 || static_cast<size_t>(n) >= next.size())
        return 0;
    *remaining = next; // name and rest point into it: used up above
    if (target[0] == '/')
        walk->reset(atRoot);
    return 1;
}

// Opens the last component, never through a link (one swapped in since it
// was checked fails here), and accepts only a regular file.
int openLast(int dir, const char *name) {
    const int fd = openat(
        dir, name, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// Walks the path one component at a time from a directory descriptor, so each
// link is examined (lstat) before it is followed and nothing is resolved by
// the kernel behind our back; O_NOFOLLOW on every open makes a link swapped in
// after its check fail instead of being followed.
int openTrustedAppend(const char *path) {
    PathBuffer remaining{};
    const size_t length = path != nullptr ? strlen(path) : 0;
    if (length == 0 || path[0] != '/' || length >= remaining.size())
        return -1;
    memcpy(remaining.data(), path, length + 1);
    FdGuard walk{atRoot};
    int linksFollowed = 0;
    while (walk.fd != -1) {
        // At the root each name keeps the "/" before it.
        char *name = remaining.data() + strspn(remaining.data(), "/");
        char *rest = name + strcspn(name, "/");
        const bool last = rest[strspn(rest, "/")] == '\0';
        if (*name == '\0')
            return -1; // the path names a directory
        if (*rest != '\0')
            *rest++ = '\0';
        if (walk.fd == atRoot)
            name = remaining.data() + (name - remaining.data() - 1);
        struct stat info {};
        if (fstatat(walk.fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
            if (info.st_uid != trustedOwner || ++linksFollowed > maxLinks)
                return -1;
            if (!followLink(walk.fd, name, info, rest, &remaining, &walk))
                return -1;
        } else if (last) {
            return openLast(walk.fd, name);
        } else {
            walk.reset(openat(walk.fd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            memmove(remaining.data(), rest, strlen(rest) + 1);
        }
    }
    return -1;
}
