#include "tessel/kit/Ids.h"

#include <cinttypes>
#include <cstdio>

namespace tessel::kit {

std::string ReplicaId::text() const {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016" PRIX64, value);
    return buf;
}

Bytes ReplicaId::bytes() const {
    Bytes out;
    ByteWriter(out).u64(value);
    return out;
}

std::string Unid::text() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%016" PRIX64 "%016" PRIX64, file, note);
    return buf;
}

Bytes Unid::bytes() const {
    Bytes out;
    ByteWriter(out).u64(file).u64(note);
    return out;
}

Bytes NoteLink::bytes() const {
    Bytes out;
    ByteWriter w(out);
    w.bytes(replica.bytes()).bytes(view.bytes()).bytes(note.bytes());
    return out;
}

} // namespace tessel::kit
