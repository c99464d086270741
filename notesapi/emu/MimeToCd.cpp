#include "MimeToCd.h"

#include "HtmlToCd.h"
#include "Log.h"

#include <notes/notes.h>

#include <gmime/gmime.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace notesemu {
namespace {

constexpr int kMaxDepth = 32;
constexpr std::size_t kMimePartHeader = 20; // MIME_PART in canonical form

void ensureGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// Owns one GObject reference.
template <class T> struct GObjectRef {
    T *object = nullptr;
    explicit GObjectRef(T *o = nullptr) : object(o) {}
    ~GObjectRef() {
        if (object != nullptr)
            g_object_unref(object);
    }
    GObjectRef(const GObjectRef &) = delete;
    GObjectRef &operator=(const GObjectRef &) = delete;
};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

WORD wordAt(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<WORD>(b[at] | b[at + 1] << 8);
}
DWORD dwordAt(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<DWORD>(wordAt(b, at)) | static_cast<DWORD>(wordAt(b, at + 2)) << 16;
}

bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = c < 0x80           ? 0
                            : (c >> 5) == 0x6  ? 1
                            : (c >> 4) == 0xE  ? 2
                            : (c >> 3) == 0x1E ? 3
                                               : 9;
        if (extra == 9 || i + extra >= text.size() + (extra == 0 ? 1 : 0))
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

// Text in a MIME charset as UTF-8, through ICU; malformed sequences become U+FFFD.
std::string decodeCharset(std::string_view bytes, std::string charset, std::set<std::string> &notes) {
    charset = lower(charset);
    if (charset.empty() || charset == "us-ascii" || charset == "ascii")
        charset = validUtf8(bytes) ? "utf-8" : "windows-1252";
    UErrorCode error = U_ZERO_ERROR;
    UConverter *converter = ucnv_open(charset.c_str(), &error);
    if (U_FAILURE(error) || converter == nullptr) {
        const std::string fallback = validUtf8(bytes) ? "utf-8" : "windows-1252";
        notes.insert("unknown charset '" + charset + "' read as " + fallback);
        error = U_ZERO_ERROR;
        converter = ucnv_open(fallback.c_str(), &error);
        if (U_FAILURE(error) || converter == nullptr)
            return std::string(bytes);
    }
    std::string out;
    std::size_t at = 0;
    // In slices, so that no length handed to ICU exceeds its 32-bit counts.
    constexpr std::size_t kSlice = 1 << 24;
    while (at < bytes.size()) {
        const std::size_t length = std::min(kSlice, bytes.size() - at);
        error = U_ZERO_ERROR;
        icu::UnicodeString text(bytes.data() + at, static_cast<int32_t>(length), converter, error);
        text.toUTF8String(out);
        at += length;
    }
    ucnv_close(converter);
    return out;
}

// The charset an HTML document declares in a meta element near its start.
std::string sniffHtmlCharset(std::string_view html) {
    const std::string head = lower(html.substr(0, 4096));
    std::size_t at = head.find("charset=");
    if (at == std::string::npos)
        return {};
    at += 8;
    while (at < head.size() && (head[at] == '"' || head[at] == '\'' || head[at] == ' '))
        ++at;
    std::size_t end = at;
    while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                                 head[end] == '_' || head[end] == ':' || head[end] == '.'))
        ++end;
    return head.substr(at, end - at);
}

std::optional<ImageKind> imageKindOf(std::string_view type) {
    if (type == "image/gif")
        return ImageKind::Gif;
    if (type == "image/jpeg" || type == "image/jpg" || type == "image/pjpeg")
        return ImageKind::Jpeg;
    if (type == "image/png")
        return ImageKind::Png;
    if (type == "image/bmp" || type == "image/x-bmp" || type == "image/x-ms-bmp")
        return ImageKind::Bmp;
    return std::nullopt;
}

