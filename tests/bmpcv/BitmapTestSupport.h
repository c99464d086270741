// Shared by the image converter's tests: running a conversion on kit bytes and reading the result.
#ifndef TESSEL_TESTS_BMPCV_BITMAPTESTSUPPORT_H
#define TESSEL_TESTS_BMPCV_BITMAPTESTSUPPORT_H

#include <bmpcv/NotesBitmapConverter.h>
#include <tessel/kit/BmpReader.h>
#include <tessel/kit/NotesBitmapBuilder.h>

#include <gtest/gtest.h>

#include <span>
#include <string>

namespace bmpcvtest {

using tessel::bmpcv::Conversion;
using tessel::bmpcv::Status;
using tessel::kit::Bytes;

inline Conversion convert(const Bytes &input) {
    return tessel::bmpcv::convertNotesBitmap(std::as_bytes(std::span(input)));
}

// Converts and reads the BMP back; fails the test when either step fails.
inline tessel::kit::BmpPicture convertToPicture(const Bytes &input) {
    const Conversion conversion = convert(input);
    EXPECT_EQ(conversion.status, Status::Ok) << conversion.message;
    EXPECT_TRUE(conversion.message.empty());
    if (conversion.status != Status::Ok)
        return {};
    return tessel::kit::readBmp(conversion.bmp);
}

} // namespace bmpcvtest

namespace tessel::bmpcv {
inline void PrintTo(Status status, std::ostream *os) {
    *os << statusName(status);
}
} // namespace tessel::bmpcv

#endif
