/* Key-value configuration files: a streaming reader into an owned table, and a line writer. */
#include "cfgfile.h"

#include <algorithm>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* A run of entries, followed in the same allocation by size bytes of text. */
struct cfgBlock {
    cfgBlock *older;
    size_t size;
};

/* Each entry is its key and its value, each zero-terminated, side by side in a block the table
 * owns. A separate allocation for every key, value and pair would cost a heap header and alignment
 * padding each, about three times the text of a short setting, and would make parsing and freeing
 * a large file mostly malloc and free. Blocks start small, so that a file of a few entries holds
 * little more than its text, and double up to a size that keeps the unused end of the newest
 * block small next to the whole. */
struct cfgTable {
    int32_t count;
    /* Each entry's key, in file order, with room for the smallest power of two of slots that is at
     * least count: growing by doubling keeps a parse linear without a capacity field. */
    char **entries;
    cfgBlock *newest; /* the block being filled; the older ones are chained behind it */
    size_t used;      /* bytes of the newest block's text taken */
};

struct cfgOutput {
    FILE *stream;
};

/* Longer lines are ignored whole: a fixed limit keeps the working storage bounded. */
static constexpr size_t maxLineLength = 16383;
/* Larger than any kept line, so that every read has room for more bytes. */
static constexpr size_t chunkSize = 32768;

/* Reader */

/* Whether c is one of the four whitespace characters of the format. */
static bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/* Returns the end of [begin, end) with trailing whitespace dropped, never before begin. */
static const char *trimTail(const char *begin, const char *end) {
    while (end > begin && isBlank(end[-1]))
        --end;
    return end;
}

/* Returns the first non-whitespace character of [begin, end), or end when there is none. */
static const char *trimLead(const char *begin, const char *end) {
    while (begin < end && isBlank(*begin))
        ++begin;
    return begin;
}

/* Allocation sizes of blocks, their header included: the first holds a settings file of a few
 * entries whole, the largest wastes little at its end when the file is done. */
static constexpr size_t firstBlockBytes = 256;
static constexpr size_t largestBlockBytes = 8192;

/* The array holds pointers to the entries' text, not the text. */
static constexpr size_t entrySlotSize = sizeof(char *); // NOLINT(bugprone-sizeof-expression)

/* Makes room for one more entry by doubling the slots when they are all used; 0 when memory runs
 * out (the table unchanged). */
static int makeRoom(cfgTable *table) {
    size_t count = static_cast<size_t>(table->count);
    if ((count & (count - 1)) != 0) /* not a power of two (nor 0): a slot is free */
        return 1;
    size_t slots = count ? 2 * count : 1;
    if (table->count == INT32_MAX || slots > SIZE_MAX / entrySlotSize)
        return 0;
    void *grown = realloc(table->entries, slots * entrySlotSize);
    if (!grown)
        return 0;
    table->entries = static_cast<char **>(grown);
    return 1;
}

/* Returns size bytes of text room from the newest block, starting a block twice as large (up to
 * the largest size, at least size) when it lacks them; null when memory runs out (the table
 * unchanged). */
static char *takeText(size_t size, cfgTable *table) {
    cfgBlock *block = table->newest;
    if (!block || block->size - table->used < size) {
        size_t bytes = block ? std::min(2 * (sizeof *block + block->size), largestBlockBytes)
                             : firstBlockBytes;
        bytes = std::max(bytes, sizeof *block + size);
        cfgBlock *fresh = static_cast<cfgBlock *>(malloc(bytes));
        if (!fresh)
            return nullptr;
        fresh->older = block;
        fresh->size = bytes - sizeof *fresh;
        table->newest = block = fresh;
        table->used = 0;
    }
    char *text = reinterpret_cast<char *>(block + 1) + table->used;
    table->used += size;
    return text;
}

/* Copies [begin, end) to `to` with a terminating zero; returns the byte after that zero. */
static char *putText(char *to, const char *begin, const char *end) {
    size_t length = static_cast<size_t>(end - begin);
    memcpy(to, begin, length);
    to[length] = '\0';
    return to + length + 1;
}