std::string extensionFor(std::string_view type) {
    static const std::map<std::string_view, std::string_view> kExtensions = {
        {"text/plain", ".txt"},      {"text/html", ".htm"},          {"text/calendar", ".ics"},
        {"text/csv", ".csv"},        {"image/gif", ".gif"},          {"image/jpeg", ".jpg"},
        {"image/png", ".png"},       {"image/bmp", ".bmp"},          {"application/pdf", ".pdf"},
        {"application/zip", ".zip"}, {"message/rfc822", ".eml"},     {"text/rtf", ".rtf"},
        {"application/rtf", ".rtf"}, {"application/msword", ".doc"}, {"image/tiff", ".tif"},
        {"image/svg+xml", ".svg"},   {"audio/mpeg", ".mp3"},         {"video/mp4", ".mp4"},
    };
    const auto found = kExtensions.find(type);
    return std::string(found != kExtensions.end() ? found->second : ".bin");
}

std::string mediaType(GMimeObject *object) {
    GMimeContentType *type = g_mime_object_get_content_type(object);
    if (type == nullptr)
        return "text/plain";
    const char *media = g_mime_content_type_get_media_type(type);
    const char *sub = g_mime_content_type_get_media_subtype(type);
    return lower(std::string(media != nullptr ? media : "text") + "/" + (sub != nullptr ? sub : "plain"));
}

std::string stripAngles(std::string_view id) {
    while (!id.empty() && (id.front() == '<' || std::isspace(static_cast<unsigned char>(id.front()))))
        id.remove_prefix(1);
    while (!id.empty() && (id.back() == '>' || std::isspace(static_cast<unsigned char>(id.back()))))
        id.remove_suffix(1);
    return std::string(id);
}

std::vector<std::uint8_t> decodedContent(GMimePart *part) {
    std::vector<std::uint8_t> out;
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (content == nullptr)
        return out;
    GObjectRef<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, stream.object);
    GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.object));
    if (array != nullptr && array->len > 0)
        out.assign(array->data, array->data + array->len);
    return out;
}

class Renderer {
public:
    explicit Renderer(MimeConversion &out, std::set<std::string> sharedNames)
        : out_(out), sharedNames_(std::move(sharedNames)) {}

    void render(GMimeObject *root) {
        index(root);
        object(root, 0);
        out_.body = builder_.finish();
        for (const std::string &line : notes_)
            logf("MIME conversion: %s", line.c_str());
    }

private:
    // Every part with a Content-ID, found without recursion, so that pictures referenced from
    // HTML can be shown wherever the message put them.
    void index(GMimeObject *root) {
        std::vector<std::pair<GMimeObject *, int>> stack{{root, 0}};
        while (!stack.empty()) {
            auto [object, depth] = stack.back();
            stack.pop_back();
            if (GMIME_IS_MULTIPART(object)) {
                if (depth > 2 * kMaxDepth)
                    continue;
                auto *multipart = GMIME_MULTIPART(object);
                for (int i = g_mime_multipart_get_count(multipart); i > 0; --i)
                    stack.emplace_back(g_mime_multipart_get_part(multipart, i - 1), depth + 1);
            } else if (GMIME_IS_PART(object)) {
                if (const char *id = g_mime_object_get_content_id(object); id != nullptr && *id != '\0')
                    cids_.emplace(stripAngles(id), GMIME_PART(object));
            }
        }
    }

    void object(GMimeObject *object, int depth) {
        if (depth > kMaxDepth) {
            flatten(object);
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            message(GMIME_MESSAGE_PART(object), depth);
        } else if (GMIME_IS_MULTIPART(object)) {
            multipart(GMIME_MULTIPART(object), depth);
        } else if (GMIME_IS_PART(object)) {
            leaf(GMIME_PART(object));
        }
    }

    void message(GMimeMessagePart *part, int depth) {
        GMimeMessage *message = g_mime_message_part_get_message(part);
        if (message == nullptr)
            return;
        const auto line = [this](const char *label, std::string value) {
            if (value.empty())
                return;
            builder_.paragraph(ParagraphStyle{});
            TextStyle bold;
            bold.attrib = ISBOLD;
            builder_.text(std::string(label) + ": ", bold);
            builder_.text(value, TextStyle{});
        };
        const auto addresses = [](InternetAddressList *list) {
            if (list == nullptr)
                return std::string();
            char *text = internet_address_list_to_string(list, nullptr, FALSE);
            std::string out = text != nullptr ? text : "";
            g_free(text);
            return out;
        };
        const auto header = [message](const char *name) {
            const char *value = g_mime_object_get_header(GMIME_OBJECT(message), name);
            return std::string(value != nullptr ? value : "");
        };
        line("From", addresses(g_mime_message_get_from(message)));
        line("To", addresses(g_mime_message_get_to(message)));
        line("Date", header("Date"));
        const char *subject = g_mime_message_get_subject(message);
        line("Subject", subject != nullptr ? subject : "");
        if (GMimeObject *body = g_mime_message_get_mime_part(message))
            object(body, depth + 1);
    }

