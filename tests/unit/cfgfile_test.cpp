#include "cfgfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int cfgCApiRoundTrip(const char *path);

/* Allocation faults. The program is linked with --wrap for malloc, calloc, realloc and free, so
 * the reader's calls come here first. While armed, allocations are numbered from 1, the one
 * numbered failAt fails, and the blocks still held are counted. */
extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *pointer, size_t size);
void __real_free(void *pointer);
}

namespace {

struct {
    bool armed;
    unsigned long made;
    unsigned long failAt;
    long held;
} faults;

bool failsNow() {
    return faults.armed && ++faults.made == faults.failAt;
}

void *counted(void *pointer) {
    faults.held += faults.armed && pointer;
    return pointer;
}

} // namespace

extern "C" void *__wrap_malloc(size_t size) {
    return failsNow() ? nullptr : counted(__real_malloc(size));
}
extern "C" void *__wrap_calloc(size_t count, size_t size) {
    return failsNow() ? nullptr : counted(__real_calloc(count, size));
}
extern "C" void *__wrap_realloc(void *pointer, size_t size) {
    if (failsNow())
        return nullptr; /* as malloc does: the old block is kept */
    void *grown = __real_realloc(pointer, size);
    return pointer ? grown : counted(grown);
}
extern "C" void __wrap_free(void *pointer) {
    faults.held -= faults.armed && pointer;
    __real_free(pointer);
}

