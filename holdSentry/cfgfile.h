/* Key-value configuration files: the device's settings format, read and written.
 *
 * Format: one entry per line, "key = value". Whitespace is space, tab, CR and LF
 * only; lines are trimmed at both ends. Empty lines, lines starting with '#',
 * lines starting with '=', lines without '=', and lines whose key or value is
 * empty after trimming are ignored. The key ends at the first '='; later '='
 * belong to the value. No quoting, escaping or sections: quotes are kept as
 * written. Keys are case-sensitive and may repeat; lookups find the first.
 * A line of more than 16383 characters (line feed not counted), or one that
 * holds a NUL byte, is ignored whole.
 *
 * Results: 1 for success or yes, 0 for failure or no, unless stated. Handles are
 * passed last. Tables hand out copies, never pointers into themselves.
 * Usable from C and C++.
 */
#ifndef CFGFILE_H
#define CFGFILE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct cfgTable cfgTable;
typedef struct cfgOutput cfgOutput;

/* Reader. Every query but cfgReader_Dtor needs a non-null table. */

/* Parses filePath. Null when it cannot be opened or memory runs out for the
 * table itself; a file without entries gives an empty table. A read error
 * ends the parse and the table keeps the entries read so far (a directory
 * opens but fails every read: an empty table). A line that memory runs out
 * for is dropped. */
cfgTable *cfgReader_Ctor(const char *filePath);
/* Frees the table and all it owns; null is ignored. */
void cfgReader_Dtor(cfgTable *table);
int cfgReader_EntryCount(const cfgTable *table);
/* Entry by position. *keyLen and *valueLen are buffer sizes. With a null
 * buffer the size needed (length + 1) is stored instead; with a buffer of at
 * least that size, the whole *len bytes are zero-filled and the text copied
 * (*len unchanged); a smaller buffer gives 0. The key is handled before the
 * value. 0 also for null size pointers or an index outside 0..count-1. */
int cfgReader_EnumEntry(int entryIndex, char *keyBuf, uint32_t *keyLen, char *valueBuf,
                        uint32_t *valueLen, const cfgTable *table);
int cfgReader_HasKey(const char *key, const cfgTable *table);
/* Length + 1 of the first matching value, or -1 when the key is absent. */
int cfgReader_ValueSize(const char *key, const cfgTable *table);
/* Copies the first matching value into buf, zero-filling all bufSize bytes.
 * 0 when the key is absent or the value and its terminating zero do not fit
 * (buf untouched). */
int cfgReader_GetValue(const char *key, char *buf, uint32_t bufSize, const cfgTable *table);

/* Writer. Lines go through a buffered stream; entries are "key\t=\tvalue\n". */

/* Opens filePath for appending (appendFlag non-zero) or creates/truncates it.
 * Null when it cannot be opened. */
cfgOutput *cfgWriter_Ctor(const char *filePath, int appendFlag);
/* Flushes and closes the stream and frees the handle, whatever happened.
 * 1 only when every write, the flush and the close succeeded. Null gives 0. */
int cfgWriter_Dtor(cfgOutput *output);
/* The add operations write nothing and return 0 when a text holds a line
 * break (it would read back as lines the caller never wrote), a text or the
 * handle is null, or the stream has already failed. They also return 0 when
 * the write itself fails; buffering may delay that to a later add or to
 * cfgWriter_Dtor. */
int cfgWriter_AddComment(const char *text, cfgOutput *output); /* "# text\n" */
int cfgWriter_AddBlank(cfgOutput *output);                     /* "\n" */
int cfgWriter_AddEntryInt(const char *key, int value, cfgOutput *output);
int cfgWriter_AddEntryNum(const char *key, float value, cfgOutput *output); /* "%f" */
int cfgWriter_AddEntryStr(const char *key, const char *text, cfgOutput *output);

#ifdef __cplusplus
}
#endif

#endif
