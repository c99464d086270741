// Helpers for the mail tests: MIME entities itemized into MIME_PART items as Notes stores them,
// and a reader that walks a note's composite items with EnumCompositeBuffer and collects what a
// reader of the body sees (text per paragraph, fonts, links, pictures, tables, attachment icons).
#pragma once

#include "DbTestSupport.h"
#include "Translate.h"

#include <notes/notes.h>
#include <tessel/kit/IdFile.h>
#include <tessel/kit/Values.h>

#include <cstring>
#include <string>
#include <vector>

namespace notesemu::test {

// A MIME entity: a leaf (headers and body) or a multipart (headers without the boundary
// parameter, a boundary and children).
struct Entity {
    std::string type;    // e.g. "text/plain; charset=utf-8"
    std::string headers; // further header lines, each ending in CRLF
    std::string body;
    std::string boundary;
    std::vector<Entity> children;

    static Entity leaf(std::string type, std::string body, std::string headers = {}) {
        return Entity{std::move(type), std::move(headers), std::move(body), {}, {}};
    }
    static Entity multipart(std::string subtype, std::string boundary, std::vector<Entity> children) {
        return Entity{"multipart/" + subtype, {}, {}, std::move(boundary), std::move(children)};
    }
};

// The MIME_PART items of an entity, depth-first: a PROLOG per multipart, a BODY per leaf, an
// EPILOG after the last child of each multipart.
inline void itemize(const Entity &entity, const std::string &parentBoundary,
                    std::vector<kit::MimePart> &out) {
    kit::MimePart part;
    if (!parentBoundary.empty())
        part.boundary = "--" + parentBoundary + "\r\n";
    part.headers = "Content-Type: " + entity.type;
    if (!entity.boundary.empty())
        part.headers += "; boundary=\"" + entity.boundary + "\"";
    part.headers += "\r\n" + entity.headers + "\r\n";
    if (entity.boundary.empty()) {
        part.partType = kit::MimePart::kBody;
        part.body = entity.body;
        out.push_back(part);
        return;
    }
    part.partType = kit::MimePart::kProlog;
    part.body = parentBoundary.empty() ? "This is a multi-part message in MIME format.\r\n" : "\r\n";
    out.push_back(part);
    for (const Entity &child : entity.children)
        itemize(child, entity.boundary, out);
    kit::MimePart epilog;
    epilog.partType = kit::MimePart::kEpilog;
    epilog.boundary = "--" + entity.boundary + "--\r\n";
    out.push_back(epilog);
}

// A memo of the parts. Part bodies too large for an item go to attachment objects of their own,
// as Notes keeps them.
inline kit::Note mimeMemo(std::vector<kit::MimePart> parts) {
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::text("Subject", "MIME memo"));
    std::vector<kit::FileAttachment> objects;
    for (kit::MimePart &part : parts) {
        if (part.body.size() > 60000) {
            kit::FileAttachment object;
            object.name = "$MIME_PART_" + std::to_string(1000 + objects.size());
            object.data.assign(part.body.begin(), part.body.end());
            part.flags = kit::MimePart::kBodyInDbObject |
                         (part.boundary.empty() ? 0u : kit::MimePart::kHasBoundary) |
                         (part.headers.empty() ? 0u : kit::MimePart::kHasHeaders);
            part.body = object.name;
            objects.push_back(std::move(object));
        }
        memo.add(kit::Item::raw("Body", kit::type::kMimePart, part.value()));
    }
    for (kit::FileAttachment &object : objects)
        memo.add(kit::Item::file(std::move(object)));
    memo.add(kit::Item::text("$NoteHasNativeMIME", "1"));
    return memo;
}

inline kit::Note mimeMemo(const Entity &entity) {
    std::vector<kit::MimePart> parts;
    itemize(entity, {}, parts);
    return mimeMemo(parts);
}

struct Picture {
    WORD type = 0, width = 0, height = 0;
    DWORD declaredSize = 0, segments = 0;
    std::vector<std::uint8_t> data;
};

struct Run {
    std::string text; // UTF-8, line breaks as '\n'
    DWORD font = 0;
};

// What a reader of the composite items sees.
struct Body {
    std::vector<std::string> paragraphs; // text of each paragraph (runs joined)
    std::vector<Run> runs;
    std::vector<std::string> links;
    std::vector<Picture> pictures;
    std::vector<std::pair<int, int>> tableSizes; // rows, columns of each table
    std::vector<std::pair<int, int>> cells;      // row, column of each cell
    std::vector<std::string> fileHotspots;       // object names
    std::vector<WORD> pabFlags;                  // Flags of each paragraph definition
    int records = 0;

