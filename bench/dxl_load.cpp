// Loads one DXL database with the emulated runtime's loader and reports the time, the notes and
// items read and the bytes kept. Compare against a plain streaming parse of the same file, e.g.
//
//   nsfgen --seed 1 --bytes 200 --out big.dxl
//   /usr/bin/time -v bench_dxl_load big.dxl        (elapsed time, maximum resident set size)
//   /usr/bin/time -v xmllint --stream --noout big.dxl
//
// Targets: load time at most twice xmllint's, peak memory at most twice the file size.
#include "DxlLoader.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s database.dxl\n", argv[0]);
        return 2;
    }
    const std::filesystem::path path(argv[1]);
    const auto start = std::chrono::steady_clock::now();
    const notesemu::LoadResult result = notesemu::loadDxlFile(path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.status != NOERROR) {
        std::fprintf(stderr, "load failed with status 0x%04X\n", result.status);
        return 1;
    }
    const notesemu::Database &db = *result.database;
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    std::printf("file %ju bytes, %zu notes, %zu items, %zu objects, %zu value bytes kept, %zu values left in "
                "the file\n",
                static_cast<std::uintmax_t>(size), db.notes.size(), db.items.size(), db.objects.size(),
                db.arena.bytesUsed(), db.lazyValues.size());
    std::printf("load %.3f s (%.1f MB/s)\n", seconds, static_cast<double>(size) / 1e6 / seconds);
    return 0;
}
