#include "tessel/kit/Bytes.h"

#include <bit>

namespace tessel::kit {

ByteWriter &ByteWriter::u8(std::uint8_t v) {
    out_.push_back(v);
    return *this;
}

ByteWriter &ByteWriter::u16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
}

ByteWriter &ByteWriter::u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
}

ByteWriter &ByteWriter::u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
}

ByteWriter &ByteWriter::f64(double v) {
    return u64(std::bit_cast<std::uint64_t>(v));
}

ByteWriter &ByteWriter::bytes(std::span<const std::uint8_t> v) {
    out_.insert(out_.end(), v.begin(), v.end());
    return *this;
}

ByteWriter &ByteWriter::str(std::string_view v) {
    out_.insert(out_.end(), v.begin(), v.end());
    return *this;
}

ByteWriter &ByteWriter::zeros(std::size_t n) {
    out_.insert(out_.end(), n, 0);
    return *this;
}

Bytes toBytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

std::string base64(std::span<const std::uint8_t> data) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        std::uint32_t n = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (std::size_t rest = data.size() - i; rest > 0) {
        std::uint32_t n = data[i] << 16;
        if (rest == 2)
            n |= data[i + 1] << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string hexLower(std::span<const std::uint8_t> data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (std::uint8_t b : data) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

} // namespace tessel::kit
