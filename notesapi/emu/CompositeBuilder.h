// Builds composite (rich text) item values from a stream of paragraphs, styled text, links,
// pictures, rules, tables and attachment icons. Records are written in canonical form; the values
// are split at record boundaries so that each fits one item (MAXONESEGSIZE bytes with the type
// word), as Notes stores long rich text in several items of one name.
#pragma once

#include <notes/global.h>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace notesemu {

struct TextStyle {
    std::uint8_t face = 1;   // FONT_FACE_xxx
    std::uint8_t attrib = 0; // ISBOLD, ISITALIC, ...
    std::uint8_t color = 0;  // Notes palette index
    std::uint8_t size = 10;  // points

    DWORD fontId() const;
    bool operator==(const TextStyle &) const = default;
};

enum class ListKind : std::uint8_t { None, Bullet, Numbered };

struct ParagraphStyle {
    WORD justify = 0; // JUSTIFY_xxx
    ListKind list = ListKind::None;
    std::uint8_t indent = 0; // nesting level of lists and quotations
    auto operator<=>(const ParagraphStyle &) const = default;
};

// CDIMAGEHEADER image types; PNG is the value Notes uses for MIME and HTML pictures.
enum class ImageKind : WORD { Gif = 1, Jpeg = 2, Bmp = 3, Png = 4 };

class CompositeBuilder {
public:
    CompositeBuilder();

    // Starts a paragraph; its definition is written before its first use.
    void paragraph(const ParagraphStyle &style);
    // UTF-8 text; '\n' becomes the NUL byte Notes stores for a line break inside a paragraph.
    // Consecutive text of one style becomes one run.
    void text(std::string_view utf8, const TextStyle &style);
    // A URL hotspot around what follows until linkEnd.
    void linkBegin(std::string_view url);
    void linkEnd();
    bool inLink() const { return linkOpen_; }
    // A picture: CDGRAPHIC, CDIMAGEHEADER and the file bytes in CDIMAGESEGMENTs.
    void picture(ImageKind kind, WORD width, WORD height, std::span<const std::uint8_t> bytes);
    void horizontalRule();
    // A table of the given size; cells are given row by row (both at most 255).
    void tableBegin(std::uint8_t rows, std::uint8_t columns);
    void tableCell(std::uint8_t row, std::uint8_t column, std::uint8_t columns);
    void tableEnd();
    // The icon of an attachment: a file hotspot naming the $FILE object, with the file name as
    // its caption.
    void attachmentIcon(std::string_view objectName, std::string_view fileName);

    // Whether anything visible was added.
    bool empty() const { return records_ == 0; }
    // The item values (type word TYPE_COMPOSITE first); the builder is empty afterwards.
    std::vector<std::vector<std::uint8_t>> finish();

private:
    void flushText();
    void emit(std::vector<std::uint8_t> record);
    WORD definitionFor(const ParagraphStyle &style);

    std::vector<std::vector<std::uint8_t>> values_;
    std::vector<std::uint8_t> current_;
    std::map<ParagraphStyle, WORD> definitions_;
    std::optional<ParagraphStyle> paragraphStyle_;
    std::string runText_; // LMBCS
    TextStyle runStyle_;
    bool linkOpen_ = false;
    std::size_t records_ = 0;
};

// The pixel size of a GIF, PNG, JPEG or BMP file; nullopt when the bytes are not one of those
// or give no size.
struct ImageSize {
    WORD width = 0, height = 0;
};
std::optional<ImageSize> imageSize(ImageKind kind, std::span<const std::uint8_t> bytes);

} // namespace notesemu
