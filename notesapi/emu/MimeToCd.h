// The MIME parts of a note (TYPE_MIME_PART items of one name) turned into composite records.
//
// The items are put back together into the MIME entity they were itemized from (each part's
// boundary line, headers and body in item order, bodies kept in attachment objects read back
// from their $FILE items) and parsed with GMime. The entity is rendered depth-first:
// - text/plain (also text/enriched and text/markdown) one paragraph per line; text/html through
//   the HTML converter; charsets decoded with ICU (an unknown charset is read as UTF-8 when the
//   bytes are UTF-8, else as Windows-1252, and logged);
// - multipart/alternative: the last part that can be rendered, which is the richest;
// - multipart/related: its root part, pictures it references by cid: shown in place, the other
//   parts as for multipart/mixed;
// - multipart/mixed and every other multipart: each part in order; GIF, JPEG, PNG and BMP
//   pictures not marked as attachments are shown inline;
// - message/rfc822: its From, To, Date and Subject as paragraphs, then its body;
// - anything else (and every part marked as an attachment) becomes an attachment: a $FILE item
//   with its own object and an icon in the body. Nothing is dropped.
// Transfer encodings (base64, quoted-printable, uuencode) are decoded by GMime, which skips
// characters that do not belong to the encoding. Nesting deeper than 32 levels is not rendered
// as structure: the text parts below it become paragraphs and the rest attachments.
#pragma once

#include "CompositeBuilder.h"

#include <notes/global.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace notesemu {

struct MimeAttachment {
    std::string fileName;            // UTF-8
    std::vector<std::uint8_t> bytes; // decoded
    bool existing = false;           // a $FILE item of that name already holds it
};

struct MimeConversion {
    std::vector<std::vector<std::uint8_t>> body; // composite item values
    std::vector<MimeAttachment> attachments;
    // $FILE items (LMBCS names) that held part bodies for the MIME items only; their content is
    // now in the body or in the attachments above.
    std::set<std::string> consumedObjects;
};

// The bytes of the attachment object whose $FILE item has this LMBCS name, if any.
using MimeObjectSource = std::function<std::optional<std::span<const std::uint8_t>>(std::string_view name)>;

// Converts the MIME_PART values (type word included), in item order. ERR_MIME_PARSE_BAD_DATA
// (logged) when no part can be read at all; NOERROR otherwise, with what could be read.
STATUS convertMimeParts(const std::vector<std::span<const std::uint8_t>> &parts,
                        const MimeObjectSource &objects, MimeConversion &out);

} // namespace notesemu
