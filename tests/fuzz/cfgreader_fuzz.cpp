// Feeds arbitrary bytes to the key-value reader as a file and checks every query of the
// resulting table against an independent model of the format (see cfgfile.h).
#include "cfgfile_model.h"

#include "cfgfile.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

int inputFd = -1;
char inputPath[64];

// Caller buffers are allocated with exactly the size the reader is told, so that AddressSanitizer
// catches a write one byte past it.
struct ExactBuffer {
    explicit ExactBuffer(size_t size)
        : size(size), data(static_cast<char *>(malloc(size + !size))) {
        memset(data, 0x5a, size);
    }
    ~ExactBuffer() { free(data); }
    ExactBuffer(const ExactBuffer &) = delete;
    ExactBuffer &operator=(const ExactBuffer &) = delete;
    bool untouched() const {
        for (size_t i = 0; i < size; ++i)
            if (data[i] != 0x5a)
                return false;
        return true;
    }
    // The text, then zeros up to the end: the reader zero-fills the whole buffer.
    bool holds(const std::string &text) const {
        if (size < text.size() + 1 || memcmp(data, text.c_str(), text.size() + 1) != 0)
            return false;
        for (size_t i = text.size(); i < size; ++i)
            if (data[i] != 0)
                return false;
        return true;
    }
    size_t size;
    char *data;
};

uint32_t u32(size_t n) {
    return static_cast<uint32_t>(n);
}

void checkEnumEntry(int index, const cfgModel::Entry &entry, const cfgTable *table) {
    // Sizes first, as callers do.
    uint32_t keyLen = 7, valueLen = 7;
    CHECK(cfgReader_EnumEntry(index, nullptr, &keyLen, nullptr, &valueLen, table) == 1);
    CHECK(keyLen == entry.key.size() + 1 && valueLen == entry.value.size() + 1);

    // Exact sizes, and one byte more: the whole buffer is zero-filled, the size left alone.
    for (size_t extra : {0, 1}) {
        ExactBuffer key(keyLen + extra), value(valueLen + extra);
        uint32_t kl = u32(key.size), vl = u32(value.size);
        CHECK(cfgReader_EnumEntry(index, key.data, &kl, value.data, &vl, table) == 1);
        CHECK(kl == key.size && vl == value.size);
        CHECK(key.holds(entry.key) && value.holds(entry.value));
    }

    // One byte short for the key: refused, value untouched.
    {
        ExactBuffer key(keyLen - 1), value(valueLen);
        uint32_t kl = u32(key.size), vl = u32(value.size);
        CHECK(cfgReader_EnumEntry(index, key.data, &kl, value.data, &vl, table) == 0);
        CHECK(key.untouched() && value.untouched());
    }
    // One byte short for the value: refused, but the key is already copied.
    {
        ExactBuffer key(keyLen), value(valueLen - 1);
        uint32_t kl = u32(key.size), vl = u32(value.size);
        CHECK(cfgReader_EnumEntry(index, key.data, &kl, value.data, &vl, table) == 0);
        CHECK(key.holds(entry.key) && value.untouched());
    }
    // A null size pointer is refused.
    CHECK(cfgReader_EnumEntry(index, nullptr, nullptr, nullptr, &valueLen, table) == 0);
    CHECK(cfgReader_EnumEntry(index, nullptr, &keyLen, nullptr, nullptr, table) == 0);
}

// Lookup of a key that may or may not be in the table; the model says which.
void checkLookup(const std::string &key, const std::vector<cfgModel::Entry> &entries,
                 const cfgTable *table) {
    if (key.find('\0') != std::string::npos)
        return; // not expressible as a C string
    const cfgModel::Entry *first = cfgModel::find(key, entries);
    if (!first) {
        CHECK(cfgReader_HasKey(key.c_str(), table) == 0);
        CHECK(cfgReader_ValueSize(key.c_str(), table) == -1);
        ExactBuffer buf(64);
        CHECK(cfgReader_GetValue(key.c_str(), buf.data, u32(buf.size), table) == 0);
        CHECK(buf.untouched());
        return;
    }
    const size_t size = first->value.size() + 1;
    CHECK(cfgReader_HasKey(key.c_str(), table) == 1);
    CHECK(cfgReader_ValueSize(key.c_str(), table) == static_cast<int>(size));
    for (size_t extra : {0, 1, 64}) {
        ExactBuffer buf(size + extra);
        CHECK(cfgReader_GetValue(key.c_str(), buf.data, u32(buf.size), table) == 1);
        CHECK(buf.holds(first->value));
    }
    ExactBuffer shortBuf(size - 1);
    CHECK(cfgReader_GetValue(key.c_str(), shortBuf.data, u32(shortBuf.size), table) == 0);
    CHECK(shortBuf.untouched());
    CHECK(cfgReader_GetValue(key.c_str(), nullptr, 0, table) == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    inputFd = cfgModel::openMemoryFile("cfgreader_fuzz", inputPath, sizeof inputPath);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (ftruncate(inputFd, 0) != 0 || pwrite(inputFd, data, size, 0) != static_cast<ssize_t>(size))
        abort();
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::vector<cfgModel::Entry> expected = cfgModel::parse(bytes);

    cfgTable *table = cfgReader_Ctor(inputPath);
    CHECK(table != nullptr);
    const int count = cfgReader_EntryCount(table);
    CHECK(count == static_cast<int>(expected.size()));

    for (int i = 0; i < count; ++i)
        checkEnumEntry(i, expected[static_cast<size_t>(i)], table);
    for (int index : {-1, INT_MIN, count, count + 1, INT_MAX}) {
        uint32_t keyLen = 0, valueLen = 0;
        CHECK(cfgReader_EnumEntry(index, nullptr, &keyLen, nullptr, &valueLen, table) == 0);
    }

    // Present keys, and near misses of each: longer, shorter, other case, padded. Lookups are
    // linear, so a file of many entries has only its first ones and its last one looked up.
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i >= 8 && i + 1 != expected.size())
            continue;
        const cfgModel::Entry &entry = expected[i];
        checkLookup(entry.key, expected, table);
        checkLookup(entry.key + "x", expected, table);
        checkLookup(entry.key.substr(0, entry.key.size() - 1), expected, table);
        checkLookup(" " + entry.key, expected, table);
        std::string flipped = entry.key;
        flipped[0] = static_cast<char>(flipped[0] ^ 0x20);
        checkLookup(flipped, expected, table);
    }
    checkLookup("", expected, table);
    checkLookup("hw_device_name", expected, table);

    cfgReader_Dtor(table);
    return 0;
}
