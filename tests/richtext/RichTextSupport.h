// Shared set-up for the converter's tests: a host, a converter over composite data written with
// the test kit, and the pieces of its output.
#pragma once

#include <gtest/gtest.h>

#include <quillon/host/Allocator.h>
#include <quillon/host/Host.h>
#include <tessel/kit/CdWriter.h>

#include <memory>
#include <string>

#include "nsf/richtext/converter.h"

namespace tessel::test {

inline constexpr char kDelimiter[] = "------=_NextPart_000_0004_01CB58DD.164505B0";
inline constexpr char kBodyEnd[] = "</BODY></HTML>\r\n";

class ConverterTest : public ::testing::Test {
protected:
    ConverterTest() {
        quillon::HostOptions options;
        options.allocator = &allocator;
        options.hostDir = "/nonexistent-tessel-host/";
        host = std::make_unique<quillon::Host>(quillon::Config{}, options);
    }
    ~ConverterTest() override { EXPECT_EQ(allocator.liveCount(), 0u) << "the converter must free every block"; }

    // The whole output of a conversion of the records.
    std::string convert(const kit::CdWriter &cd, uint32_t dwFlags = 0) { return convert(cd.bytes(), dwFlags); }
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
