// Shared set-up for the converter's tests: a host, a converter over composite data written with
// the test kit, and the pieces of its output.
#pragma once

#include <gtest/gtest.h>

#include <quillon/host/Allocator.h>
#include <quillon/host/Host.h>
#include <tessel/kit/CdWriter.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "nsf/richtext/converter.h"

namespace tessel::test {

inline constexpr char kDelimiter[] = "------=_NextPart_000_0004_01CB58DD.164505B0";
inline constexpr char kBodyEnd[] = "</BODY></HTML>\r\n";

// Decodes base64 text, skipping line breaks; throws on any other character outside the alphabet.
inline kit::Bytes decodeBase64(std::string_view text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    kit::Bytes out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == '=')
            break;
        const auto at = alphabet.find(c);
        if (at == std::string::npos)
            throw std::invalid_argument("not base64");
        bits = (bits << 6) | static_cast<uint32_t>(at);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<uint8_t>(bits >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<uint8_t>(bits >> 10));
        out.push_back(static_cast<uint8_t>(bits >> 2));
    }
    return out;
}

// One picture part of an MHT text: its header lines and decoded bytes.
struct PicturePart {
    std::string contentType; // "" when the part has none
    kit::Bytes data;
};

// The parts of an MHT text by Content-Location name (without "file:///").
inline std::map<std::string, PicturePart> pictureParts(const std::string &mht) {
    std::map<std::string, PicturePart> parts;
    const std::string start = std::string("\r\n") + kDelimiter + "\r\n";
    for (std::size_t at = mht.find(start); at != std::string::npos; at = mht.find(start, at + 1)) {
        const std::size_t headerEnd = mht.find("\r\n\r\n", at + start.size());
        if (headerEnd == std::string::npos)
            break;
        const std::string header = mht.substr(at + start.size(), headerEnd - at - start.size());
        PicturePart part;
        std::string name;
        std::size_t lineStart = 0;
        while (lineStart <= header.size()) {
            std::size_t lineEnd = header.find("\r\n", lineStart);
            if (lineEnd == std::string::npos)
                lineEnd = header.size();
            const std::string line = header.substr(lineStart, lineEnd - lineStart);
            if (line.starts_with("Content-Type: "))
                part.contentType = line.substr(14);
            else if (line.starts_with("Content-Location: file:///"))
                name = line.substr(26);
            lineStart = lineEnd + 2;
        }
        const std::size_t dataEnd = mht.find("\r\n\r\n", headerEnd + 4);
        part.data = decodeBase64(std::string_view(mht).substr(headerEnd + 4, dataEnd - headerEnd - 4));
        parts[name] = part;
    }
    return parts;
}

class ConverterTest : public ::testing::Test {
protected:
    ConverterTest() {
        quillon::HostOptions options;
        options.allocator = &allocator;
        options.hostDir = "/nonexistent-tessel-host/";
        host = std::make_unique<quillon::Host>(quillon::Config{}, options);
    }
    ~ConverterTest() override {
        EXPECT_EQ(allocator.liveCount(), 0u) << "the converter must free every block";
    }

    // The whole output of a conversion of the records.
    std::string convert(const kit::CdWriter &cd, uint32_t dwFlags = 0) {
        return convert(cd.bytes(), dwFlags);
    }
    std::string convert(const kit::Bytes &records, uint32_t dwFlags = 0) {
        CLotusRTConverter converter(host->services(), "8F6");
        converter.SetFlags(dwFlags);
        converter.m_pfnImageCB = imageCB;
        std::string out;
        EXPECT_EQ(converter.ConvertToMHT(records.data(), static_cast<uint32_t>(records.size()), out), 0);
        return out;
    }
    // The HTML before "</BODY></HTML>", checking that the frame around it is whole.
    std::string body(const kit::CdWriter &cd, uint32_t dwFlags = 0) { return bodyOf(convert(cd, dwFlags)); }
    static std::string bodyOf(const std::string &out) {
        const auto at = out.find(kBodyEnd);
        EXPECT_NE(at, std::string::npos) << out;
        EXPECT_TRUE(out.ends_with(std::string(kDelimiter) + "--")) << out;
        return at == std::string::npos ? out : out.substr(0, at);
    }

    quillon::TestAllocator allocator;
    std::unique_ptr<quillon::Host> host;
    LOTUSIMAGECB imageCB = nullptr;
};

} // namespace tessel::test
