// The DXL loader of the emulated runtime, rich-text XML import included: the input is the text of
// a database file.
#include "DxlLoader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    notesemu::LoadResult result =
        notesemu::loadDxlText(std::string_view(reinterpret_cast<const char *>(data), size), "fuzz.dxl");
    // A database exactly when the load succeeded.
    if ((result.status == NOERROR) != (result.database != nullptr)) {
        std::fprintf(stderr, "fuzz invariant broken: status %u with%s a database\n", unsigned(result.status),
                     result.database ? "" : "out");
        std::abort();
    }
    return 0;
}