    std::string text() const {
        std::string out;
        for (const std::string &p : paragraphs)
            out += p + "\n";
        return out;
    }
    bool hasRun(std::string_view fragment, std::uint8_t attrib) const {
        for (const Run &run : runs) {
            if (run.text.find(fragment) != std::string::npos && ((run.font >> 8) & attrib) == attrib)
                return true;
        }
        return false;
    }
};

inline STATUS LNCALLBACK collectRecord(char *recordPtr, WORD recordType, DWORD recordLength, void *context) {
    auto &body = *static_cast<Body *>(context);
    const auto *r = reinterpret_cast<const std::uint8_t *>(recordPtr);
    ++body.records;
    switch (recordType) {
    case SIG_CD_PARAGRAPH:
        body.paragraphs.emplace_back();
        break;
    case SIG_CD_PABDEFINITION:
        body.pabFlags.push_back(word(r + 62));
        break;
    case SIG_CD_TEXT: {
        const std::string utf8 =
            notesemu::lmbcsToUtf8(std::string_view(reinterpret_cast<const char *>(r + 8), recordLength - 8));
        std::string text;
        for (const char c : utf8)
            text += c == '\0' ? '\n' : c;
        if (body.paragraphs.empty())
            body.paragraphs.emplace_back();
        body.paragraphs.back() += text;
        body.runs.push_back({text, dword(r + 4)});
        break;
    }
    case SIG_CD_V4HOTSPOTBEGIN:
        if (word(r + 4) == HOTSPOTREC_TYPE_HOTLINK)
            body.links.emplace_back(reinterpret_cast<const char *>(r + 12),
                                    std::max<int>(word(r + 10) - 1, 0));
        break;
    case SIG_CD_HOTSPOTBEGIN:
        if (word(r + 4) == HOTSPOTREC_TYPE_FILE)
            body.fileHotspots.emplace_back(reinterpret_cast<const char *>(r + 12));
        break;
    case SIG_CD_IMAGEHEADER: {
        Picture picture;
        picture.type = word(r + 6);
        picture.width = word(r + 8);
        picture.height = word(r + 10);
        picture.declaredSize = dword(r + 12);
        picture.segments = dword(r + 16);
        body.pictures.push_back(picture);
        break;
    }
    case SIG_CD_IMAGESEGMENT:
        if (!body.pictures.empty())
            body.pictures.back().data.insert(body.pictures.back().data.end(), r + 10, r + 10 + word(r + 6));
        break;
    case SIG_CD_PRETABLEBEGIN:
        body.tableSizes.emplace_back(r[8], r[9]);
        break;
    case SIG_CD_TABLECELL:
        body.cells.emplace_back(r[2], r[3]);
        break;
    default:
        break;
    }
    return NOERROR;
}

// Walks every item of the name with EnumCompositeBuffer; each must be TYPE_COMPOSITE.
inline Body readBody(NOTEHANDLE note, const char *name = "Body") {
    Body body;
    BLOCKID item, value;
    WORD type = 0;
    DWORD length = 0;
    const WORD nameLength = static_cast<WORD>(std::strlen(name));
    STATUS status = NSFItemInfo(note, name, nameLength, &item, &type, &value, &length);
    while (status == NOERROR) {
        EXPECT_EQ(type, TYPE_COMPOSITE);
        EXPECT_LE(length, MAXONESEGSIZE);
        EXPECT_EQ(EnumCompositeBuffer(value, length, collectRecord, &body), NOERROR);
        status = NSFItemInfoNext(note, item, name, nameLength, &item, &type, &value, &length);
    }
    EXPECT_EQ(status, ERR_ITEM_NOT_FOUND);
    return body;
}

inline std::string sha256(std::span<const std::uint8_t> bytes) {
    return tessel::kit::sha256Hex(bytes);
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The $FILE items of an open note: file name and the FILEOBJECT's declared size.
inline std::vector<std::pair<std::string, DWORD>> fileItems(NOTEHANDLE note) {
    std::vector<std::pair<std::string, DWORD>> files;
    BLOCKID item, value;
    DWORD length = 0;
    STATUS status = NSFItemInfo(note, "$FILE", 5, &item, nullptr, &value, &length);
    while (status == NOERROR) {
        const auto *bytes = OSLockBlock(std::uint8_t, value);
        FILEOBJECT file{};
        const void *source = bytes + 2;
        ODSReadMemory(&source, _FILEOBJECT, &file, 1);
        files.emplace_back(
            std::string(reinterpret_cast<const char *>(bytes + 2 + ODSLength(_FILEOBJECT)), file.FileNameLength),
            file.FileSize);
        OSUnlockBlock(value);
        status = NSFItemInfoNext(note, item, "$FILE", 5, &item, nullptr, &value, &length);
    }
    return files;
}

} // namespace notesemu::test