    static bool renderable(GMimeObject *object) {
        if (GMIME_IS_MULTIPART(object) || GMIME_IS_MESSAGE_PART(object))
            return true;
        const std::string type = mediaType(object);
        return type == "text/plain" || type == "text/html" || type == "text/enriched" ||
               type == "text/markdown";
    }

    void multipart(GMimeMultipart *multipart, int depth) {
        const int count = g_mime_multipart_get_count(multipart);
        const std::string type = mediaType(GMIME_OBJECT(multipart));
        if (type == "multipart/alternative") {
            GMimeObject *chosen = nullptr;
            for (int i = 0; i < count; ++i) {
                GMimeObject *part = g_mime_multipart_get_part(multipart, i);
                if (renderable(part))
                    chosen = part;
            }
            if (chosen == nullptr && count > 0) {
                notes_.insert("an alternative with no part that can be shown kept as attachments");
                for (int i = 0; i < count; ++i)
                    object(g_mime_multipart_get_part(multipart, i), depth + 1);
                return;
            }
            if (chosen != nullptr)
                object(chosen, depth + 1);
            return;
        }
        if (type == "multipart/related" && count > 0) {
            GMimeObject *root = g_mime_multipart_get_part(multipart, 0);
            const char *start = g_mime_object_get_content_type_parameter(GMIME_OBJECT(multipart), "start");
            if (start != nullptr) {
                const std::string wanted = stripAngles(start);
                for (int i = 0; i < count; ++i) {
                    GMimeObject *part = g_mime_multipart_get_part(multipart, i);
                    const char *id = g_mime_object_get_content_id(part);
                    if (id != nullptr && stripAngles(id) == wanted)
                        root = part;
                }
            }
            object(root, depth + 1);
            for (int i = 0; i < count; ++i) {
                GMimeObject *part = g_mime_multipart_get_part(multipart, i);
                if (part != root)
                    object(part, depth + 1);
            }
            return;
        }
        if (count == 0) {
            // Without a boundary that matches, the whole body is the preamble: shown as text.
            notes_.insert("a multipart without parts (missing or wrong boundary) shown as its text");
            for (const char *text :
                 {g_mime_multipart_get_prologue(multipart), g_mime_multipart_get_epilogue(multipart)}) {
                if (text != nullptr && *text != '\0')
                    plainLines(decodeCharset(text, "", notes_));
            }
            return;
        }
        for (int i = 0; i < count; ++i)
            object(g_mime_multipart_get_part(multipart, i), depth + 1);
    }

    void leaf(GMimePart *part) {
        if (used_.contains(part))
            return;
        used_.insert(part);
        const std::string type = mediaType(GMIME_OBJECT(part));
        const char *disposition = g_mime_object_get_disposition(GMIME_OBJECT(part));
        const bool attachment = disposition != nullptr && lower(disposition) == "attachment";
        if (!attachment) {
            if (type == "text/plain" || type == "text/enriched" || type == "text/markdown") {
                plainText(part);
                return;
            }
            if (type == "text/html") {
                html(part);
                return;
            }
            if (const auto kind = imageKindOf(type)) {
                const std::vector<std::uint8_t> bytes = decodedContent(part);
                if (const auto size = imageSize(*kind, bytes)) {
                    builder_.paragraph(ParagraphStyle{});
                    builder_.picture(*kind, size->width, size->height, bytes);
                    return;
                }
                notes_.insert("a picture whose size cannot be read kept as an attachment");
            }
        }
        attach(part, type);
    }

