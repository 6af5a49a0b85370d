// Parse time and memory of the key-value reader, next to inih storing every entry
// and a plain read of the same file (the floor). Not product code: it may use
// anything. Files are generated once into the directory given first on the
// command line and read warm from the page cache.
//
//   cfgfile_bench DIR [benchmark options]     timings (Google Benchmark)
//   cfgfile_bench DIR --memory                per size and parser: heap bytes
//                                             held and allocations made
//   cfgfile_bench DIR --peak-rss PARSER N     peak RSS (KiB) of a process that
//                                             parses the N-entry file once
#include "cfgfile.h"

#include <benchmark/benchmark.h>
#include <ini.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <new>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

// Allocation counting. The program is linked with --wrap for the malloc family,
// so every call from this program and from the statically linked reader comes
// here first; operator new below allocates through the same counter.
extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *pointer, size_t size);
void *__wrap_malloc(size_t size);
void *__wrap_calloc(size_t count, size_t size);
void *__wrap_realloc(void *pointer, size_t size);
}

namespace {
unsigned long allocationCount = 0;
}

void *__wrap_malloc(size_t size) {
    ++allocationCount;
    return __real_malloc(size);
}
void *__wrap_calloc(size_t count, size_t size) {
    ++allocationCount;
    return __real_calloc(count, size);
}
void *__wrap_realloc(void *pointer, size_t size) {
    ++allocationCount;
    return __real_realloc(pointer, size);
}

void *operator new(size_t size) {
    if (void *pointer = malloc(size ? size : 1))
        return pointer;
    throw std::bad_alloc();
}
void operator delete(void *pointer) noexcept {
    free(pointer);
}
void operator delete(void *pointer, size_t) noexcept {
    free(pointer);
}

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

const std::vector<long> sizes = {1000, 10000, 100000, 1000000};
std::string dataDir;

std::string pathFor(long entries) {
    return dataDir + "/entries-" + std::to_string(entries) + ".conf";
}

// 40-byte lines: "key_0000001 = value_0000001_abcdefghijk\n".
void generate(long entries) {
    const std::string path = pathFor(entries);
    if (access(path.c_str(), R_OK) == 0)
        return;
    const std::string temp = path + ".tmp";
    FILE *out = fopen(temp.c_str(), "w");
    if (!out) {
        perror(temp.c_str());
        exit(1);
    }
    for (long i = 0; i < entries; ++i)
        fprintf(out, "key_%07ld = value_%07ld_abcdefghijk\n", i, i);
    if (fclose(out) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        perror(path.c_str());
        exit(1);
    }
}

int storeEntry(void *user, const char *, const char *name, const char *value) {
    static_cast<Entries *>(user)->emplace_back(name, value);
    return 1;
}

// Reads the whole file and throws the bytes away: what any parser must pay.
long readWhole(const char *path) {
    static char buffer[65536];
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    long total = 0;
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        total += got;
    close(fd);
    return total;
}

// The machine is shared: time what this thread spends on a CPU (user and
// kernel, page faults and reads included), not the wall clock, so that other
// processes' load adds as little as possible.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double secondsSince(double start) {
    return threadSeconds() - start;
}

void checkCount(benchmark::State &state, long got) {
    if (got != state.range(0))
        state.SkipWithError("wrong number of entries");
}

// Parse only: freeing the table is timed separately below.
void cfgReaderParse(benchmark::State &state) {
    const std::string path = pathFor(state.range(0));
    for (auto _ : state) {
        const double start = threadSeconds();
        cfgTable *table = cfgReader_Ctor(path.c_str());
        benchmark::DoNotOptimize(table);
        state.SetIterationTime(secondsSince(start));
        checkCount(state, cfgReader_EntryCount(table));
        cfgReader_Dtor(table);
    }
}

void cfgReaderFree(benchmark::State &state) {
    const std::string path = pathFor(state.range(0));
    for (auto _ : state) {
        cfgTable *table = cfgReader_Ctor(path.c_str());
        const double start = threadSeconds();
        cfgReader_Dtor(table);
        benchmark::ClobberMemory();
        state.SetIterationTime(secondsSince(start));
    }
}

void inihParse(benchmark::State &state) {
    const std::string path = pathFor(state.range(0));
    for (auto _ : state) {
        Entries entries;
        const double start = threadSeconds();
        const int result = ini_parse(path.c_str(), storeEntry, &entries);
        benchmark::DoNotOptimize(entries.data());
        state.SetIterationTime(secondsSince(start));
        if (result != 0)
            state.SkipWithError("ini_parse failed");
        checkCount(state, static_cast<long>(entries.size()));
    }
}