namespace {

namespace fs = std::filesystem;

const std::string dataDir = TEST_DATA_DIR "/cfg/";

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string escaped(const char *text) {
    std::string out;
    for (; *text; ++text) {
        unsigned char c = static_cast<unsigned char>(*text);
        if (c < 0x20 || c == 0x7f) {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

/* Every entry as "key|value\n" in table order, control characters as \xNN; sizes asked first. */
std::string dump(const cfgTable *table) {
    std::string out;
    for (int i = 0; i < cfgReader_EntryCount(table); ++i) {
        uint32_t keyLen = 0, valueLen = 0;
        EXPECT_EQ(cfgReader_EnumEntry(i, nullptr, &keyLen, nullptr, &valueLen, table), 1);
        std::vector<char> key(keyLen, 'k'), value(valueLen, 'v');
        EXPECT_EQ(cfgReader_EnumEntry(i, key.data(), &keyLen, value.data(), &valueLen, table), 1);
        out += escaped(key.data()) + "|" + escaped(value.data()) + "\n";
    }
    return out;
}

std::string parseAndDump(const std::string &path) {
    cfgTable *table = cfgReader_Ctor(path.c_str());
    if (!table)
        return "(null)";
    std::string out = dump(table);
    cfgReader_Dtor(table);
    return out;
}

class CfgFile : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "cfgfile_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir;
};

/* Reader: the format */

TEST(CfgReader, GoldenFiles) {
    for (const char *name : {"spacing", "comments", "equals", "quotes", "crlf", "nonewline",
                             "blank", "empty", "duplicates"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(parseAndDump(dataDir + name + ".conf"), readFile(dataDir + name + ".expected"));
    }
}

TEST_F(CfgFile, OpenOutcomes) {
    struct Case {
        std::string path;
        bool isNull;
    } cases[] = {
        {dataDir + "empty.conf", false},
        {dataDir + "missing.conf", true},
        {dataDir, false}, /* a directory opens and then fails every read */
        {dir + "no/such/dir.conf", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        cfgTable *table = cfgReader_Ctor(c.path.c_str());
        EXPECT_EQ(table == nullptr, c.isNull);
        EXPECT_EQ(table ? cfgReader_EntryCount(table) : 0, 0);
        cfgReader_Dtor(table);
    }
    EXPECT_EQ(cfgReader_Ctor(nullptr), nullptr);
    cfgReader_Dtor(nullptr);
}

TEST_F(CfgFile, LongAndNulLines) {
    const std::string x16381(16381, 'x');
    struct Case {
        std::string line; /* without its line feed */
        std::string dumped;
    } cases[] = {
        {"a=" + x16381, "a|" + x16381 + "\n"}, /* 16383 characters: kept */
        {"b=" + x16381 + "x", ""},             /* 16384: ignored whole */
        {"c=" + x16381.substr(1) + "\r", "c|" + x16381.substr(1) + "\n"},
        {"d=" + x16381 + "\r", ""}, /* the carriage return counts */
        {"e=" + std::string(100000, 'x'), ""},
        {std::string("f=1\0", 4), ""},
        {std::string("g\0=1", 4), ""},
        {std::string(1, '\0'), ""},
        {"ok=1", "ok|1\n"},
    };
    /* Shifting the lines moves them across the reader's chunk boundaries. */
    for (size_t shift : {0, 1, 7, 4093, 16384}) {
        std::string bytes(shift + 2, '-'), expected; /* a comment line of shift + 1 characters */
        bytes.front() = '#';
        bytes.back() = '\n';
        for (const Case &c : cases) {
            bytes += c.line + "\n";
            expected += c.dumped;
        }
        for (const char *last : {"", "tail=1"}) {
            SCOPED_TRACE(testing::Message() << "shift " << shift << " last '" << last << "'");
            writeFile(dir + "long.conf", bytes + last);
            EXPECT_EQ(parseAndDump(dir + "long.conf"), expected + (*last ? "tail|1\n" : ""));
        }
    }
    /* The same limits hold for a last line without line feed. */
    writeFile(dir + "last.conf", "z=" + x16381);
    EXPECT_EQ(parseAndDump(dir + "last.conf"), "z|" + x16381 + "\n");
    writeFile(dir + "last.conf", "z=x" + x16381);
    EXPECT_EQ(parseAndDump(dir + "last.conf"), "");
}

TEST_F(CfgFile, ManyEntries) {
    const int count = 100000;
    std::string bytes;
    for (int i = 0; i < count; ++i)
        bytes += "key" + std::to_string(i) + " = value" + std::to_string(i) + "\n";
    writeFile(dir + "many.conf", bytes);

    cfgTable *table = cfgReader_Ctor((dir + "many.conf").c_str());
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(cfgReader_EntryCount(table), count);
    char key[16], value[16];
    for (int i = 0; i < count; ++i) {
        uint32_t keyLen = sizeof key, valueLen = sizeof value;
        ASSERT_EQ(cfgReader_EnumEntry(i, key, &keyLen, value, &valueLen, table), 1);
        ASSERT_EQ(key, "key" + std::to_string(i));
        ASSERT_EQ(value, "value" + std::to_string(i));
    }
    EXPECT_EQ(cfgReader_GetValue("key99999", value, sizeof value, table), 1);
    EXPECT_STREQ(value, "value99999");
    cfgReader_Dtor(table);
}

/* Parses path with allocation failAt failing (0: none) and frees the table; returns its dump or
 * "(null)", and in *made the allocations asked for. Everything allocated must be freed. */
std::string parseFailing(const std::string &path, unsigned long failAt, unsigned long *made) {
    faults = {true, 0, failAt, 0};
    cfgTable *table = cfgReader_Ctor(path.c_str());
    faults.armed = false;
    std::string out = table ? dump(table) : "(null)";
    faults.armed = true;
    cfgReader_Dtor(table);
    faults.armed = false;
    EXPECT_EQ(faults.held, 0) << "allocations not freed";
    *made = faults.made;
    return out;
}

TEST_F(CfgFile, AllocationFailureDropsOnlyItsLine) {
    /* Sizes that share a block, fill one, or exceed the largest; ignored lines take nothing. */
    const size_t valueLengths[] = {1, 40, 150, 0, 700, 12000, 3};
    struct Line {
        std::string text, dumped;
    };
    std::vector<Line> lines;
    for (size_t i = 0; i < 42; ++i) {
        const std::string key = std::string("k").append(std::to_string(i));
        const std::string value(valueLengths[i % 7], static_cast<char>('a' + i % 26));
        lines.push_back(value.empty() ? Line{"# " + key, ""}
                                      : Line{key + " = " + value, key + "|" + value + "\n"});
    }
    /* allocationsBefore[k]: what parsing the first k lines asks for, the table included. */
    std::vector<unsigned long> allocationsBefore(lines.size() + 1);
    std::string bytes;
    for (size_t k = 0; k <= lines.size(); ++k) {
        writeFile(dir + "prefix.conf", bytes);
        parseFailing(dir + "prefix.conf", 0, &allocationsBefore[k]);
        if (k < lines.size())
            bytes += lines[k].text + "\n";
    }
    writeFile(dir + "all.conf", bytes);
    /* The n-th allocation belongs to the first line whose prefix asks for n: that line alone is
     * dropped (line 0 is the table: no table at all). */
    for (unsigned long n = 1; n <= allocationsBefore.back(); ++n) {
        SCOPED_TRACE(testing::Message() << "allocation " << n);
        size_t failing = 0;
        while (failing < lines.size() && allocationsBefore[failing] < n)
            ++failing;
        std::string expected;
        for (size_t k = 1; k <= lines.size(); ++k)
            expected += k == failing ? "" : lines[k - 1].dumped;
        unsigned long made = 0;
        EXPECT_EQ(parseFailing(dir + "all.conf", n, &made), failing == 0 ? "(null)" : expected);
        EXPECT_GE(made, n);
    }
}

/* Reader: the queries */

class CfgQuery : public CfgFile {
  protected:
    void SetUp() override {
        CfgFile::SetUp();
        writeFile(dir + "q.conf", "dup = first\nkey = value\ndup = second one\n");
        table = cfgReader_Ctor((dir + "q.conf").c_str());
        ASSERT_NE(table, nullptr);
    }
    void TearDown() override {
        cfgReader_Dtor(table);
        CfgFile::TearDown();
    }
    cfgTable *table = nullptr;
};

TEST_F(CfgQuery, LookupsFindTheFirstExactKey) {
    struct Case {
        const char *key;
        int has;
        int size;
    } cases[] = {
        {"dup", 1, 6}, {"key", 1, 6}, {"Key", 0, -1}, {"ke", 0, -1}, {"key ", 0, -1}, {"", 0, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(cfgReader_HasKey(c.key, table), c.has);
        EXPECT_EQ(cfgReader_ValueSize(c.key, table), c.size);
    }
    char buf[16];
    EXPECT_EQ(cfgReader_GetValue("dup", buf, sizeof buf, table), 1);
    EXPECT_STREQ(buf, "first");
    EXPECT_EQ(cfgReader_GetValue("missing", buf, sizeof buf, table), 0);
}

TEST_F(CfgQuery, GetValueFitsExactlyAndZeroFills) {
    struct Case {
        uint32_t bufSize;
        int result;
        std::string after; /* the 12-byte buffer afterwards */
    } cases[] = {
        {5, 0, "############"}, /* "first" needs 6: buffer untouched */
        {6, 1, std::string("first\0######", 12)},
        {10, 1, std::string("first\0\0\0\0\0##", 12)},
        {0, 0, "############"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bufSize);
        std::string buf(12, '#');
        EXPECT_EQ(cfgReader_GetValue("dup", buf.data(), c.bufSize, table), c.result);
        EXPECT_EQ(buf, c.after);
    }
}

TEST_F(CfgQuery, EnumEntryBounds) {
    char key[8], value[16];
    uint32_t keyLen = sizeof key, valueLen = sizeof value;
    for (int index : {-1, 3, INT32_MIN})
        EXPECT_EQ(cfgReader_EnumEntry(index, key, &keyLen, value, &valueLen, table), 0) << index;
    EXPECT_EQ(cfgReader_EnumEntry(0, key, nullptr, value, &valueLen, table), 0);
    EXPECT_EQ(cfgReader_EnumEntry(0, key, &keyLen, value, nullptr, table), 0);

    /* Sizes: null buffers store length + 1; given buffers leave the sizes alone. */
    keyLen = valueLen = 99;
    EXPECT_EQ(cfgReader_EnumEntry(2, nullptr, &keyLen, nullptr, &valueLen, table), 1);
    EXPECT_EQ(keyLen, 4u);
    EXPECT_EQ(valueLen, 11u);
    keyLen = sizeof key;
    valueLen = sizeof value;
    EXPECT_EQ(cfgReader_EnumEntry(2, key, &keyLen, value, &valueLen, table), 1);
    EXPECT_STREQ(key, "dup");
    EXPECT_STREQ(value, "second one");
    EXPECT_EQ(keyLen, sizeof key);

    /* The key is copied before the value's size check fails. */
    memset(key, '#', sizeof key);
    memset(value, '#', sizeof value);
    valueLen = 10;
    EXPECT_EQ(cfgReader_EnumEntry(2, key, &keyLen, value, &valueLen, table), 0);
    EXPECT_STREQ(key, "dup");
    EXPECT_EQ(value[0], '#');
    keyLen = 3;
    memset(key, '#', sizeof key);
    EXPECT_EQ(cfgReader_EnumEntry(2, key, &keyLen, nullptr, &valueLen, table), 0);
    EXPECT_EQ(key[0], '#');
}

TEST_F(CfgFile, EmptyTableQueries) {
    writeFile(dir + "e.conf", "");
    cfgTable *table = cfgReader_Ctor((dir + "e.conf").c_str());
    ASSERT_NE(table, nullptr);
    char buf[4] = "##";
    uint32_t len = sizeof buf;
    EXPECT_EQ(cfgReader_HasKey("a", table), 0);
    EXPECT_EQ(cfgReader_ValueSize("a", table), -1);
    EXPECT_EQ(cfgReader_GetValue("a", buf, sizeof buf, table), 0);
    EXPECT_EQ(cfgReader_EnumEntry(0, buf, &len, buf, &len, table), 0);
    cfgReader_Dtor(table);
}

/* Writer */

TEST_F(CfgFile, WriterBytesAppendAndTruncate) {
    const std::string path = dir + "w.conf";
    const std::string first = "# note\n\ncount\t=\t3\nratio\t=\t1.500000\nname\t=\tx y\n";
    cfgOutput *output = cfgWriter_Ctor(path.c_str(), 0);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(cfgWriter_AddComment("note", output), 1);
    EXPECT_EQ(cfgWriter_AddBlank(output), 1);
    EXPECT_EQ(cfgWriter_AddEntryInt("count", 3, output), 1);
    EXPECT_EQ(cfgWriter_AddEntryNum("ratio", 1.5f, output), 1);
    EXPECT_EQ(cfgWriter_AddEntryStr("name", "x y", output), 1);
    EXPECT_EQ(cfgWriter_Dtor(output), 1);
    EXPECT_EQ(readFile(path), first);

    output = cfgWriter_Ctor(path.c_str(), 1);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(cfgWriter_AddEntryInt("neg", -7, output), 1);
    EXPECT_EQ(cfgWriter_Dtor(output), 1);
    EXPECT_EQ(readFile(path), first + "neg\t=\t-7\n");

    output = cfgWriter_Ctor(path.c_str(), 0);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(cfgWriter_AddBlank(output), 1);
    EXPECT_EQ(cfgWriter_Dtor(output), 1);
    EXPECT_EQ(readFile(path), "\n");

    EXPECT_EQ(cfgWriter_Ctor((dir + "no/such.conf").c_str(), 0), nullptr);
    EXPECT_EQ(cfgWriter_Ctor(nullptr, 0), nullptr);
    EXPECT_EQ(cfgWriter_Dtor(nullptr), 0);
    EXPECT_EQ(cfgWriter_AddBlank(nullptr), 0);
    EXPECT_EQ(cfgWriter_AddEntryStr("k", "v", nullptr), 0);
}

TEST_F(CfgFile, WriterRoundTrip) {
    const std::string path = dir + "rt.conf";
    cfgOutput *output = cfgWriter_Ctor(path.c_str(), 0);
    ASSERT_NE(output, nullptr);
    cfgWriter_AddComment("key = in a comment", output);
    cfgWriter_AddBlank(output);
    cfgWriter_AddEntryInt("count", 3, output);
    cfgWriter_AddEntryNum("ratio", 1.5f, output);
    cfgWriter_AddEntryStr("empty", "", output);
    cfgWriter_AddEntryStr("spaces", " \t ", output);
    cfgWriter_AddEntryStr("a=b", "v", output);
    cfgWriter_AddEntryStr("ssid", "\"my net\"", output);
    ASSERT_EQ(cfgWriter_Dtor(output), 1);
    EXPECT_EQ(parseAndDump(path), "count|3\nratio|1.500000\na|b\\x09=\\x09v\nssid|\"my net\"\n");
}

TEST_F(CfgFile, WriterRefusesLineBreaks) {
    const std::string path = dir + "lb.conf";
    cfgOutput *output = cfgWriter_Ctor(path.c_str(), 0);
    ASSERT_NE(output, nullptr);
    for (const char *bad : {"a\nb", "a\rb", "\n", "ab\r"}) {
        SCOPED_TRACE(escaped(bad));
        EXPECT_EQ(cfgWriter_AddComment(bad, output), 0);
        EXPECT_EQ(cfgWriter_AddEntryInt(bad, 1, output), 0);
        EXPECT_EQ(cfgWriter_AddEntryNum(bad, 1.0f, output), 0);
        EXPECT_EQ(cfgWriter_AddEntryStr(bad, "v", output), 0);
        EXPECT_EQ(cfgWriter_AddEntryStr("k", bad, output), 0);
    }
    EXPECT_EQ(cfgWriter_AddEntryStr("k", nullptr, output), 0);
    EXPECT_EQ(cfgWriter_Dtor(output), 1); /* refused lines are not write failures */
    EXPECT_EQ(readFile(path), "");
}

TEST(CfgWriter, FailedStreamIsReported) {
    /* Small enough to stay in the stream's buffer: the failure shows at the flush. */
    cfgOutput *output = cfgWriter_Ctor("/dev/full", 0);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(cfgWriter_AddEntryInt("count", 3, output), 1);
    EXPECT_EQ(cfgWriter_Dtor(output), 0);

    /* Once a write has failed, every later add fails too. */
    output = cfgWriter_Ctor("/dev/full", 0);
    ASSERT_NE(output, nullptr);
    int adds = 0;
    while (adds < 100000 && cfgWriter_AddEntryStr("key", "a value of some length", output))
        ++adds;
    EXPECT_LT(adds, 100000);
    EXPECT_EQ(cfgWriter_AddBlank(output), 0);
    EXPECT_EQ(cfgWriter_AddComment("c", output), 0);
    EXPECT_EQ(cfgWriter_AddEntryNum("n", 1.0f, output), 0);
    EXPECT_EQ(cfgWriter_Dtor(output), 0);
}

TEST_F(CfgFile, HeaderWorksFromC) {
    EXPECT_EQ(cfgCApiRoundTrip((dir + "c.conf").c_str()), 1);
}

} // namespace
