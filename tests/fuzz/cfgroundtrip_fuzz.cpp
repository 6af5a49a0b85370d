// Decodes the fuzz input into a sequence of writer operations, then checks that the file holds
// exactly the lines the accepted operations promise, that every text with a line break was
// refused, and that the reader gives back exactly the entries those lines hold by the format's
// rules (see cfgfile.h).
#include "cfgfile_model.h"

#include "cfgfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int fileFd = -1;
char filePath[64];

enum Op { comment, blank, entryInt, entryNum, entryStr, longEntryStr, reopen, opCount };

// What the file must hold so far, and the entries it must read back as.
struct Expected {
    std::string bytes;
    std::vector<cfgModel::Entry> entries;
};

bool hasLineBreak(const std::string &text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// A text as the library sees it: a C string ends at its first NUL.
std::string cText(FuzzedDataProvider &in, size_t maxLength) {
    return in.ConsumeRandomLengthString(maxLength).c_str();
}

// An entry line the writer accepted: its bytes are fixed, and its entry follows the format.
void expectEntry(const std::string &key, const std::string &value, Expected &expected) {
    const std::string line = key + "\t=\t" + value;
    expected.bytes += line + "\n";
    const size_t before = expected.entries.size();
    cfgModel::parseLine(line, expected.entries);
    // The plain case, stated directly: a key without '=' or a leading '#' and a value that is
    // not blank read back trimmed.
    const std::string_view k = cfgModel::trim(key), v = cfgModel::trim(value);
    if (!k.empty() && k.front() != '#' && key.find('=') == std::string::npos && !v.empty() &&
        line.size() <= cfgModel::maxLineLength)
        CHECK(expected.entries.size() == before + 1 && expected.entries.back().key == k &&
              expected.entries.back().value == v);
}

std::string readAll() {
    struct stat st;
    CHECK(fstat(fileFd, &st) == 0);
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    CHECK(pread(fileFd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fileFd = cfgModel::openMemoryFile("cfgroundtrip_fuzz", filePath, sizeof filePath);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    CHECK(ftruncate(fileFd, 0) == 0);
    Expected expected;
    cfgOutput *out = cfgWriter_Ctor(filePath, in.ConsumeBool());
    CHECK(out != nullptr);

    for (int ops = 0; ops < 64 && in.remaining_bytes() > 0; ++ops) {
        switch (in.ConsumeIntegralInRange<int>(0, opCount - 1)) {
        case comment: {
            const std::string text = cText(in, 64);
            const int added = cfgWriter_AddComment(text.c_str(), out);
            CHECK(added == !hasLineBreak(text));
            if (added)
                expected.bytes += "# " + text + "\n";
            break;
        }
        case blank:
            CHECK(cfgWriter_AddBlank(out) == 1);
            expected.bytes += "\n";
            break;
        case entryInt: {
            const std::string key = cText(in, 32);
            const int value = in.ConsumeIntegral<int>();
            const int added = cfgWriter_AddEntryInt(key.c_str(), value, out);
            CHECK(added == !hasLineBreak(key));
            if (added)
                expectEntry(key, std::to_string(value), expected);
            break;
        }
        case entryNum: {
            const std::string key = cText(in, 32);
            const float value = in.ConsumeFloatingPoint<float>();
            const int added = cfgWriter_AddEntryNum(key.c_str(), value, out);
            CHECK(added == !hasLineBreak(key));
            if (added) {
                char text[512];
                snprintf(text, sizeof text, "%f", static_cast<double>(value));
                expectEntry(key, text, expected);
            }
            break;
        }
        case entryStr:
        case longEntryStr: {
            const std::string key = cText(in, 32);
            std::string text = cText(in, 64);
            if (in.ConsumeBool()) { // around the longest line that is kept
                const size_t length = in.ConsumeIntegralInRange<size_t>(16370, 16400);
                const char fill = static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255));
                if (length > key.size() + 3 + text.size())
                    text.append(length - key.size() - 3 - text.size(), fill);
            }
            const int added = cfgWriter_AddEntryStr(key.c_str(), text.c_str(), out);
            CHECK(added == !(hasLineBreak(key) || hasLineBreak(text)));
            if (added)
                expectEntry(key, text, expected);
            break;
        }
        case reopen: {
            CHECK(cfgWriter_Dtor(out) == 1);
            CHECK(readAll() == expected.bytes);
            const bool append = in.ConsumeBool();
            out = cfgWriter_Ctor(filePath, append);
            CHECK(out != nullptr);
            if (!append)
                expected = {};
            break;
        }
        }
    }
    CHECK(cfgWriter_Dtor(out) == 1);
    CHECK(readAll() == expected.bytes);

    cfgTable *table = cfgReader_Ctor(filePath);
    CHECK(table != nullptr);
    CHECK(cfgReader_EntryCount(table) == static_cast<int>(expected.entries.size()));
    for (size_t i = 0; i < expected.entries.size(); ++i) {
        const cfgModel::Entry &entry = expected.entries[i];
        uint32_t keyLen = 0, valueLen = 0;
        CHECK(cfgReader_EnumEntry(static_cast<int>(i), nullptr, &keyLen, nullptr, &valueLen,
                                  table) == 1);
        std::vector<char> key(keyLen), value(valueLen);
        CHECK(cfgReader_EnumEntry(static_cast<int>(i), key.data(), &keyLen, value.data(), &valueLen,
                                  table) == 1);
        CHECK(entry.key == key.data() && entry.value == value.data());
    }
    cfgReader_Dtor(table);
    return 0;
}