// inih with a handler that only counts: its own parsing cost, without storage.
int countEntry(void *user, const char *, const char *, const char *) {
    ++*static_cast<long *>(user);
    return 1;
}

void inihCount(benchmark::State &state) {
    const std::string path = pathFor(state.range(0));
    for (auto _ : state) {
        long count = 0;
        const double start = threadSeconds();
        const int result = ini_parse(path.c_str(), countEntry, &count);
        benchmark::DoNotOptimize(count);
        state.SetIterationTime(secondsSince(start));
        if (result != 0)
            state.SkipWithError("ini_parse failed");
        checkCount(state, count);
    }
}

void inihFree(benchmark::State &state) {
    const std::string path = pathFor(state.range(0));
    for (auto _ : state) {
        auto *entries = new Entries;
        ini_parse(path.c_str(), storeEntry, entries);
        const double start = threadSeconds();
        delete entries;
        benchmark::ClobberMemory();
        state.SetIterationTime(secondsSince(start));
    }
}

void plainRead(benchmark::State &state) {
    const std::string path = pathFor(state.range(0));
    for (auto _ : state) {
        const double start = threadSeconds();
        benchmark::DoNotOptimize(readWhole(path.c_str()));
        state.SetIterationTime(secondsSince(start));
    }
}

void registerAll() {
    using Function = void (*)(benchmark::State &);
    const std::pair<const char *, Function> all[] = {
        {"cfgReader_parse", cfgReaderParse},
        {"cfgReader_free", cfgReaderFree},
        {"inih_parse", inihParse},
        {"inih_count", inihCount},
        {"inih_free", inihFree},
        {"plain_read", plainRead},
    };
    for (const auto &[name, function] : all)
        for (long entries : sizes) {
            auto *run = benchmark::RegisterBenchmark(name, function)
                            ->Arg(entries)
                            ->UseManualTime()
                            ->Unit(benchmark::kMicrosecond);
            // Each timed free needs an untimed parse first: bound the iterations.
            if (strstr(name, "_free"))
                run->Iterations(std::max(5L, 200000L / entries));
        }
}

// Heap bytes in use (including malloc's own overhead) and allocations so far.
struct HeapState {
    size_t bytes;
    unsigned long allocations;
};
HeapState heapNow() {
    const struct mallinfo2 info = mallinfo2();
    // Large blocks (the pointer array, the vector) are mapped separately: hblkhd.
    return {info.uordblks + info.hblkhd, allocationCount};
}

// Parses the N-entry file with PARSER, keeping the result until after *held is measured.
void parseOnce(const std::string &parser, const std::string &path, HeapState *held) {
    const HeapState before = heapNow();
    if (parser == "cfgReader") {
        cfgTable *table = cfgReader_Ctor(path.c_str());
        const HeapState after = heapNow();
        *held = {after.bytes - before.bytes, after.allocations - before.allocations};
        cfgReader_Dtor(table);
    } else if (parser == "inih") {
        auto *entries = new Entries;
        ini_parse(path.c_str(), storeEntry, entries);
        const HeapState after = heapNow();
        *held = {after.bytes - before.bytes, after.allocations - before.allocations};
        delete entries;
    } else if (parser == "read") {
        readWhole(path.c_str());
        *held = {0, 0};
    } else {
        *held = {0, 0};
    }
}

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: cfgfile_bench DIR [--memory | --peak-rss PARSER N | options]\n");
        return 2;
    }
    dataDir = argv[1];
    for (long entries : sizes)
        generate(entries);

    if (argc == 3 && strcmp(argv[2], "--memory") == 0) {
        printf("entries,parser,heap_bytes,allocations\n");
        for (long entries : sizes)
            for (const char *parser : {"cfgReader", "inih"}) {
                HeapState held{};
                parseOnce(parser, pathFor(entries), &held);
                printf("%ld,%s,%zu,%lu\n", entries, parser, held.bytes, held.allocations);
            }
        return 0;
    }
    if (argc == 5 && strcmp(argv[2], "--peak-rss") == 0) {
        HeapState held{};
        parseOnce(argv[3], pathFor(atol(argv[4])), &held);
        printf("%ld\n", peakRssKiB());
        return 0;
    }

    argv[1] = argv[0];
    --argc;
    ++argv;
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
