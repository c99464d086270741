// The failure a step of the conversion reports: a status and a message that says where.
#ifndef TESSEL_BMPCV_ERROR_H
#define TESSEL_BMPCV_ERROR_H

#include <bmpcv/NotesBitmapConverter.h>

#include <string>

namespace tessel::bmpcv {

struct Error {
    Status status = Status::Ok;
    std::string message;

    explicit operator bool() const { return status != Status::Ok; }
};

inline Error fail(Status status, std::string message) {
    return Error{status, std::move(message)};
}

} // namespace tessel::bmpcv

#endif
