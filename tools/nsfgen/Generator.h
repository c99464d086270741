// The synthetic mail database written by nsfgen.
#pragma once

#include <cstdint>
#include <ostream>

namespace tessel::nsfgen {

struct Options {
    std::uint64_t seed = 1;
    std::uint64_t notes = 40;      // at least this many documents
    std::uint64_t targetBytes = 0; // keep adding documents until the file is this large (0 = off)
};

struct Summary {
    std::uint64_t documents = 0;
    std::uint64_t designNotes = 0;
    std::uint64_t bytes = 0;
};

// Writes the whole database to out, one note at a time. Same options, same bytes.
Summary generate(const Options &options, std::ostream &out);

} // namespace tessel::nsfgen
