// Note identifiers in canonical form and their DXL text forms.
#pragma once

#include "tessel/kit/Bytes.h"

#include <cstdint>
#include <string>

namespace tessel::kit {

// A replica ID (a TIMEDATE): the text form is the 8 canonical bytes read as a little-endian
// 64-bit number, in 16 upper-case hex digits, e.g. 852585D0004D33F6.
struct ReplicaId {
    std::uint64_t value = 0;

    std::string text() const;
    Bytes bytes() const;
    friend bool operator==(const ReplicaId &, const ReplicaId &) = default;
};

// A universal note ID: File part then Note part, each 8 canonical bytes. The text form is both
// parts as little-endian 64-bit numbers, 32 upper-case hex digits.
struct Unid {
    std::uint64_t file = 0;
    std::uint64_t note = 0;

    std::string text() const;
    Bytes bytes() const;
    bool empty() const { return file == 0 && note == 0; }
    friend bool operator==(const Unid &, const Unid &) = default;
};

// NOTELINK: target replica ID, view UNID, note UNID (40 bytes).
struct NoteLink {
    ReplicaId replica;
    Unid view;
    Unid note;

    Bytes bytes() const;
};

} // namespace tessel::kit
