// Writing the configuration files that other software on the device reads.
#pragma once

#include <cstdio>

// First bytes of every generated file that is not in the key-value format.
inline constexpr char generatedFileBanner[] = "# This file is auto generated, DO NOT EDIT!\n\n";

// Flushes and closes stream. 1 only when every earlier write, the flush and the
// close succeeded: stdio's error flag remembers a failed write, so writers need
// not check each call.
int finishStream(FILE *stream);

// Writes the whole content of a file to stream.
using FileFiller = void (*)(FILE *stream);

// Replaces targetPath so that readers, and the device after a crash or a full
// disk, see the complete old or the complete new content, never a mix: fill
// writes ".NAME.new" beside it (exclusive create, no symlink followed, mode
// 0666 less the umask), which is flushed, synced and renamed over the target,
// then the directory is synced. On failure the temporary file is removed, the
// target is untouched and 0 is returned. A missing directory is not created.
int replaceFile(const char *targetPath, FileFiller fill);
