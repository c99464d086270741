// A bounded little-endian reader over a byte span: every read asks for exactly the bytes it is
// about to decode, and a read past the end fails without moving.
#ifndef TESSEL_BMPCV_BYTECURSOR_H
#define TESSEL_BMPCV_BYTECURSOR_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tessel::bmpcv {

class ByteCursor {
public:
    explicit ByteCursor(std::span<const std::byte> bytes) : bytes_(bytes) {}

    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return bytes_.size() - offset_; }
    bool atEnd() const { return offset_ == bytes_.size(); }

    // The next byte without moving, or nothing at the end.
    std::optional<std::uint8_t> peek() const {
        if (atEnd())
            return std::nullopt;
        return std::to_integer<std::uint8_t>(bytes_[offset_]);
    }

    std::optional<std::uint8_t> u8() {
        auto b = peek();
        if (b)
            ++offset_;
        return b;
    }

    std::optional<std::uint16_t> u16() {
        auto s = take(2);
        if (!s)
            return std::nullopt;
        return static_cast<std::uint16_t>(byteAt(*s, 0) | byteAt(*s, 1) << 8);
    }

    std::optional<std::uint32_t> u32() {
        auto s = take(4);
        if (!s)
            return std::nullopt;
        return static_cast<std::uint32_t>(byteAt(*s, 0) | byteAt(*s, 1) << 8 | byteAt(*s, 2) << 16 |
                                          static_cast<std::uint32_t>(byteAt(*s, 3)) << 24);
    }

    // The next n bytes, or nothing (and no move) when fewer remain.
    std::optional<std::span<const std::byte>> take(std::size_t n) {
        if (n > remaining())
            return std::nullopt;
        auto s = bytes_.subspan(offset_, n);
        offset_ += n;
        return s;
    }

    bool skip(std::size_t n) { return take(n).has_value(); }

private:
    static std::uint32_t byteAt(std::span<const std::byte> s, std::size_t i) {
        return std::to_integer<std::uint32_t>(s[i]);
    }

    std::span<const std::byte> bytes_;
    std::size_t offset_ = 0;
};

} // namespace tessel::bmpcv

#endif