/* Appends copies of the key and value as the last entry; when memory runs out nothing is kept. */
static void appendEntry(const char *key, const char *keyEnd, const char *value,
                        const char *valueEnd, cfgTable *table) {
    if (!makeRoom(table))
        return;
    char *entry = takeText(static_cast<size_t>((keyEnd - key) + (valueEnd - value)) + 2, table);
    if (!entry)
        return;
    putText(putText(entry, key, keyEnd), value, valueEnd);
    table->entries[table->count++] = entry;
}

/* Adds the entry held by one line (its line feed excluded), if it holds one. */
static void parseLine(const char *begin, const char *end, cfgTable *table) {
    size_t length = static_cast<size_t>(end - begin);
    if (length > maxLineLength || memchr(begin, '\0', length))
        return;
    end = trimTail(begin, end);
    begin = trimLead(begin, end);
    if (begin == end || *begin == '#' || *begin == '=')
        return;
    const char *equals =
        static_cast<const char *>(memchr(begin, '=', static_cast<size_t>(end - begin)));
    if (!equals)
        return;
    /* The key is not empty: it starts with the line's first, non-blank character. */
    const char *value = trimLead(equals + 1, end);
    if (value != end)
        appendEntry(begin, trimTail(begin, equals), value, end, table);
}

/* Reads into buf, retrying when a signal interrupts: bytes read, 0 at end of file, -1 on error. */
static ssize_t readSome(int fd, char *buf, size_t size) {
    ssize_t got;
    do
        got = read(fd, buf, size);
    while (got < 0 && errno == EINTR);
    return got;
}

/* Parses the file chunk by chunk; a read error ends the parse (a directory fails every read). */
static void parseFile(int fd, cfgTable *table) {
    char chunk[chunkSize];
    size_t kept = 0;       /* bytes of an unfinished line moved to the front of chunk */
    bool skipping = false; /* that line is already too long: drop it up to its line feed */
    for (;;) {
        ssize_t got = readSome(fd, chunk + kept, sizeof chunk - kept);
        if (got < 0)
            return; /* the unfinished line may be incomplete: drop it */
        if (got == 0)
            break;
        const char *line = chunk;
        const char *end = chunk + kept + got;
        const char *lineFeed;
        while ((lineFeed = static_cast<const char *>(
                    memchr(line, '\n', static_cast<size_t>(end - line))))) {
            if (!skipping)
                parseLine(line, lineFeed, table);
            skipping = false;
            line = lineFeed + 1;
        }
        kept = static_cast<size_t>(end - line);
        if (skipping || kept > maxLineLength) {
            skipping = true;
            kept = 0;
        } else {
            memmove(chunk, line, kept);
        }
    }
    parseLine(chunk, chunk + kept, table); /* a last line without line feed (none when skipping) */
}

