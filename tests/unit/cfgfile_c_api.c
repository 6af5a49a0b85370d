/* The header must stay usable from strict C: this file is built as C11 with warnings as errors,
 * and the unit test runs it. */
#include "cfgfile.h"

#include <string.h>

/* Writes three entries to path, reads them back through every reader call; 1 when all agree. */
int cfgCApiRoundTrip(const char *path) {
    cfgOutput *output = cfgWriter_Ctor(path, 0);
    if (!output)
        return 0;
    int ok = cfgWriter_AddComment("from C", output) && cfgWriter_AddBlank(output) &&
             cfgWriter_AddEntryInt("count", 3, output) &&
             cfgWriter_AddEntryNum("ratio", 1.5f, output) &&
             cfgWriter_AddEntryStr("name", "box", output);
    if (!cfgWriter_Dtor(output) || !ok)
        return 0;

    cfgTable *table = cfgReader_Ctor(path);
    if (!table)
        return 0;
    char key[8];
    char value[16];
    uint32_t keyLen = sizeof key;
    uint32_t valueLen = sizeof value;
    ok = cfgReader_EntryCount(table) == 3 &&
         cfgReader_EnumEntry(2, key, &keyLen, value, &valueLen, table) &&
         strcmp(key, "name") == 0 && strcmp(value, "box") == 0 &&
         cfgReader_HasKey("ratio", table) && cfgReader_ValueSize("ratio", table) == 9 &&
         cfgReader_GetValue("ratio", value, sizeof value, table) && strcmp(value, "1.500000") == 0;
    cfgReader_Dtor(table);
    return ok;
}
