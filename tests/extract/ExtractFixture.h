// A container opened through the reader's open operation on a database written with the test kit,
// and extraction through the host's Extractor over the reader's operation table.
#pragma once

#include "OpenFixture.h"

#include <quillon/host/Catalogue.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/IOObject.h>
#include <tessel/kit/MemoryIOObject.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "nsf/reader/reader.h"

namespace tessel::test {

// The source tree's share folder as a full path of the system: on Windows the build's path
// ("/work/share/") has no drive, which the reader's long-path form needs.
inline std::string shareDirectory() {
    return std::filesystem::absolute(TESSEL_SHARE_DIR).string();
}

class ExtractTest : public OpenTest {
protected:
    void SetUp() override {
        OpenTest::SetUp();
        nsfGetContainerReaderInterfaceEx(&ops);
    }

    // Sets an option of the section "tessel" for the next open.
    void option(const std::string &key, const std::string &value) {
        host->config().set("tessel", key, value);
    }

    quillon::Extractor extractor() { return quillon::Extractor(*host, ops, pOpen); }
    quillon::Catalogue catalogue() { return quillon::Catalogue(*host, ops, pOpen); }

    // Slot 5 into a memory object; the status is returned, the bytes are in out.
    int extract(int32_t index, uint32_t flags, std::string &out) {
        return extractor().extract(index, out, flags);
    }
    std::string extractOk(int32_t index, uint32_t flags = 0) {
        std::string out;
        int status = extract(index, flags, out);
        EXPECT_EQ(status, 0) << "extracting subfile " << index << " with flags " << flags;
        return out;
    }

    // The files the reader left in its temporary directory.
    std::vector<std::string> tempFilesLeft() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(pOpen->szTempDir, ec))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // The index of the first subfile of the kind whose name (or subject) is given.
    int32_t indexOf(const std::string &name) const {
        for (int32_t i = 0; i < pOpen->numSubFiles; i++) {
            const NSFSUBFILE &s = sub(i);
            if (s.subFileType == QLSubFileType_Main ? std::string(s.szSubject) == name : fileName(i) == name)
                return i;
        }
        ADD_FAILURE() << "no subfile " << name;
        return -1;
    }

    static kit::FileAttachment file(const std::string &name, kit::Bytes data,
                                    const std::string &hostType = "msdos") {
        kit::FileAttachment f = attachment(name, hostType);
        f.data = std::move(data);
        return f;
    }
    static kit::Bytes pattern(size_t cb, unsigned seed = 1) {
        kit::Bytes b(cb);
        uint32_t x = seed * 2654435761u + 1;
        for (size_t i = 0; i < cb; i++) {
            x = x * 1103515245u + 12345u;
            b[i] = static_cast<std::uint8_t>(x >> 16);
        }
        return b;
    }
    // A GIF of one colour, w by h pixels, coded without compression (a clear code every two
    // pixels keeps the codes at 3 bits).
    static kit::Bytes solidGif(uint16_t w, uint16_t h, uint8_t r, uint8_t g, uint8_t b) {
        kit::Bytes out = {'G',
                          'I',
                          'F',
                          '8',
                          '9',
                          'a',
                          static_cast<uint8_t>(w),
                          static_cast<uint8_t>(w >> 8),
                          static_cast<uint8_t>(h),
                          static_cast<uint8_t>(h >> 8),
                          0x81,
                          0,
                          0,
                          r,
                          g,
                          b,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          ',',
                          0,
                          0,
                          0,
                          0,
                          static_cast<uint8_t>(w),
                          static_cast<uint8_t>(w >> 8),
                          static_cast<uint8_t>(h),
                          static_cast<uint8_t>(h >> 8),
                          0,
                          2};
        std::vector<int> codes;
        for (size_t i = 0, n = size_t{w} * h; i < n; i += 2) {
            codes.push_back(4);
            codes.push_back(0);
            if (i + 1 < n)
                codes.push_back(0);
        }
        codes.push_back(5);
        kit::Bytes data;
        uint32_t bits = 0;
        int cBits = 0;
        for (int code : codes) {
            bits |= static_cast<uint32_t>(code) << cBits;
            cBits += 3;
            while (cBits >= 8) {
                data.push_back(static_cast<uint8_t>(bits));
                bits >>= 8;
                cBits -= 8;
            }
        }
        if (cBits > 0)
            data.push_back(static_cast<uint8_t>(bits));
        for (size_t at = 0; at < data.size(); at += 255) {
            size_t cb = std::min<size_t>(255, data.size() - at);
            out.push_back(static_cast<uint8_t>(cb));
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + cb));
        }
        out.push_back(0);
        out.push_back(';');
        return out;
    }
    static std::string text(const kit::Bytes &b) { return std::string(b.begin(), b.end()); }
    static bool startsWith(const std::string &s, const std::string &prefix) {
        return s.rfind(prefix, 0) == 0;
    }
    static bool has(const std::string &s, const std::string &part) {
        return s.find(part) != std::string::npos;
    }

    QLReaderInterface ops{};
};

// The envelope every formatted rendering starts with, and its HTML head, as they must appear.
inline const std::string kEnvelope = "MIME-Version: 1.0\r\n"
                                     "Content-Type: multipart/related;\r\n"
                                     "\ttype=\"text/html\";\r\n"
                                     "\tboundary=\"----=_NextPart_000_0004_01CB58DD.164505B0\"\r\n"
                                     "\r\n"
                                     "This is a multi-part message in MIME format.\r\n"
                                     "\r\n"
                                     "------=_NextPart_000_0004_01CB58DD.164505B0\r\n"
                                     "Content-Type: text/html;\r\n"
                                     "\tcharset=\"utf-8\"\r\n"
                                     "Content-Transfer-Encoding: quoted-printable\r\n"
                                     "Content-Location: file://C:\\1.htm\r\n"
                                     "\r\n"
                                     "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n";
inline const std::string kHead =
    "<HTML><HEAD>\r\n"
    "<META http-equiv=3DContent-Type content=3D\"text/html; charset=3Dutf-8\">\r\n"
    "<META content=3D\"MSHTML 6.00.6000.17080\" name=3DGENERATOR></HEAD>\r\n"
    "<BODY>\r\n";
inline const std::string kClosing = "\r\n\r\n------=_NextPart_000_0004_01CB58DD.164505B0--\r\n";

} // namespace tessel::test
