// Opening a root daemon's file at a fixed name in a world-writable directory.
#pragma once

// Opens the regular file at the absolute path for appending, creating it (mode
// 0666 less the umask) when it is missing, and returns its descriptor
// (close-on-exec), or -1. Symbolic links on the way, in any component and
// chained, are followed only when root owns every one of them: a link another
// user planted in /tmp cannot redirect root's writes. A FIFO, device or
// directory at the end is refused without blocking.
int openTrustedAppend(const char *path);
