// An independent model of the key-value format, written from the rules in cfgfile.h rather than
// from the reader's code: what entries a file's bytes must give, in order.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <vector>

// Fails the fuzz run with the condition and the line when a check does not hold.
#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__);                 \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

namespace cfgModel {

struct Entry {
    std::string key;
    std::string value;
};

// The longest line that is kept, its line feed not counted.
constexpr size_t maxLineLength = 16383;

inline bool isWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline std::string_view trim(std::string_view text) {
    while (!text.empty() && isWhitespace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isWhitespace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Appends the entry one line (without its line feed) holds, if any.
inline void parseLine(std::string_view line, std::vector<Entry> &entries) {
    if (line.size() > maxLineLength || line.find('\0') != std::string_view::npos)
        return;
    line = trim(line);
    if (line.empty() || line.front() == '#' || line.front() == '=')
        return;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return;
    const std::string_view key = trim(line.substr(0, equals));
    const std::string_view value = trim(line.substr(equals + 1));
    if (key.empty() || value.empty())
        return;
    entries.push_back({std::string(key), std::string(value)});
}

inline std::vector<Entry> parse(std::string_view bytes) {
    std::vector<Entry> entries;
    size_t start = 0;
    for (size_t lineFeed; (lineFeed = bytes.find('\n', start)) != std::string_view::npos;
         start = lineFeed + 1)
        parseLine(bytes.substr(start, lineFeed - start), entries);
    parseLine(bytes.substr(start), entries);
    return entries;
}

inline const Entry *find(const std::string &key, const std::vector<Entry> &entries) {
    for (const Entry &entry : entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

// A memory file standing in for the file on disk: the library opens it by its
// /proc/self/fd path like any other. Returns the descriptor; aborts on failure.
inline int openMemoryFile(const char *name, char *path, size_t pathSize) {
    const int fd = memfd_create(name, 0);
    if (fd < 0)
        abort();
    snprintf(path, pathSize, "/proc/self/fd/%d", fd);
    return fd;
}

} // namespace cfgModel