cfgTable *cfgReader_Ctor(const char *filePath) {
    if (!filePath)
        return nullptr;
    /* Close-on-exec: the daemon reading its settings also starts commands through the shell. */
    int fd = open(filePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    cfgTable *table = static_cast<cfgTable *>(calloc(1, sizeof *table));
    if (table)
        parseFile(fd, table);
    close(fd);
    return table;
}

void cfgReader_Dtor(cfgTable *table) {
    if (!table)
        return;
    for (cfgBlock *block = table->newest; block;) {
        cfgBlock *older = block->older;
        free(block);
        block = older;
    }
    free(table->entries);
    free(table);
}

int cfgReader_EntryCount(const cfgTable *table) {
    return table->count;
}

/* The value of an entry: it follows the key's terminating zero (lines holding a NUL are
 * ignored, so the key has no other). */
static const char *valueOf(const char *entry) {
    return entry + strlen(entry) + 1;
}

/* Stores the size text needs when buf is null; otherwise zero-fills all *size bytes of buf and
 * copies text in. 0 when buf is too small (buf untouched). */
static int copyOut(const char *text, char *buf, uint32_t *size) {
    size_t needed = strlen(text) + 1;
    if (!buf) {
        *size = static_cast<uint32_t>(needed);
        return 1;
    }
    if (*size < needed)
        return 0;
    memset(buf, 0, *size);
    memcpy(buf, text, needed);
    return 1;
}

int cfgReader_EnumEntry(int entryIndex, char *keyBuf, uint32_t *keyLen, char *valueBuf,
                        uint32_t *valueLen, const cfgTable *table) {
    if (!keyLen || !valueLen || entryIndex < 0 || entryIndex >= table->count)
        return 0;
    const char *entry = table->entries[entryIndex];
    return copyOut(entry, keyBuf, keyLen) && copyOut(valueOf(entry), valueBuf, valueLen);
}

/* Returns the first entry with exactly this key, or null. */
static const char *findEntry(const char *key, const cfgTable *table) {
    for (int32_t i = 0; key && i < table->count; ++i)
        if (strcmp(table->entries[i], key) == 0)
            return table->entries[i];
    return nullptr;
}

int cfgReader_HasKey(const char *key, const cfgTable *table) {
    return findEntry(key, table) != nullptr;
}

int cfgReader_ValueSize(const char *key, const cfgTable *table) {
    const char *entry = findEntry(key, table);
    return entry ? static_cast<int>(strlen(valueOf(entry)) + 1) : -1;
}

int cfgReader_GetValue(const char *key, char *buf, uint32_t bufSize, const cfgTable *table) {
    const char *entry = findEntry(key, table);
    return entry && buf && copyOut(valueOf(entry), buf, &bufSize);
}

/* Writer */

cfgOutput *cfgWriter_Ctor(const char *filePath, int appendFlag) {
    if (!filePath)
        return nullptr;
    cfgOutput *output = static_cast<cfgOutput *>(malloc(sizeof *output));
    if (!output)
        return nullptr;
    output->stream = fopen(filePath, appendFlag ? "at" : "wt");
    if (!output->stream) {
        free(output);
        return nullptr;
    }
    return output;
}

int cfgWriter_Dtor(cfgOutput *output) {
    if (!output)
        return 0;
    int written = !ferror(output->stream);
    int flushed = fflush(output->stream) == 0;
    int closed = fclose(output->stream) == 0;
    free(output);
    return written && flushed && closed;
}

/* Whether more lines may go to the handle: it exists and its stream has not failed. */
static bool isWritable(const cfgOutput *output) {
    return output && !ferror(output->stream);
}

/* Whether text exists and fits on one line. */
static bool isOneLine(const char *text) {
    return text && !strpbrk(text, "\r\n");
}

int cfgWriter_AddComment(const char *text, cfgOutput *output) {
    if (!isWritable(output) || !isOneLine(text))
        return 0;
    return fprintf(output->stream, "# %s\n", text) >= 0;
}

int cfgWriter_AddBlank(cfgOutput *output) {
    if (!isWritable(output))
        return 0;
    return fputs("\n", output->stream) != EOF;
}

int cfgWriter_AddEntryInt(const char *key, int value, cfgOutput *output) {
    if (!isWritable(output) || !isOneLine(key))
        return 0;
    return fprintf(output->stream, "%s\t=\t%d\n", key, value) >= 0;
}

int cfgWriter_AddEntryNum(const char *key, float value, cfgOutput *output) {
    if (!isWritable(output) || !isOneLine(key))
        return 0;
    return fprintf(output->stream, "%s\t=\t%f\n", key, static_cast<double>(value)) >= 0;
}

int cfgWriter_AddEntryStr(const char *key, const char *text, cfgOutput *output) {
    if (!isWritable(output) || !isOneLine(key) || !isOneLine(text))
        return 0;
    return fprintf(output->stream, "%s\t=\t%s\n", key, text) >= 0;
}
