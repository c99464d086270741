// An extracted memo opened in headless Chromium: the body text is in the page, and every picture
// the page refers to is a part of the message that the browser decodes and shows. Skipped with a
// message where Chromium is not installed.
#include "ExtractFixture.h"

#include <tessel/kit/CdWriter.h>

#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <optional>
#include <regex>

namespace tessel::test {
namespace {

using kit::Item;
using kit::Note;

std::optional<std::string> findChromium() {
    const char *path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        std::string dir = dirs.substr(at, end == std::string::npos ? std::string::npos : end - at);
        for (const char *name : {"chromium", "chromium-browser"}) {
            std::filesystem::path candidate = std::filesystem::path(dir) / name;
            if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0)
                return candidate.string();
        }
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return std::nullopt;
}

std::string fileUrl(const std::filesystem::path &path) {
    std::string url = "file://";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            url += hex;
        }
    }
    return url;
}

std::string shellQuote(const std::string &s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a command and returns what it wrote to its standard output.
std::string run(const std::string &command) {
    std::string out;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    std::array<char, 4096> chunk;
    size_t cb;
    while ((cb = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        out.append(chunk.data(), cb);
    ::pclose(pipe);
    return out;
}

std::string base64Decode(const std::string &text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int cBits = 0;
    for (char c : text) {
        size_t v = alphabet.find(c);
        if (v == std::string::npos)
            continue; // line breaks and padding
        bits = (bits << 6) | static_cast<uint32_t>(v);
        cBits += 6;
        if (cBits >= 8) {
            cBits -= 8;
            out += static_cast<char>((bits >> cBits) & 0xFF);
        }
    }
    return out;
}

// The pixels of an 8-bit RGB or RGBA PNG as Chromium writes its screenshots, row by row.
struct Image {
    uint32_t width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels;
    int count(uint8_t r, uint8_t g, uint8_t b) const {
        int n = 0;
        for (size_t i = 0; i + 2 < pixels.size(); i += channels)
            n += std::abs(pixels[i] - r) < 16 && std::abs(pixels[i + 1] - g) < 16 &&
                 std::abs(pixels[i + 2] - b) < 16;
        return n;
    }
};

std::optional<Image> decodePng(const std::string &png) {
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(
            static_cast<uint8_t>(png[at]) << 24 | static_cast<uint8_t>(png[at + 1]) << 16 |
            static_cast<uint8_t>(png[at + 2]) << 8 | static_cast<uint8_t>(png[at + 3]));
    };
    if (png.size() < 8 || png.compare(1, 3, "PNG") != 0)
        return std::nullopt;
    Image image;
    std::string idat;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t cb = be32(at);
        std::string type = png.substr(at + 4, 4);
        if (at + 12 + cb > png.size())
            return std::nullopt;
        if (type == "IHDR") {
            image.width = be32(at + 8);
            image.height = be32(at + 12);
            uint8_t depth = static_cast<uint8_t>(png[at + 16]), colour = static_cast<uint8_t>(png[at + 17]);
            if (depth != 8 || (colour != 2 && colour != 6) || png[at + 20] != 0)
                return std::nullopt;
            image.channels = colour == 6 ? 4 : 3;
        } else if (type == "IDAT") {
            idat += png.substr(at + 8, cb);
        }
        at += 12 + cb;
    }
    const size_t stride = size_t{image.width} * image.channels;
    std::vector<uint8_t> raw((stride + 1) * image.height);
    uLongf cbRaw = raw.size();
    if (stride == 0 ||
        uncompress(raw.data(), &cbRaw, reinterpret_cast<const Bytef *>(idat.data()), idat.size()) != Z_OK ||
        cbRaw != raw.size())
        return std::nullopt;
    std::vector<uint8_t> prev(stride, 0), line(stride);
    const size_t bpp = image.channels;
    for (uint32_t y = 0; y < image.height; y++) {
        const uint8_t filter = raw[y * (stride + 1)];
        const uint8_t *in = &raw[y * (stride + 1) + 1];
        for (size_t x = 0; x < stride; x++) {
            int a = x >= bpp ? line[x - bpp] : 0, b = prev[x], c = x >= bpp ? prev[x - bpp] : 0;
            int predictor = 0;
            switch (filter) {
            case 1:
                predictor = a;
                break;
            case 2:
                predictor = b;
                break;
            case 3:
                predictor = (a + b) / 2;
                break;
            case 4: {
                int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predictor = pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
                break;
            }
            default:
                break;
            }
            line[x] = static_cast<uint8_t>(in[x] + predictor);
        }
        image.pixels.insert(image.pixels.end(), line.begin(), line.end());
        prev = line;
    }
    return image;
}

class BrowserTest : public ExtractTest {
protected:
    std::string chromium(const std::vector<std::string> &arguments) {
        std::string command = "timeout 120 " + shellQuote(*browser) +
                              " --headless --disable-gpu --hide-scrollbars"
                              " --user-data-dir=" +
                              shellQuote((scratch.path() / "profile").string());
        if (::geteuid() == 0)
            command += " --no-sandbox"; // Chromium refuses to run as root inside its sandbox
        for (const std::string &argument : arguments)
            command += " " + shellQuote(argument);
        return run(command + " 2>/dev/null");
    }
    std::optional<Image> screenshot(const std::filesystem::path &page) {
        std::filesystem::path png = scratch.path() / "shot.png";
        std::filesystem::remove(png);
        chromium({"--window-size=600,400", "--screenshot=" + png.string(), fileUrl(page)});
        return decodePng(readFile(png));
    }
    std::optional<std::string> browser = findChromium();
};

TEST_F(BrowserTest, ExtractedMemoShowsItsTextAndPictures) {
    if (!browser)
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it): the extracted memo "
                        "is not opened in a browser";
    const kit::Bytes red = solidGif(60, 40, 255, 0, 0);
    const kit::Bytes blue = solidGif(50, 30, 0, 0, 255);
    kit::Database db;
    db.add(
        Note::imageResource("letterhead.gif;letterhead", kit::ImageFile{kit::ImageFile::Format::Gif, blue}));
    Note note = Note::document("Memo");
    note.add(Item::text("From", "Alice Smith"));
    note.add(Item::text("Subject", "Quarterly numbers"));
    note.add(Item::text("Logo", "letterhead"));
    kit::CdWriter body;
    body.paragraph()
        .text({}, "The quarterly numbers are in.")
        .paragraph()
        .picture(kit::ImageType::Gif, 60, 40, red);
    note.add(Item::richTextRaw("Body", body.bytes()));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);

    std::filesystem::path page = scratch.path() / "a memo.mht";
    ASSERT_EQ(extractor().extract(0, page, QLExtractFlag_GetFormattedBody), 0);
    const std::string mht = readFile(page);

    // The page as the browser reads it: the text of the header and the body, one IMG per picture.
    std::string dom = chromium({"--dump-dom", fileUrl(page)});
    ASSERT_FALSE(dom.empty()) << "chromium wrote no page";
    EXPECT_TRUE(has(dom, "The quarterly numbers are in.")) << dom;
    EXPECT_TRUE(has(dom, "Alice Smith"));
    EXPECT_TRUE(has(dom, "Quarterly numbers"));
    std::regex imgSrc("<img[^>]*src=\"([^\"]+)\"", std::regex::icase);
    std::vector<std::string> sources;
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), imgSrc); it != std::sregex_iterator(); ++it)
        sources.push_back((*it)[1]);
    ASSERT_EQ(sources.size(), 2u) << dom;

    // Every picture the page refers to is a part of the message holding the picture's bytes.
    std::vector<std::string> decoded;
    for (const std::string &source : sources) {
        const std::string header = "Content-Location: " + source + "\r\n\r\n";
        size_t at = mht.find(header);
        ASSERT_NE(at, std::string::npos) << "no part for " << source;
        at += header.size();
        size_t end = mht.find("\r\n\r\n", at);
        end = mht.find("------=_NextPart_", at) == std::string::npos
                  ? end
                  : std::min(end, mht.find("------=_NextPart_", at));
        decoded.push_back(base64Decode(mht.substr(at, end - at)));
    }
    EXPECT_TRUE(std::find(decoded.begin(), decoded.end(), text(red)) != decoded.end()) << "the body picture";
    EXPECT_TRUE(std::find(decoded.begin(), decoded.end(), text(blue)) != decoded.end()) << "the logo";

    // The browser shows both pictures from their parts. Chromium serves no file: URL from an MHTML
    // archive, so the message's own file:/// locations stay blank in it; the copy shown here names
    // the same parts under http: locations, every other byte unchanged.
    std::string renamed = std::regex_replace(mht, std::regex("file:///ql_"), "http://ql.invalid/ql_");
    std::filesystem::path copy = scratch.path() / "renamed.mht";
    std::ofstream(copy, std::ios::binary) << renamed;
    std::optional<Image> shown = screenshot(copy);
    ASSERT_TRUE(shown.has_value()) << "no screenshot";
    EXPECT_GE(shown->count(255, 0, 0), 60 * 40) << "the body picture is shown";
    EXPECT_GE(shown->count(0, 0, 255), 50 * 30) << "the logo is shown";

    std::optional<Image> asWritten = screenshot(page);
    ASSERT_TRUE(asWritten.has_value());
    RecordProperty("pictures_shown_from_file_locations",
                   asWritten->count(255, 0, 0) >= 60 * 40 && asWritten->count(0, 0, 255) >= 50 * 30 ? "yes"
                                                                                                    : "no");
}

} // namespace
} // namespace tessel::test
