// Byte buffers in Notes canonical form: little-endian, packed, no padding.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::kit {

using Bytes = std::vector<std::uint8_t>;

// Appends little-endian scalars and raw bytes to a Bytes buffer it does not own.
class ByteWriter {
public:
    explicit ByteWriter(Bytes &out) : out_(out) {}

    ByteWriter &u8(std::uint8_t v);
    ByteWriter &u16(std::uint16_t v);
    ByteWriter &u32(std::uint32_t v);
    ByteWriter &u64(std::uint64_t v);
    ByteWriter &f64(double v);
    ByteWriter &bytes(std::span<const std::uint8_t> v);
    ByteWriter &str(std::string_view v);
    ByteWriter &zeros(std::size_t n);
    std::size_t size() const { return out_.size(); }

private:
    Bytes &out_;
};

Bytes toBytes(std::string_view s);

// Standard base64 (RFC 4648 alphabet, '=' padding), no line breaks.
std::string base64(std::span<const std::uint8_t> data);
// Lower-case hex without separators.
std::string hexLower(std::span<const std::uint8_t> data);

} // namespace tessel::kit
