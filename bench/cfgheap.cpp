// Heap held by the key-value reader's table of one file, measured as cfgfile_bench
// does (mallinfo2: bytes in use, malloc's own overhead and mapped blocks included).
// Small enough to build with the device's cross compiler and run under qemu-arm.
//
//   cfgheap FILE      prints "BYTES ENTRIES"
#include "cfgfile.h"

#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>

static size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: cfgheap FILE\n");
        return 2;
    }
    // malloc sets up its thread cache on first use, as in any program that has allocated before
    // reading its settings; stdio's buffer comes with the first printf, after the parse.
    void *volatile first = malloc(1);
    free(first);
    const size_t before = heapInUse();
    cfgTable *table = cfgReader_Ctor(argv[1]);
    const size_t held = heapInUse() - before;
    if (!table) {
        fprintf(stderr, "cfgheap: cannot read %s\n", argv[1]);
        return 1;
    }
    printf("%zu %d\n", held, cfgReader_EntryCount(table));
    cfgReader_Dtor(table);
    return 0;
}