    std::string text(GMimePart *part, bool isHtml) {
        const std::vector<std::uint8_t> bytes = decodedContent(part);
        const std::string_view raw(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        const char *declared = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
        std::string charset = declared != nullptr ? declared : "";
        if (charset.empty() && isHtml)
            charset = sniffHtmlCharset(raw);
        return decodeCharset(raw, charset, notes_);
    }

    void plainText(GMimePart *part) { plainLines(text(part, false)); }

    void plainLines(const std::string &content) {
        std::size_t at = 0;
        while (true) {
            std::size_t end = content.find_first_of("\r\n", at);
            if (end == std::string::npos)
                end = content.size();
            // The line end of the last line opens no further paragraph.
            if (!(end == content.size() && at == end && at != 0)) {
                builder_.paragraph(ParagraphStyle{});
                builder_.text(std::string_view(content).substr(at, end - at), TextStyle{});
            }
            if (end == content.size())
                break;
            if (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
                ++end;
            at = end + 1;
        }
    }

    void html(GMimePart *part) {
        const std::string content = text(part, true);
        const HtmlPictureSource pictures = [this](std::string_view src) -> std::optional<HtmlPicture> {
            if (lower(src.substr(0, 4)) != "cid:")
                return std::nullopt;
            const auto found = cids_.find(stripAngles(src.substr(4)));
            if (found == cids_.end())
                return std::nullopt;
            const auto kind = imageKindOf(mediaType(GMIME_OBJECT(found->second)));
            if (!kind)
                return std::nullopt;
            pictureBytes_.push_back(decodedContent(found->second));
            const auto size = imageSize(*kind, pictureBytes_.back());
            if (!size)
                return std::nullopt;
            used_.insert(found->second);
            return HtmlPicture{*kind, pictureBytes_.back(), *size};
        };
        htmlToComposite(content, builder_, pictures);
    }

    void attach(GMimePart *part, const std::string &type) {
        const char *given = g_mime_part_get_filename(part);
        std::string name = given != nullptr ? given : "";
        // Keep only the last path element: a name is not a place to write to.
        if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string::npos)
            name.erase(0, slash + 1);
        if (name.empty() || name == "." || name == "..")
            name = "Part" + std::to_string(++unnamed_) + extensionFor(type);
        MimeAttachment attachment;
        attachment.bytes = decodedContent(part);
        const bool shared = sharedNames_.contains(name);
        if (shared && !takenNames_.contains(name)) {
            attachment.existing = true;
        } else {
            const std::string base = name;
            const std::size_t dot = base.find_last_of('.');
            for (int n = 1; takenNames_.contains(name) || (sharedNames_.contains(name) && !shared); ++n)
                name = dot == std::string::npos || dot == 0
                           ? base + "-" + std::to_string(n)
                           : base.substr(0, dot) + "-" + std::to_string(n) + base.substr(dot);
        }
        takenNames_.insert(name);
        attachment.fileName = name;
        builder_.paragraph(ParagraphStyle{});
        builder_.attachmentIcon(name, name);
        out_.attachments.push_back(std::move(attachment));
    }

    // Everything below the depth bound: text parts as paragraphs, the rest as attachments.
    void flatten(GMimeObject *root) {
        notes_.insert("parts nested deeper than " + std::to_string(kMaxDepth) +
                      " levels shown without their structure");
        std::vector<std::pair<GMimeObject *, int>> stack{{root, 0}};
        while (!stack.empty()) {
            auto [object, depth] = stack.back();
            stack.pop_back();
            if (GMIME_IS_MULTIPART(object)) {
                auto *multipart = GMIME_MULTIPART(object);
                for (int i = g_mime_multipart_get_count(multipart); i > 0; --i)
                    stack.emplace_back(g_mime_multipart_get_part(multipart, i - 1), depth + 1);
            } else if (GMIME_IS_MESSAGE_PART(object)) {
                GMimeMessage *message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
                if (message != nullptr && g_mime_message_get_mime_part(message) != nullptr)
                    stack.emplace_back(g_mime_message_get_mime_part(message), depth + 1);
            } else if (GMIME_IS_PART(object)) {
                GMimePart *part = GMIME_PART(object);
                if (used_.contains(part))
                    continue;
                used_.insert(part);
                const std::string type = mediaType(object);
                if (type.starts_with("text/") && type != "text/html")
                    plainText(part);
                else
                    attach(part, type);
            }
        }
    }

    MimeConversion &out_;
    CompositeBuilder builder_;
    std::set<std::string> sharedNames_;
    std::set<std::string> takenNames_;
    std::map<std::string, GMimePart *> cids_;
    std::set<GMimePart *> used_;
    std::deque<std::vector<std::uint8_t>> pictureBytes_;
    std::set<std::string> notes_;
    int unnamed_ = 0;
};

} // namespace

STATUS convertMimeParts(const std::vector<std::span<const std::uint8_t>> &parts,
                        const MimeObjectSource &objects, MimeConversion &out) {
    out = MimeConversion{};
    ensureGMime();
    GByteArray *stream = g_byte_array_new();
    std::set<std::string> sharedNames;
    std::size_t readable = 0;
    const auto appendBytes = [stream](std::string_view bytes) {
        if (!bytes.empty())
            g_byte_array_append(stream, reinterpret_cast<const guint8 *>(bytes.data()),
                                static_cast<guint>(bytes.size()));
    };
    for (std::size_t index = 0; index < parts.size(); ++index) {
        const std::span<const std::uint8_t> value = parts[index];
        if (value.size() < 2 + kMimePartHeader || wordAt(value, 0) != TYPE_MIME_PART) {
            logf("MIME conversion: part %zu is not a MIME part of at least %zu bytes; skipped", index + 1,
                 kMimePartHeader);
            continue;
        }
        const std::span<const std::uint8_t> data = value.subspan(2);
        const DWORD flags = dwordAt(data, 2);
        const std::size_t byteCount = wordAt(data, 8);
        std::size_t boundaryLength = wordAt(data, 10);
        std::size_t headersLength = wordAt(data, 12);
        const std::size_t available = data.size() - kMimePartHeader;
        if (byteCount != available)
            logf("MIME conversion: part %zu counts %zu bytes of part data but holds %zu", index + 1,
                 byteCount, available);
        if (boundaryLength > available || headersLength > available - boundaryLength) {
            logf("MIME conversion: part %zu has boundary and header lengths (%zu, %zu) beyond its %zu bytes; "
                 "read as far as it goes",
                 index + 1, boundaryLength, headersLength, available);
            boundaryLength = std::min(boundaryLength, available);
            headersLength = std::min(headersLength, available - boundaryLength);
        }
        const auto *bytes = reinterpret_cast<const char *>(data.data() + kMimePartHeader);
        const std::string_view boundary(bytes, boundaryLength);
        const std::string_view headers(bytes + boundaryLength, headersLength);
        std::string_view body(bytes + boundaryLength + headersLength,
                              available - boundaryLength - headersLength);
        std::vector<std::uint8_t> objectBody;
        if ((flags & MIME_PART_BODY_IN_DBOBJECT) != 0) {
            const std::string name(body);
            if ((flags & MIME_PART_SHARED_DBOBJECT) != 0)
                sharedNames.insert(name);
            else
                out.consumedObjects.insert(name);
            const auto found = objects ? objects(name) : std::nullopt;
            if (!found) {
                logf("MIME conversion: part %zu keeps its body in the attachment '%s', which cannot be read; "
                     "the part is empty",
                     index + 1, name.c_str());
                body = {};
            } else {
                body = std::string_view(reinterpret_cast<const char *>(found->data()), found->size());
            }
        }
        if (stream->len == 0 && headers.empty() && boundary.empty())
            appendBytes("Content-Type: text/plain\r\n\r\n");
        if (!boundary.empty() && stream->len > 0 && stream->data[stream->len - 1] != '\n' &&
            boundary[0] != '\r' && boundary[0] != '\n')
            appendBytes("\r\n");
        appendBytes(boundary);
        appendBytes(headers);
        appendBytes(body);
        ++readable;
    }
    if (readable == 0) {
        g_byte_array_unref(stream);
        logf("MIME conversion: none of the %zu items is a readable MIME part", parts.size());
        return ERR_MIME_PARSE_BAD_DATA;
    }
    GObjectRef<GMimeStream> memory(g_mime_stream_mem_new_with_byte_array(stream));
    GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(memory.object));
    GObjectRef<GMimeObject> root(g_mime_parser_construct_part(parser.object, nullptr));
    if (root.object == nullptr) {
        logf("MIME conversion: the parts do not make a MIME entity");
        return ERR_MIME_PARSE_BAD_DATA;
    }
    Renderer(out, std::move(sharedNames)).render(root.object);
    return NOERROR;
}

} // namespace notesemu
