#include "DxlLoader.h"

#include "Composite.h"
#include "DxlValues.h"
#include "ImageResource.h"
#include "Log.h"
#include "Ods.h"
#include "RichText.h"
#include "Translate.h"
#include "XmlNode.h"

#include <notes/nsfdata.h>
#include <notes/nsfnote.h>

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace notesemu {
namespace {

constexpr std::string_view kDxlNamespace = "http://www.lotus.com/dxl";
constexpr char kNamespaceSeparator = ' ';
constexpr std::size_t kReadChunk = 1 << 20;
// Attachment objects are numbered in their own range, away from note IDs.
constexpr DWORD kFirstObjectId = 0x40000000;
// The largest value one item can hold: its length must fit the ITEM table's WORD for summary
// items and the runtime's DWORD everywhere else.
constexpr std::size_t kMaxListEntries = 0xFFFF;
// MIME parts, which are decoded while loading anyway, stay in memory below this size: a value
// left in the file costs a record of its own.
constexpr std::uint64_t kMinLazyBytes = 64;

enum class Tag : std::uint8_t {
    Database,
    DatabaseInfo,
    Acl,
    AclEntry,
    Role,
    Note,
    NoteInfo,
    NoteTime,
    UpdatedBy,
    UpdatedByName,
    Revisions,
    Item,
    Text,
    TextList,
    Number,
    NumberList,
    DateTime,
    DateTimeList,
    DateTimePair,
    Raw,
    Object,
    File,
    FileTime,
    FileData,
    Formula,
    RichText,
    Picture,
    Break,
    NonXmlChar,
    Skip,
};
constexpr std::size_t kTagCount = static_cast<std::size_t>(Tag::Skip) + 1;

enum class ValueKind : std::uint8_t {
    None,
    Text,
    TextList,
    Number,
    NumberList,
    DateTime,
    DateTimeList,
    Raw,
    Object,
    Formula,
    RichText
};

WORD classOfElement(std::string_view element) {
    static const std::map<std::string_view, WORD> kClasses = {
        {"document", NOTE_CLASS_DOCUMENT},
        {"profiledocument", NOTE_CLASS_DOCUMENT},
        {"helpaboutdocument", NOTE_CLASS_INFO},
        {"helpusingdocument", NOTE_CLASS_HELP},
        {"form", NOTE_CLASS_FORM},
        {"subform", NOTE_CLASS_FORM},
        {"page", NOTE_CLASS_FORM},
        {"frameset", NOTE_CLASS_FORM},
        {"sharedactions", NOTE_CLASS_FORM},
        {"imageresource", NOTE_CLASS_FORM},
        {"appletresource", NOTE_CLASS_FORM},
        {"fileresource", NOTE_CLASS_FORM},
        {"stylesheetresource", NOTE_CLASS_FORM},
        {"view", NOTE_CLASS_VIEW},
        {"folder", NOTE_CLASS_VIEW},
        {"navigator", NOTE_CLASS_VIEW},
        {"sharedcolumn", NOTE_CLASS_VIEW},
        {"agent", NOTE_CLASS_FILTER},
        {"agentdata", NOTE_CLASS_FILTER},
        {"scriptlibrary", NOTE_CLASS_FILTER},
        {"databasescript", NOTE_CLASS_FILTER},
        {"outline", NOTE_CLASS_FILTER},
        {"dataconnection", NOTE_CLASS_FILTER},
        {"webservice", NOTE_CLASS_FILTER},
        {"sharedfield", NOTE_CLASS_FIELD},
    };
    const auto found = kClasses.find(element);
    return found == kClasses.end() ? 0 : found->second;
}

WORD classOfNoteAttribute(std::string_view value) {
    static const std::map<std::string_view, WORD> kClasses = {
        {"document", NOTE_CLASS_DOCUMENT},
        {"helpaboutdocument", NOTE_CLASS_INFO},
        {"form", NOTE_CLASS_FORM},
        {"view", NOTE_CLASS_VIEW},
        {"icon", NOTE_CLASS_ICON},
        {"helpindex", NOTE_CLASS_HELP_INDEX},
        {"helpusingdocument", NOTE_CLASS_HELP},
        {"filter", NOTE_CLASS_FILTER},
        {"sharedfield", NOTE_CLASS_FIELD},
        {"replicationformula", NOTE_CLASS_REPLFORMULA},
    };
    const auto found = kClasses.find(value);
    return found == kClasses.end() ? 0 : found->second;
}

// Design flag characters the element name implies when the note carries no $Flags item.
std::string_view impliedDesignFlags(std::string_view element) {
    if (element == "folder")
        return "F";
    if (element == "imageresource")
        return "i";
    if (element == "navigator")
        return "G";
    if (element == "page")
        return "W";
    if (element == "subform")
        return "U";
    return {};
}

bool isTrue(std::string_view value) {
    return value == "true";
}

void putWord(std::vector<std::uint8_t> &out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putBytes(std::vector<std::uint8_t> &out, const void *data, std::size_t size) {
    if (size == 0)
        return;
    const std::size_t at = out.size();
    out.resize(at + size);
    std::memcpy(out.data() + at, data, size);
}

void appendUtf8(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text, int base) {
    std::uint64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

struct PendingItem {
    std::string name;
    WORD flags = 0;
    bool sealedData = false;
    std::optional<bool> summary;
    ValueKind kind = ValueKind::None;
    std::string skipReason; // non-empty: the item is dropped at its end with this reason
    std::vector<std::string> texts;
    std::size_t listBytes = 0;
    std::vector<double> numbers;
    std::vector<TIMEDATE> times;
    std::vector<TIMEDATE_PAIR> pairs;
    std::vector<TIMEDATE> pairParts;
    bool pairHasEmpty = false;
    WORD rawType = 0;
    std::vector<std::uint8_t> bytes;
    std::optional<LazyBytes> lazy; // the base64 value is read from the file on demand
    bool compiledFormula = false;
    // object/file
    bool hasFile = false;
    bool hasFileData = false;
    std::string fileName;
    WORD hostType = HOST_UNKNOWN, compression = COMPRESS_NONE, attributes = 0, fileFlags = 0;
    std::optional<DWORD> declaredSize;
    TIMEDATE fileCreated{}, fileModified{};
    // richtext
    XmlNode richText;
    std::vector<XmlNode *> richStack;
    std::unique_ptr<RichTextStream> richStream; // takes each top-level block once it has passed
    std::size_t richBytes = 0;     // characters of the whole rich text, for the value limit
    std::size_t richTreeBytes = 0; // memory of the blocks not yet converted
    std::size_t skippedRichDepth = 0;
    bool richFull = false; // over the size limit: nothing more is collected

    void skip(std::string reason) {
        if (skipReason.empty())
            skipReason = std::move(reason);
    }
    // The value cannot be held: the item stays in the note, without its value, and reading it
    // fails. What was collected goes at once.
    void markTooLarge(std::string reason) {
        if (tooLarge.empty())
            tooLarge = std::move(reason);
        texts = {};
        numbers = {};
        times = {};
        pairs = {};
        bytes = {};
        richText.children = {};
        richFull = true;
    }
    std::string tooLarge; // non-empty: the value is over a limit of the runtime
};

struct PendingNote {
    std::string element;
    WORD noteClass = 0;
    std::optional<NOTEID> id;
    ORIGINATORID oid{};
    TIMEDATE created{}, modified{}, revised{}, accessed{}, addedToFile{};
    bool hasModified = false, hasRevised = false;
    std::string title;
    std::string form;
    std::string parent;
    bool conflict = false;
    std::vector<std::string> updatedBy;
    std::vector<TIMEDATE> revisions;
    std::vector<Item> items;
    // imageresource picture
    std::optional<WORD> imageType; // CDIMAGETYPE_xxx, or 0 for a Notes bitmap
    std::vector<std::uint8_t> imageBytes;
    std::string imageProblem;
    std::map<std::string, std::size_t> skippedDesign; // child elements kept out of the note
    bool sealedForDamaged = false; // its $SealedFor could not be loaded
    bool readersDamaged = false;   // a readers item could not be loaded
};

class Loader {
public:
    Loader(std::string_view name, const LoadOptions &options)
        : name_(name), options_(options), database_(std::make_shared<Database>()) {
        database_->path = std::string(name);
    }

    // `fd` is a descriptor of the same file, read by offset for values that stay in it; the
    // database keeps it when any value does. `stamp` is what the file was when loading began.
    LoadResult parseFile(std::FILE *file, int fd, const FileStamp &stamp);
    LoadResult parseText(std::string_view text);

private:
    static void XMLCALL onStart(void *self, const XML_Char *name, const XML_Char **attributes) {
        static_cast<Loader *>(self)->start(name, attributes);
    }
    static void XMLCALL onEnd(void *self, const XML_Char *name) { static_cast<Loader *>(self)->end(name); }
    static void XMLCALL onText(void *self, const XML_Char *text, int length) {
        static_cast<Loader *>(self)->characters(std::string_view(text, static_cast<std::size_t>(length)));
    }
    static void XMLCALL onEntityDecl(void *self, const XML_Char *entityName, int, const XML_Char *, int,
                                     const XML_Char *, const XML_Char *, const XML_Char *, const XML_Char *) {
        auto *loader = static_cast<Loader *>(self);
        loader->fail(ERR_NOT_NSF, std::string("the document declares the entity '") + entityName +
                                      "'; DXL databases declare no entities");
    }
    static void XMLCALL onSkippedEntity(void *self, const XML_Char *entityName, int) {
        static_cast<Loader *>(self)->noteUnknown(std::string("entity reference &") + entityName + ";");
    }

    XML_Parser createParser();
    LoadResult finish(XML_Parser parser, bool parsed);
    void fail(STATUS status, std::string reason);
    // Refuses a token that has not ended within maxTokenBytes of input: expat scans an
    // unfinished token again with every buffer, so waiting for it would take quadratic time.
    bool tokenTooLong();

    void start(const XML_Char *qualified, const XML_Char **attributes);
    void end(const XML_Char *qualified);
    void characters(std::string_view text);

    // The handler of the elements that open inside one element (their parent), by parent tag;
    // null for elements that hold no elements of their own.
    using ChildHandler = void (Loader::*)(std::string_view local, const XML_Char **attributes);
    static const std::array<ChildHandler, kTagCount> kChildHandlers;

    void startRoot(std::string_view full, std::string_view dxlName, const XML_Char **attributes);
    void startDatabaseChild(std::string_view name, const XML_Char **attributes);
    void startAclChild(std::string_view local, const XML_Char **attributes);
    void startAclEntryChild(std::string_view local, const XML_Char **attributes);
    void startNoteInfoChild(std::string_view local, const XML_Char **attributes);
    void startDateTimeHolderChild(std::string_view local, const XML_Char **attributes);
    void startUpdatedByChild(std::string_view local, const XML_Char **attributes);
    void startTextListChild(std::string_view local, const XML_Char **attributes);
    void startNumberListChild(std::string_view local, const XML_Char **attributes);
    void startTextChild(std::string_view local, const XML_Char **attributes);
    void startObjectChild(std::string_view local, const XML_Char **attributes);
    void startFileChild(std::string_view local, const XML_Char **attributes);
    void startNote(std::string_view element, const XML_Char **attributes);
    void startNoteChild(std::string_view name, const XML_Char **attributes);
    void startItem(const XML_Char **attributes);
    void startValue(std::string_view name, const XML_Char **attributes);
    void startRichTextChild(std::string_view name, const XML_Char **attributes);
    void startFile(const XML_Char **attributes);
    // Starts collecting base64 into `target`. With `countOnly` the text is only checked and
    // counted while it can be read back from the file, and decoded only if it cannot.
    void startBase64(std::vector<std::uint8_t> &target, bool lazyCandidate, bool countOnly);
    void trackLazy(std::string_view text);
    // Ends a base64 value; false when it is not valid base64. Sets `lazy` when the value stays
    // in the file.
    bool endBase64(std::optional<LazyBytes> &lazy);
    bool readRange(std::uint64_t offset, std::uint64_t length, std::string &out);
    void endDateTime(Tag parent);
    void flushRichText(PendingItem &item);
    void endItem();
    void endOversizedItem();
    std::vector<std::uint8_t> fileObjectValue(const PendingItem &item, DatabaseObject object);
    static WORD typeOfValue(const PendingItem &item);
    static bool impliedSummary(ValueKind kind);
    void noteProtectionLoss(const PendingItem &item);
    void endNote();
    void finishDatabase();

    void push(Tag tag) { stack_.push_back(tag); }
    // Enters an element whose character data is collected into text_.
    void startText(Tag tag) {
        text_.clear();
        textOverflow_ = false;
        push(tag);
    }
    void skipElement(std::string_view name, bool quietly);
    void noteUnknown(const std::string &what);
    bool appendText(std::string_view text);

    void addItem(PendingNote &note, std::string_view name, WORD flags, std::span<const std::uint8_t> value,
                 bool sealedData = false);
    std::string itemContext() const;

    XML_Parser parser_ = nullptr;
    std::string name_;
    LoadOptions options_;
    std::shared_ptr<Database> database_;
    STATUS failure_ = NOERROR;
    std::string failureReason_;
    bool rootSeen_ = false;
    std::vector<Tag> stack_;
    std::size_t skipDepth_ = 0;
    std::string text_;
    bool textOverflow_ = false;
    std::string dateDst_;
    std::string noteTimeName_;
    std::string fileTimeName_;
    std::optional<PendingNote> note_;
    std::optional<PendingItem> item_;
    std::optional<std::size_t> aclEntry_; // the entry whose roles are being read
    std::vector<std::uint8_t> pictureBytes_;
    std::optional<Base64Decoder> decoder_;
    std::optional<Base64Counter> counter_;
    std::vector<std::uint8_t> valueScratch_;
    std::vector<Item> spareItems_; // the item list of the last note, kept for its capacity
    std::vector<std::uint8_t> *decodeTarget_ = nullptr;
    int sourceFd_ = -1;
    bool lazyTrack_ = false; // the value's text so far lies in the file as plain base64
    bool lazyStarted_ = false;
    std::uint64_t lazyStart_ = 0, lazyEnd_ = 0;
    bool base64Bad_ = false;
    bool base64Overflow_ = false;
    DWORD nextObjectId_ = kFirstObjectId;
    std::map<std::string, std::size_t> unknown_;
    std::size_t skippedItems_ = 0;
    XML_Index lastEvent_ = 0; // where the last element, end tag or piece of text ended
    void noteEvent() { lastEvent_ = XML_GetCurrentByteIndex(parser_) + XML_GetCurrentByteCount(parser_); }
    std::uint64_t fed_ = 0;   // bytes handed to the parser
    std::size_t oversizedItems_ = 0;
    std::size_t sourceFormulas_ = 0;
    std::set<NOTEID> seenIds_;
    std::vector<std::size_t> notesWithoutId_;
};

void Loader::fail(STATUS status, std::string reason) {
    if (failure_ == NOERROR) {
        failure_ = status;
        failureReason_ = std::move(reason);
    }
    if (parser_ != nullptr)
        XML_StopParser(parser_, XML_FALSE);
}

void Loader::noteUnknown(const std::string &what) {
    if (++unknown_[what] == 1)
        logf("%s: skipped %s (first seen in %s)", name_.c_str(), what.c_str(),
             note_ ? ("note element '" + note_->element + "'").c_str() : "the database");
}

std::string Loader::itemContext() const {
    // Names can be tens of kilobytes long; the log shows their start.
    std::string name = item_ ? item_->name : std::string();
    if (name.size() > 80)
        name = name.substr(0, utf8Cut(name, 64)) + "...(" + std::to_string(name.size()) + " bytes)";
    std::string context = "item '" + name + "'";
    if (note_ && note_->id) {
        char id[16];
        std::snprintf(id, sizeof id, "%X", *note_->id);
        context += std::string(" of note 0x") + id;
    }
    return context;
}

void Loader::skipElement(std::string_view name, bool quietly) {
    if (!quietly)
        noteUnknown("element <" + std::string(name) + ">");
    push(Tag::Skip);
    skipDepth_ = 1;
}

bool Loader::appendText(std::string_view text) {
    if (textOverflow_)
        return false;
    if (text_.size() + text.size() > options_.maxValueBytes) {
        textOverflow_ = true;
        text_.clear();
        text_.shrink_to_fit();
        return false;
    }
    text_.append(text);
    return true;
}

XML_Parser Loader::createParser() {
    XML_Parser parser = XML_ParserCreateNS(nullptr, kNamespaceSeparator);
    if (parser == nullptr)
        return nullptr;
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &Loader::onStart, &Loader::onEnd);
    XML_SetCharacterDataHandler(parser, &Loader::onText);
    XML_SetEntityDeclHandler(parser, &Loader::onEntityDecl);
    XML_SetSkippedEntityHandler(parser, &Loader::onSkippedEntity);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    parser_ = parser;
    return parser;
}

bool Loader::tokenTooLong() {
    if (fed_ <= static_cast<std::uint64_t>(lastEvent_) + options_.maxTokenBytes)
        return false;
    fail(ERR_STRUCT, "a tag, comment or declaration runs on for more than " +
                         std::to_string(options_.maxTokenBytes) + " bytes from offset " +
                         std::to_string(lastEvent_) + "; no DXL construct needs one this long");
    return true;
}

LoadResult Loader::parseFile(std::FILE *file, int fd, const FileStamp &stamp) {
    sourceFd_ = fd;
    XML_Parser parser = createParser();
    if (parser == nullptr) {
        closeDescriptor(fd);
        return {ERR_MEMORY, nullptr};
    }
    bool parsed = true;
    while (failure_ == NOERROR) {
        void *buffer = XML_GetBuffer(parser, static_cast<int>(kReadChunk));
        if (buffer == nullptr) {
            fail(ERR_MEMORY, "out of memory for the parser's buffer");
            break;
        }
        const std::size_t count = std::fread(buffer, 1, kReadChunk, file);
        if (count < kReadChunk && std::ferror(file)) {
            fail(ERR_STRUCT, std::string("read error: ") + std::strerror(errno));
            break;
        }
        const bool last = count < kReadChunk && std::feof(file);
        if (XML_ParseBuffer(parser, static_cast<int>(count), last ? XML_TRUE : XML_FALSE) ==
            XML_STATUS_ERROR) {
            parsed = false;
            break;
        }
        fed_ += count;
        if (last || tokenTooLong())
            break;
    }
    LoadResult result = finish(parser, parsed);
    if (result.database && !result.database->lazyValues.empty())
        result.database->source = std::make_shared<const SourceFile>(name_, fd, stamp);
    else
        closeDescriptor(fd);
    sourceFd_ = -1;
    return result;
}

LoadResult Loader::parseText(std::string_view text) {
    XML_Parser parser = createParser();
    if (parser == nullptr)
        return {ERR_MEMORY, nullptr};
    bool parsed = true;
    // Fed in slices so that lengths beyond INT_MAX and the streaming paths are exercised alike.
    std::size_t pos = 0;
    do {
        const std::size_t slice = std::min(kReadChunk, text.size() - pos);
        const bool last = pos + slice == text.size();
        if (XML_Parse(parser, text.data() + pos, static_cast<int>(slice), last ? XML_TRUE : XML_FALSE) ==
            XML_STATUS_ERROR) {
            parsed = false;
            break;
        }
        pos += slice;
        fed_ += slice;
        if (tokenTooLong())
            break;
    } while (pos < text.size() && failure_ == NOERROR);
    return finish(parser, parsed);
}

LoadResult Loader::finish(XML_Parser parser, bool parsed) {
    if (!parsed && failure_ == NOERROR) {
        char where[96];
        std::snprintf(where, sizeof where, " at line %lu, column %lu",
                      static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
                      static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser)));
        fail(rootSeen_ ? ERR_STRUCT : ERR_NOT_NSF,
             std::string(rootSeen_ ? "malformed or truncated DXL: " : "not an XML document: ") +
                 XML_ErrorString(XML_GetErrorCode(parser)) + where);
    }
    XML_ParserFree(parser);
    parser_ = nullptr;
    if (failure_ == NOERROR && !rootSeen_)
        fail(ERR_NOT_NSF, "no root element");
    if (failure_ == NOERROR)
        finishDatabase();
    if (failure_ != NOERROR) {
        logf("%s: cannot be loaded (%s)", name_.c_str(), failureReason_.c_str());
        return {failure_, nullptr};
    }
    for (const auto &[what, count] : unknown_) {
        if (count > 1)
            logf("%s: skipped %s %zu times in all", name_.c_str(), what.c_str(), count);
    }
    if (skippedItems_ != 0)
        logf("%s: %zu item(s) skipped", name_.c_str(), skippedItems_);
    return {NOERROR, std::move(database_)};
}

const std::array<Loader::ChildHandler, kTagCount> Loader::kChildHandlers = [] {
    std::array<ChildHandler, kTagCount> handlers{};
    const auto set = [&handlers](Tag parent, ChildHandler handler) {
        handlers[static_cast<std::size_t>(parent)] = handler;
    };
    set(Tag::Database, &Loader::startDatabaseChild);
    set(Tag::Acl, &Loader::startAclChild);
    set(Tag::AclEntry, &Loader::startAclEntryChild);
    set(Tag::Note, &Loader::startNoteChild);
    set(Tag::NoteInfo, &Loader::startNoteInfoChild);
    for (const Tag parent : {Tag::NoteTime, Tag::Revisions, Tag::FileTime, Tag::DateTimeList, Tag::DateTimePair})
        set(parent, &Loader::startDateTimeHolderChild);
    set(Tag::UpdatedBy, &Loader::startUpdatedByChild);
    set(Tag::Item, &Loader::startValue);
    set(Tag::TextList, &Loader::startTextListChild);
    set(Tag::NumberList, &Loader::startNumberListChild);
    set(Tag::Text, &Loader::startTextChild);
    set(Tag::Object, &Loader::startObjectChild);
    set(Tag::File, &Loader::startFileChild);
    return handlers;
}();

void Loader::start(const XML_Char *qualified, const XML_Char **attributes) {
    noteEvent();
    if (failure_ != NOERROR)
        return;
    if (skipDepth_ != 0) {
        ++skipDepth_;
        return;
    }
    std::string_view full(qualified);
    std::string_view local = full;
    bool inDxl = false;
    if (const std::size_t separator = full.find(kNamespaceSeparator); separator != std::string_view::npos) {
        inDxl = full.substr(0, separator) == kDxlNamespace;
        local = full.substr(separator + 1);
    }
    if (!rootSeen_) {
        startRoot(full, inDxl ? local : std::string_view(), attributes);
        return;
    }
    const Tag parent = stack_.back();
    if (parent == Tag::RichText) {
        startRichTextChild(inDxl ? local : full, attributes);
        return;
    }
    if (!inDxl) {
        skipElement(full, false);
        return;
    }
    // Leaf elements (text, number, datetime, raw data, ...) hold no elements of their own: they
    // have no handler, and whatever they hold is skipped.
    if (const ChildHandler handler = kChildHandlers[static_cast<std::size_t>(parent)]; handler != nullptr)
        (this->*handler)(local, attributes);
    else
        skipElement(local, false);
}

void Loader::startRoot(std::string_view full, std::string_view dxlName, const XML_Char **attributes) {
    if (dxlName != "database") {
        fail(ERR_NOT_NSF, "the root element is <" + std::string(full) +
                              ">, not the DXL <database> element of namespace " + std::string(kDxlNamespace));
        return;
    }
    rootSeen_ = true;
    for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
        const std::string_view key = a[0], value = a[1];
        if (key == "title")
            database_->title = value;
        else if (key == "version")
            database_->version = value;
        else if (key == "maintenanceversion")
            database_->maintenanceVersion = value;
        else if (key == "path")
            database_->dxlPath = value;
        else if (key == "replicaid") {
            std::string hex(value);
            if (hex.size() == 17 && hex[8] == ':')
                hex.erase(8, 1);
            if (const auto id = parseTimedateHex(hex))
                database_->replicaId = *id;
            else
                noteUnknown("replica ID '" + std::string(value) + "'");
        }
    }
    push(Tag::Database);
}

void Loader::startAclChild(std::string_view local, const XML_Char **attributes) {
    if (local == "aclentry") {
        AclEntry entry;
        bool isDefault = false;
        bool levelKnown = false;
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            const std::string_view key = a[0], value = a[1];
            if (key == "name")
                entry.name = value;
            else if (key == "default")
                isDefault = isTrue(value);
            else if (key == "level") {
                if (const auto level = parseAccessLevel(value)) {
                    entry.level = *level;
                    levelKnown = true;
                }
            }
        }
        if (!levelKnown)
            noteUnknown("ACL entry without a known level ('" + entry.name + "', taken as no access)");
        aclEntry_.reset();
        if (isDefault || entry.name == "-Default-") {
            database_->acl.defaultLevel = entry.level;
        } else {
            aclEntry_ = database_->acl.entries.size();
            database_->acl.entries.push_back(std::move(entry));
        }
        push(Tag::AclEntry);
        return;
    }
    if (local == "role") {
        startText(Tag::Role);
        return;
    }
    skipElement(local, local == "logentry");
}

void Loader::startAclEntryChild(std::string_view local, const XML_Char **) {
    if (local == "role")
        startText(Tag::Role);
    else
        skipElement(local, false);
}

void Loader::startNoteInfoChild(std::string_view local, const XML_Char **) {
    if (local == "created" || local == "modified" || local == "revised" || local == "lastaccessed" ||
        local == "addedtofile") {
        noteTimeName_ = local;
        push(Tag::NoteTime);
        return;
    }
    skipElement(local, false);
}

// The children of every element that holds date/times: note times, revisions, file times, lists
// and pairs.
void Loader::startDateTimeHolderChild(std::string_view local, const XML_Char **attributes) {
    if (local == "datetime") {
        text_.clear();
        textOverflow_ = false;
        dateDst_.clear();
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            if (std::string_view(a[0]) == "dst")
                dateDst_ = a[1];
        }
        push(Tag::DateTime);
        return;
    }
    if (stack_.back() == Tag::DateTimeList && local == "datetimepair") {
        item_->pairParts.clear();
        push(Tag::DateTimePair);
        return;
    }
    skipElement(local, false);
}

void Loader::startUpdatedByChild(std::string_view local, const XML_Char **) {
    if (local == "name")
        startText(Tag::UpdatedByName);
    else
        skipElement(local, false);
}

void Loader::startTextListChild(std::string_view local, const XML_Char **) {
    if (local == "text")
        startText(Tag::Text);
    else
        skipElement(local, false);
}

void Loader::startNumberListChild(std::string_view local, const XML_Char **) {
    if (local == "number")
        startText(Tag::Number);
    else
        skipElement(local, false);
}

void Loader::startTextChild(std::string_view local, const XML_Char **attributes) {
    if (local == "break") {
        appendText(std::string_view("\0", 1));
        push(Tag::Break);
        return;
    }
    if (local == "nonxmlchar") {
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            if (std::string_view(a[0]) != "value")
                continue;
            const auto code = parseUnsigned(a[1], 16);
            if (code && *code <= 0x10FFFF) {
                std::string utf8;
                appendUtf8(utf8, static_cast<std::uint32_t>(*code));
                appendText(utf8);
            } else {
                noteUnknown("nonxmlchar value '" + std::string(a[1]) + "'");
            }
        }
        push(Tag::NonXmlChar);
        return;
    }
    skipElement(local, false);
}

void Loader::startObjectChild(std::string_view local, const XML_Char **attributes) {
    if (local == "file" && !item_->hasFile)
        startFile(attributes);
    else
        skipElement(local, false);
}

void Loader::startFileChild(std::string_view local, const XML_Char **) {
    if (local == "created" || local == "modified") {
        fileTimeName_ = local;
        push(Tag::FileTime);
        return;
    }
    if (local == "filedata") {
        item_->bytes.clear();
        item_->hasFileData = true;
        startBase64(item_->bytes, true, true);
        push(Tag::FileData);
        return;
    }
    skipElement(local, false);
}

void Loader::startDatabaseChild(std::string_view name, const XML_Char **attributes) {
    if (name == "databaseinfo") {
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            if (std::string_view(a[0]) == "dbid") {
                if (const auto id = parseTimedateHex(a[1]))
                    database_->dbid = *id;
            }
        }
        // Its dates describe the file, which the runtime does not track.
        skipElement(name, true);
        return;
    }
    if (name == "acl") {
        database_->hasAcl = true;
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            const std::string_view key = a[0];
            if (key == "default") {
                if (const auto level = parseAccessLevel(a[1]))
                    database_->acl.defaultLevel = *level;
            } else if (key == "consistentacl") {
                database_->acl.consistent = isTrue(a[1]);
            }
        }
        push(Tag::Acl);
        return;
    }
    if (name == "fulltextsettings" || name == "launchsettings") {
        skipElement(name, true);
        return;
    }
    if (name == "note" || classOfElement(name) != 0) {
        startNote(name, attributes);
        return;
    }
    skipElement(name, false);
}

void Loader::startNote(std::string_view element, const XML_Char **attributes) {
    PendingNote note;
    note.element = element;
    note.noteClass = classOfElement(element);
    std::string name, alias;
    for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
        const std::string_view key = a[0], value = a[1];
        if (key == "class" && element == "note") {
            note.noteClass = classOfNoteAttribute(value);
            if (note.noteClass == 0)
                noteUnknown("note class '" + std::string(value) + "'");
        } else if (key == "default" && isTrue(value)) {
            note.noteClass |= NOTE_CLASS_DEFAULT;
        } else if (key == "private" && isTrue(value)) {
            note.noteClass |= NOTE_CLASS_PRIVATE;
        } else if (key == "name") {
            name = value;
        } else if (key == "alias") {
            alias = value;
        } else if (key == "form" && element == "document") {
            note.form = value;
        } else if (key == "parent") {
            note.parent = value;
        } else if (key == "conflict") {
            note.conflict = isTrue(value);
        }
    }
    if ((note.noteClass & ~(NOTE_CLASS_DEFAULT | NOTE_CLASS_PRIVATE)) == 0) {
        skipElement(element, true);
        return;
    }
    if (!name.empty() && element != "note" && element != "document" && element != "profiledocument")
        note.title = alias.empty() ? name : name + "|" + alias;
    note.items = std::move(spareItems_);
    note.items.clear();
    note_ = std::move(note);
    push(Tag::Note);
}

void Loader::startNoteChild(std::string_view name, const XML_Char **attributes) {
    PendingNote &note = *note_;
    if (name == "noteinfo") {
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            const std::string_view key = a[0], value = a[1];
            if (key == "noteid") {
                const auto id = parseUnsigned(value, 16);
                if (id && *id <= 0xFFFFFFFF && *id != 0)
                    note.id = static_cast<NOTEID>(*id);
                else
                    noteUnknown("note ID '" + std::string(value) + "'");
            } else if (key == "unid") {
                if (const auto unid = parseUnid(value)) {
                    note.oid.File = unid->File;
                    note.oid.Note = unid->Note;
                } else {
                    noteUnknown("UNID '" + std::string(value) + "'");
                }
            } else if (key == "sequence") {
                if (const auto sequence = parseUnsigned(value, 10))
                    note.oid.Sequence = static_cast<DWORD>(*sequence) & OID_SEQNO_MASK;
            }
        }
        push(Tag::NoteInfo);
        return;
    }
    if (name == "updatedby") {
        push(Tag::UpdatedBy);
        return;
    }
    if (name == "revisions") {
        push(Tag::Revisions);
        return;
    }
    if (name == "item") {
        startItem(attributes);
        return;
    }
    if (note.element == "imageresource" &&
        (name == "gif" || name == "jpeg" || name == "png" || name == "bmp" || name == "notesbitmap")) {
        if (note.imageType) {
            skipElement(name, false);
            return;
        }
        note.imageType = name == "gif"    ? imageTypeGif
                         : name == "jpeg" ? imageTypeJpeg
                         : name == "png"  ? imageTypePng
                         : name == "bmp"  ? imageTypeBmp
                                          : imageTypeNotesBitmap;
        pictureBytes_.clear();
        startBase64(pictureBytes_, false, false);
        push(Tag::Picture);
        return;
    }
    const bool design = note.element != "note" && note.element != "document" && note.element != "profiledocument";
    if (name == "body" && design) {
        // A form's, subform's or page's rich text: its $Body item.
        PendingItem item;
        item.name = "$Body";
        item.summary = false;
        item_ = std::move(item);
        push(Tag::Item);
        return;
    }
    if (name == "wassignedby" || name == "textproperties") {
        skipElement(name, true);
        return;
    }
    if (!design) {
        skipElement(name, false);
        return;
    }
    // Design elements (events, action bars, view columns, outline entries, ...) hold what the
    // runtime does not model; they are counted and named in one line at the end of the note.
    ++note.skippedDesign[std::string(name)];
    push(Tag::Skip);
    skipDepth_ = 1;
}

void Loader::startItem(const XML_Char **attributes) {
    PendingItem item;
    for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
        const std::string_view key = a[0], value = a[1];
        const bool on = isTrue(value);
        if (key == "name")
            item.name = value;
        else if (key == "summary")
            item.summary = on;
        else if (key == "sign")
            item.flags |= on ? ITEM_SIGN : 0;
        else if (key == "seal")
            item.flags |= on ? ITEM_SEAL : 0;
        else if (key == "sealed")
            item.sealedData = on;
        else if (key == "authors")
            item.flags |= on ? ITEM_READWRITERS | ITEM_NAMES : 0;
        else if (key == "names")
            item.flags |= on ? ITEM_NAMES : 0;
        else if (key == "readers")
            item.flags |= on ? ITEM_READERS | ITEM_NAMES : 0;
        else if (key == "placeholder")
            item.flags |= on ? ITEM_PLACEHOLDER : 0;
        else if (key == "protected")
            item.flags |= on ? ITEM_PROTECTED : 0;
        else if (key == "unchanged")
            item.flags |= on ? ITEM_UNCHANGED : 0;
        else
            noteUnknown("item attribute '" + std::string(key) + "'");
    }
    if (item.name.empty())
        item.skip("it has no name");
    else if (item.name.size() > kMaxItemNameBytes)
        item.skip("its name of " + std::to_string(item.name.size()) + " bytes is longer than the " +
                  std::to_string(kMaxItemNameBytes) + " an item name may have");
    item_ = std::move(item);
    push(Tag::Item);
}

void Loader::startValue(std::string_view name, const XML_Char **attributes) {
    PendingItem &item = *item_;
    if (item.kind != ValueKind::None) {
        noteUnknown("second value element <" + std::string(name) + "> of an item");
        push(Tag::Skip);
        skipDepth_ = 1;
        return;
    }
    text_.clear();
    textOverflow_ = false;
    if (name == "text") {
        item.kind = ValueKind::Text;
        push(Tag::Text);
    } else if (name == "textlist") {
        item.kind = ValueKind::TextList;
        push(Tag::TextList);
    } else if (name == "number") {
        item.kind = ValueKind::Number;
        push(Tag::Number);
    } else if (name == "numberlist") {
        item.kind = ValueKind::NumberList;
        push(Tag::NumberList);
    } else if (name == "datetime") {
        item.kind = ValueKind::DateTime;
        dateDst_.clear();
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            if (std::string_view(a[0]) == "dst")
                dateDst_ = a[1];
        }
        push(Tag::DateTime);
    } else if (name == "datetimelist") {
        item.kind = ValueKind::DateTimeList;
        push(Tag::DateTimeList);
    } else if (name == "rawitemdata") {
        item.kind = ValueKind::Raw;
        bool typed = false;
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            if (std::string_view(a[0]) != "type")
                continue;
            const auto type = parseUnsigned(a[1], 16);
            if (type && *type <= 0xFFFF) {
                item.rawType = static_cast<WORD>(*type);
                typed = true;
            }
        }
        if (!typed)
            item.skip("its rawitemdata has no valid type");
        item.bytes.clear();
        // Rich text and MIME parts are what makes a mail file large; their checks need the
        // decoded bytes only for MIME parts (damaged rich text is kept as stored anyway).
        const bool lazyCandidate = typed && (item.rawType == TYPE_COMPOSITE || item.rawType == TYPE_MIME_PART);
        startBase64(item.bytes, lazyCandidate, lazyCandidate && item.rawType == TYPE_COMPOSITE);
        push(Tag::Raw);
    } else if (name == "object") {
        item.kind = ValueKind::Object;
        push(Tag::Object);
    } else if (name == "formula") {
        item.kind = ValueKind::Formula;
        for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
            if (std::string_view(a[0]) == "compiled")
                item.compiledFormula = isTrue(a[1]);
        }
        if (item.compiledFormula) {
            item.bytes.clear();
            startBase64(item.bytes, false, false);
        }
        push(Tag::Formula);
    } else if (name == "richtext") {
        item.kind = ValueKind::RichText;
        item.richText = XmlNode{};
        item.richText.name = "richtext";
        item.richStack = {&item.richText};
        item.richStream = std::make_unique<RichTextStream>();
        push(Tag::RichText);
    } else {
        item.kind = ValueKind::Raw;
        item.skip("its value element <" + std::string(name) + "> is not read by the emulated runtime");
        noteUnknown("item value element <" + std::string(name) + ">");
        push(Tag::Skip);
        skipDepth_ = 1;
    }
}

void Loader::startRichTextChild(std::string_view name, const XML_Char **attributes) {
    PendingItem &item = *item_;
    if (item.skippedRichDepth != 0 || item.richFull || item.richStack.size() > options_.maxRichTextDepth) {
        if (item.skippedRichDepth == 0 && !item.richFull)
            logf("%s: rich text of %s nested deeper than %zu elements; the deeper part is skipped",
                 name_.c_str(), itemContext().c_str(), options_.maxRichTextDepth);
        ++item.skippedRichDepth;
        return;
    }
    XmlNode node;
    node.name = name;
    // What the node costs in memory, not what it took in the file: an empty element is a few
    // bytes of XML and a whole node here.
    std::size_t cost = sizeof(XmlNode) + name.size();
    for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
        node.attributes.emplace_back(a[0], a[1]);
        cost += sizeof(std::pair<std::string, std::string>) + std::strlen(a[0]) + std::strlen(a[1]);
        item.richBytes += std::strlen(a[0]) + std::strlen(a[1]);
    }
    item.richBytes += name.size() + 2;
    item.richTreeBytes += cost;
    if (item.richBytes > options_.maxValueBytes || item.richTreeBytes > options_.maxValueBytes) {
        item.markTooLarge("its rich text is larger than the limit of " +
                          std::to_string(options_.maxValueBytes) + " bytes");
        ++item.skippedRichDepth;
        return;
    }
    XmlNode *parent = item.richStack.back();
    parent->children.push_back(std::move(node));
    item.richStack.push_back(&parent->children.back());
}

void Loader::startFile(const XML_Char **attributes) {
    PendingItem &item = *item_;
    item.hasFile = true;
    static const std::map<std::string_view, WORD> kHosts = {
        {"msdos", HOST_MSDOS},
        {"mac", HOST_MAC},
        {"unknown", HOST_UNKNOWN},
        {"hpfs", HOST_HPFS},
        {"bytearrayext", HOST_BYTEARRAY_EXT},
        {"bytearraypage", HOST_BYTEARRAY_PAGE},
        {"cdstorage", HOST_CDSTORAGE},
        {"stream", HOST_STREAM},
        {"link", HOST_LINK},
        {"ole", HOST_OLE},
        {"olelib", HOST_OLELIB},
    };
    for (const XML_Char **a = attributes; *a != nullptr; a += 2) {
        const std::string_view key = a[0], value = a[1];
        if (key == "name") {
            item.fileName = value;
        } else if (key == "hosttype") {
            const auto found = kHosts.find(value);
            item.hostType = found == kHosts.end() ? HOST_UNKNOWN : found->second;
            if (found == kHosts.end())
                noteUnknown("file host type '" + std::string(value) + "'");
        } else if (key == "compression") {
            item.compression = value == "huffman" ? COMPRESS_HUFF
                               : value == "lz1"   ? COMPRESS_LZ1
                                                  : COMPRESS_NONE;
        } else if (key == "size") {
            const auto size = parseUnsigned(value, 10);
            if (size && *size <= 0xFFFFFFFF)
                item.declaredSize = static_cast<DWORD>(*size);
        } else if (key == "flags" || key == "attribute" || key == "encoding") {
            std::string_view tokens = value;
            while (!tokens.empty()) {
                const std::size_t space = tokens.find_first_of(" ,");
                const std::string_view token = tokens.substr(0, space);
                if (key == "flags")
                    item.fileFlags |= token == "sign"          ? FILEFLAG_SIGN
                                      : token == "storedindoc" ? FILEFLAG_INDOC
                                      : token == "mime"        ? FILEFLAG_MIME
                                                               : 0;
                else if (key == "attribute")
                    item.attributes |= token == "readonly"  ? ATTRIB_READONLY
                                       : token == "private" ? ATTRIB_PRIVATE
                                                            : 0;
                else
                    item.fileFlags |= token == "base64"            ? ENCODE_BASE64
                                      : token == "quotedprintable" ? ENCODE_QP
                                      : token == "uuencode"        ? ENCODE_UUENCODE
                                      : token == "unknown"         ? ENCODE_EXTENSION
                                                                   : ENCODE_NONE;
                if (space == std::string_view::npos)
                    break;
                tokens.remove_prefix(space + 1);
            }
        }
    }
    push(Tag::File);
}

void Loader::startBase64(std::vector<std::uint8_t> &target, bool lazyCandidate, bool countOnly) {
    decodeTarget_ = &target;
    base64Bad_ = false;
    base64Overflow_ = false;
    lazyTrack_ = lazyCandidate && sourceFd_ >= 0;
    lazyStarted_ = false;
    decoder_.reset();
    counter_.reset();
    if (lazyTrack_ && countOnly)
        counter_.emplace();
    else
        decoder_.emplace(target);
}

// Follows the value's text through the file: it can be read back by offset as long as each
// piece expat reports is the file's own bytes (no character references, CDATA markers or
// comments in between) and plain base64.
void Loader::trackLazy(std::string_view text) {
    int offset = 0, size = 0;
    const char *context = XML_GetInputContext(parser_, &offset, &size);
    const XML_Index at = XML_GetCurrentByteIndex(parser_);
    const int count = XML_GetCurrentByteCount(parser_);
    bool plain = context != nullptr && at >= 0 && count > 0 && offset >= 0 && count <= size - offset &&
                 (!lazyStarted_ || static_cast<std::uint64_t>(at) == lazyEnd_);
    // Text that is the input's own bytes is checked by the decoder or counter it goes to; only
    // text expat rewrote (line ends) needs a look at the raw bytes.
    const std::string_view raw = plain ? std::string_view(context + offset, static_cast<std::size_t>(count))
                                       : std::string_view();
    plain = plain && ((raw.data() == text.data() && raw.size() == text.size()) || plainBase64Text(raw));
    if (plain) {
        if (!lazyStarted_)
            lazyStart_ = static_cast<std::uint64_t>(at);
        lazyStarted_ = true;
        lazyEnd_ = static_cast<std::uint64_t>(at) + static_cast<std::uint64_t>(count);
        return;
    }
    lazyTrack_ = false;
    if (!counter_)
        return;
    // From here on the value is decoded as it arrives; what was only counted is decoded from
    // the file first.
    counter_.reset();
    decoder_.emplace(*decodeTarget_);
    if (!lazyStarted_ || base64Bad_ || base64Overflow_)
        return;
    std::string counted;
    if (!readRange(lazyStart_, lazyEnd_ - lazyStart_, counted) || !decoder_->feed(counted))
        base64Bad_ = true;
}

bool Loader::endBase64(std::optional<LazyBytes> &lazy) {
    lazy.reset();
    bool valid = !base64Bad_ && !base64Overflow_;
    if (valid && counter_) {
        valid = counter_->finish();
        if (valid && lazyStarted_ && counter_->size() <= 0xFFFFFFFF) {
            lazy = LazyBytes{lazyStart_, lazyEnd_ - lazyStart_, static_cast<std::uint32_t>(counter_->size())};
        } else if (valid && lazyStarted_) {
            // Never reached under the value limit; decoded rather than lost.
            std::string raw;
            std::vector<std::uint8_t> &target = *decodeTarget_;
            Base64Decoder decoder(target);
            valid = readRange(lazyStart_, lazyEnd_ - lazyStart_, raw) && decoder.feed(raw) && decoder.finish();
        }
    } else if (valid) {
        valid = decoder_ && decoder_->finish();
        if (valid && lazyTrack_ && lazyStarted_ && decodeTarget_->size() >= kMinLazyBytes &&
            decodeTarget_->size() <= 0xFFFFFFFF)
            lazy = LazyBytes{lazyStart_, lazyEnd_ - lazyStart_, static_cast<std::uint32_t>(decodeTarget_->size())};
    }
    decoder_.reset();
    counter_.reset();
    decodeTarget_ = nullptr;
    lazyTrack_ = false;
    lazyStarted_ = false;
    return valid;
}

bool Loader::readRange(std::uint64_t offset, std::uint64_t length, std::string &out) {
    out.assign(length, '\0');
    std::size_t done = 0;
    while (done < out.size()) {
        const long long got = readAt(sourceFd_, out.data() + done, out.size() - done, offset + done);
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void Loader::characters(std::string_view text) {
    noteEvent();
    if (failure_ != NOERROR || skipDepth_ != 0 || stack_.empty())
        return;
    switch (stack_.back()) {
    case Tag::Text:
    case Tag::Number:
    case Tag::DateTime:
    case Tag::UpdatedByName:
    case Tag::Role:
        appendText(text);
        return;
    case Tag::Formula:
        if (item_->compiledFormula)
            break;
        appendText(text);
        return;
    case Tag::Raw:
    case Tag::FileData:
    case Tag::Picture:
        break;
    case Tag::RichText: {
        PendingItem &item = *item_;
        if (item.skippedRichDepth != 0 || item.richFull)
            return;
        XmlNode *parent = item.richStack.back();
        const bool joins = !parent->children.empty() && parent->children.back().isText;
        item.richBytes += text.size();
        item.richTreeBytes += text.size() + (joins ? 0 : sizeof(XmlNode));
        if (item.richBytes > options_.maxValueBytes || item.richTreeBytes > options_.maxValueBytes) {
            // The collected tree goes; the element stack stays (never read again) so that the
            // ends still pair up.
            item.markTooLarge("its rich text is larger than the limit of " +
                              std::to_string(options_.maxValueBytes) + " bytes");
            return;
        }
        if (joins) {
            parent->children.back().text.append(text);
        } else {
            XmlNode node;
            node.isText = true;
            node.text = text;
            parent->children.push_back(std::move(node));
        }
        return;
    }
    default:
        return;
    }
    // Base64 content.
    if (lazyTrack_)
        trackLazy(text);
    if (base64Bad_ || base64Overflow_)
        return;
    if (counter_) {
        if (!counter_->feed(text))
            base64Bad_ = true;
        else if (counter_->size() > options_.maxValueBytes)
            base64Overflow_ = true;
        return;
    }
    if (!decoder_)
        return;
    if (!decoder_->feed(text)) {
        base64Bad_ = true;
        return;
    }
    if (decodeTarget_->size() > options_.maxValueBytes) {
        base64Overflow_ = true;
        decodeTarget_->clear();
        decodeTarget_->shrink_to_fit();
    }
}

void Loader::end(const XML_Char *) {
    noteEvent();
    if (failure_ != NOERROR)
        return;
    if (skipDepth_ != 0) {
        if (--skipDepth_ == 0)
            stack_.pop_back();
        return;
    }
    if (stack_.empty())
        return;
    const Tag tag = stack_.back();
    if (tag == Tag::RichText && item_ && (item_->skippedRichDepth != 0 || item_->richStack.size() > 1)) {
        if (item_->skippedRichDepth != 0) {
            --item_->skippedRichDepth;
            return;
        }
        item_->richStack.pop_back();
        if (item_->richStack.size() == 1)
            flushRichText(*item_);
        return;
    }
    if (tag == Tag::RichText && item_)
        flushRichText(*item_);
    stack_.pop_back();
    const Tag parent = stack_.empty() ? Tag::Skip : stack_.back();
    const auto checkBase64 = [&](std::string_view what) {
        const bool valid = endBase64(item_->lazy);
        if (base64Overflow_) {
            item_->lazy.reset();
            item_->markTooLarge("its " + std::string(what) + " is larger than the limit of " +
                                std::to_string(options_.maxValueBytes) + " bytes");
        } else if (!valid) {
            item_->lazy.reset();
            item_->skip("its " + std::string(what) + " is not valid base64");
        }
    };
    switch (tag) {
    case Tag::Text: {
        if (textOverflow_) {
            item_->markTooLarge("its text is larger than the limit of " +
                                std::to_string(options_.maxValueBytes) + " bytes");
            return;
        }
        if (!item_->tooLarge.empty()) {
            text_.clear();
            return;
        }
        // A literal line break in DXL text is a line break of the value, stored as NUL like <break/>.
        std::replace(text_.begin(), text_.end(), '\n', '\0');
        std::string lmbcs = textToLmbcs(text_);
        text_.clear();
        if (parent == Tag::TextList) {
            if (lmbcs.size() > 0xFFFF || item_->texts.size() >= kMaxListEntries) {
                item_->markTooLarge("its text list has an entry or a count beyond 65535");
                return;
            }
            item_->listBytes += lmbcs.size() + 2;
            if (item_->listBytes > options_.maxValueBytes) {
                item_->markTooLarge("its text list is larger than the limit of " +
                                    std::to_string(options_.maxValueBytes) + " bytes");
                return;
            }
        }
        item_->texts.push_back(std::move(lmbcs));
        return;
    }
    case Tag::Number: {
        const std::string_view number = trimmed(text_);
        double value = 0;
        const std::string_view digits = !number.empty() && number.front() == '+' ? number.substr(1) : number;
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (textOverflow_ || number.empty() || result.ec != std::errc() ||
            result.ptr != digits.data() + digits.size())
            item_->skip("'" + std::string(number.substr(0, 40)) + "' is not a number");
        else if (item_->tooLarge.empty() && item_->numbers.size() >= kMaxListEntries)
            item_->markTooLarge("its number list has more than 65535 entries");
        else if (item_->tooLarge.empty())
            item_->numbers.push_back(value);
        text_.clear();
        return;
    }
    case Tag::DateTime:
        endDateTime(parent);
        return;
    case Tag::DateTimePair:
        if (item_->pairHasEmpty) {
            item_->pairHasEmpty = false;
        } else if (item_->pairParts.size() != 2) {
            item_->skip("a datetimepair does not hold two datetime values");
        } else if (item_->tooLarge.empty() && item_->pairs.size() >= kMaxListEntries) {
            item_->markTooLarge("its date list has more than 65535 pairs");
        } else if (item_->tooLarge.empty()) {
            item_->pairs.push_back({item_->pairParts[0], item_->pairParts[1]});
        }
        return;
    case Tag::Role: {
        std::string role(trimmed(text_));
        text_.clear();
        if (textOverflow_ || role.empty())
            return;
        if (parent == Tag::Acl)
            database_->acl.roles.push_back(std::move(role));
        else if (aclEntry_)
            database_->acl.entries[*aclEntry_].roles.push_back(std::move(role));
        return;
    }
    case Tag::UpdatedByName: {
        if (!textOverflow_ && note_->updatedBy.size() < kMaxListEntries)
            note_->updatedBy.push_back(textToLmbcs(trimmed(text_)));
        text_.clear();
        return;
    }
    case Tag::Raw:
        checkBase64("raw item data");
        return;
    case Tag::FileData:
        checkBase64("file data");
        return;
    case Tag::Formula:
        if (item_->compiledFormula) {
            checkBase64("compiled formula");
        } else if (textOverflow_) {
            item_->markTooLarge("its formula is larger than the limit of " +
                                std::to_string(options_.maxValueBytes) + " bytes");
        } else {
            item_->texts = {textToLmbcs(text_)};
            text_.clear();
        }
        return;
    case Tag::Picture: {
        PendingNote &note = *note_;
        if (base64Overflow_)
            note.imageProblem = "the picture is larger than the limit of " +
                                std::to_string(options_.maxValueBytes) + " bytes";
        else if (std::optional<LazyBytes> unused; !endBase64(unused))
            note.imageProblem = "the picture is not valid base64";
        else
            note.imageBytes = std::move(pictureBytes_);
        pictureBytes_ = {};
        return;
    }
    case Tag::Item:
        endItem();
        return;
    case Tag::Note:
        endNote();
        return;
    case Tag::NoteInfo:
    case Tag::NoteTime:
    case Tag::FileTime:
    case Tag::Object:
    case Tag::File:
        return;
    default:
        return;
    }
}

void Loader::endDateTime(Tag parent) {
    const std::optional<TIMEDATE> value =
        textOverflow_ ? std::nullopt : parseDxlDateTime(text_, isTrue(trimmed(dateDst_)));
    const std::string shown(trimmed(text_).substr(0, 40));
    const bool empty = !textOverflow_ && trimmed(text_).empty();
    text_.clear();
    if (parent == Tag::NoteTime) {
        if (!value && empty)
            return; // an empty <datetime/> in noteinfo: the time stays zero
        if (!value) {
            noteUnknown("note time '" + shown + "'");
            return;
        }
        PendingNote &note = *note_;
        if (noteTimeName_ == "created")
            note.created = *value;
        else if (noteTimeName_ == "modified") {
            note.modified = *value;
            note.hasModified = true;
        } else if (noteTimeName_ == "revised") {
            note.revised = *value;
            note.hasRevised = true;
        } else if (noteTimeName_ == "lastaccessed")
            note.accessed = *value;
        else
            note.addedToFile = *value;
        return;
    }
    if (parent == Tag::Revisions) {
        if (value && note_->revisions.size() < kMaxListEntries)
            note_->revisions.push_back(*value);
        else if (!value)
            noteUnknown("revision time '" + shown + "'");
        return;
    }
    if (parent == Tag::FileTime) {
        if (!value) {
            noteUnknown("file time '" + shown + "'");
            return;
        }
        (fileTimeName_ == "created" ? item_->fileCreated : item_->fileModified) = *value;
        return;
    }
    if (!value && empty && (parent == Tag::DateTimeList || parent == Tag::DateTimePair)) {
        // An empty <datetime/> in a list drops that entry (a pair it belongs to goes with it).
        noteUnknown("empty <datetime/> in a date list (the entry is dropped)");
        if (parent == Tag::DateTimePair)
            item_->pairHasEmpty = true;
        return;
    }
    if (!value) {
        item_->skip("'" + shown + "' is not a DXL date/time");
        return;
    }
    if (parent == Tag::DateTimePair) {
        item_->pairParts.push_back(*value);
        return;
    }
    if (!item_->tooLarge.empty())
        return;
    if (item_->times.size() >= kMaxListEntries) {
        item_->markTooLarge("its date list has more than 65535 entries");
        return;
    }
    item_->times.push_back(*value);
}

void Loader::addItem(PendingNote &note, std::string_view name, WORD flags, std::span<const std::uint8_t> value,
                     bool sealedData) {
    Item item;
    item.name = database_->internName(name);
    item.flags = flags;
    item.sealedData = sealedData;
    item.value = database_->arena.store(value);
    note.items.push_back(item);
}

// Converts the top-level blocks collected so far and lets their tree go.
void Loader::flushRichText(PendingItem &item) {
    if (!item.richStream || !item.tooLarge.empty()) {
        item.richText.children.clear();
        item.richTreeBytes = 0;
        return;
    }
    for (const XmlNode &child : item.richText.children)
        item.richStream->addBlock(child);
    item.richText.children.clear();
    item.richTreeBytes = 0;
}

std::vector<std::uint8_t> Loader::fileObjectValue(const PendingItem &item, DatabaseObject object) {
    std::vector<std::uint8_t> value;
    std::string name = textToLmbcs(item.fileName);
    if (name.size() > 0xFFFF) {
        logf("%s: %s names a file of %zu bytes; the name is cut to 65535 bytes", name_.c_str(),
             itemContext().c_str(), name.size());
        name.resize(lmbcsCut(name, 0xFFFF));
    }
    FILEOBJECT file{};
    file.Header.ObjectType = OBJECT_FILE;
    file.Header.RRV = nextObjectId_;
    file.FileNameLength = static_cast<WORD>(name.size());
    file.HostType = item.hostType;
    file.CompressionType = item.compression;
    file.FileAttributes = item.attributes;
    file.Flags = item.fileFlags;
    file.FileSize = item.declaredSize.value_or(static_cast<DWORD>(database_->objectSize(object)));
    file.FileCreated = item.fileCreated;
    file.FileModified = item.fileModified;
    database_->objects[nextObjectId_] = object;
    nextObjectId_ += 4;
    putWord(value, TYPE_OBJECT);
    appendOds(value, file);
    putBytes(value, name.data(), name.size());
    return value;
}

// The type word of the value an element stands for.
WORD Loader::typeOfValue(const PendingItem &item) {
    switch (item.kind) {
    case ValueKind::Text:
        return TYPE_TEXT;
    case ValueKind::TextList:
        return TYPE_TEXT_LIST;
    case ValueKind::Number:
        return TYPE_NUMBER;
    case ValueKind::NumberList:
        return TYPE_NUMBER_RANGE;
    case ValueKind::DateTime:
        return TYPE_TIME;
    case ValueKind::DateTimeList:
        return TYPE_TIME_RANGE;
    case ValueKind::Raw:
        return item.rawType;
    case ValueKind::Object:
        return TYPE_OBJECT;
    case ValueKind::Formula:
        return TYPE_FORMULA;
    case ValueKind::RichText:
        return TYPE_COMPOSITE;
    case ValueKind::None:
        break;
    }
    return TYPE_INVALID_OR_UNKNOWN;
}

// A value over a limit stays visible: a file keeps its file object and only extracting it fails;
// any other item keeps its name, flags and type, and reading its value fails with ERR_MEMORY.
void Loader::endOversizedItem() {
    PendingItem &item = *item_;
    ++oversizedItems_;
    std::vector<std::uint8_t> value;
    STATUS readStatus = ERR_MEMORY;
    if (item.kind == ValueKind::Object && item.hasFile) {
        logf("%s: %s is too large to hold (%s); the attachment stays in the note and extracting it fails",
             name_.c_str(), itemContext().c_str(), item.tooLarge.c_str());
        DatabaseObject object;
        object.status = ERR_MEMORY;
        value = fileObjectValue(item, object);
        readStatus = NOERROR;
    } else {
        logf("%s: %s is too large to hold (%s); it stays in the note without its value and reading it fails",
             name_.c_str(), itemContext().c_str(), item.tooLarge.c_str());
        putWord(value, typeOfValue(item));
    }
    WORD flags = item.flags;
    if (item.summary.value_or(impliedSummary(item.kind)))
        flags |= ITEM_SUMMARY;
    addItem(*note_, item.name, flags, std::move(value), item.sealedData);
    note_->items.back().readStatus = readStatus;
    noteProtectionLoss(item);
    item_.reset();
}

bool Loader::impliedSummary(ValueKind kind) {
    return kind == ValueKind::Text || kind == ValueKind::TextList || kind == ValueKind::Number ||
           kind == ValueKind::NumberList || kind == ValueKind::DateTime || kind == ValueKind::DateTimeList;
}

// An item that protects its note (its encryption list, a readers item) and that could not be
// loaded whole must not leave the note less protected than it was: the note stays sealed for
// nobody, or readable by nobody.
void Loader::noteProtectionLoss(const PendingItem &item) {
    PendingNote &note = *note_;
    if (sameItemName(item.name, "$SealedFor") && !note.sealedForDamaged) {
        note.sealedForDamaged = true;
        logf("%s: the encryption list $SealedFor of %s cannot be read; the note stays encrypted, for nobody",
             name_.c_str(), itemContext().c_str());
    }
    if ((item.flags & ITEM_READERS) != 0 && !note.readersDamaged) {
        note.readersDamaged = true;
        logf("%s: the readers item '%s' cannot be read; the note is readable by nobody", name_.c_str(),
             item.name.c_str());
    }
}

void Loader::endItem() {
    PendingItem &item = *item_;
    std::vector<std::vector<std::uint8_t>> values; // the records of rich text given as XML
    // Every other value is built in one buffer that keeps its capacity from item to item.
    std::vector<std::uint8_t> &value = valueScratch_;
    value.clear();
    const bool impliedSummary = Loader::impliedSummary(item.kind);
    bool formulaSource = false;
    if (item.skipReason.empty() && !item.tooLarge.empty()) {
        endOversizedItem();
        return;
    }
    if (item.skipReason.empty()) {
        switch (item.kind) {
        case ValueKind::None:
            item.skip("it has no value element");
            break;
        case ValueKind::Text:
            putWord(value, TYPE_TEXT);
            if (!item.texts.empty())
                putBytes(value, item.texts.front().data(), item.texts.front().size());
            break;
        case ValueKind::TextList:
            putWord(value, TYPE_TEXT_LIST);
            putWord(value, item.texts.size());
            for (const std::string &text : item.texts)
                putWord(value, text.size());
            for (const std::string &text : item.texts)
                putBytes(value, text.data(), text.size());
            break;
        case ValueKind::Number:
            if (item.numbers.size() != 1) {
                item.skip("it holds no number");
                break;
            }
            putWord(value, TYPE_NUMBER);
            putBytes(value, item.numbers.data(), sizeof(double));
            break;
        case ValueKind::NumberList:
            putWord(value, TYPE_NUMBER_RANGE);
            putWord(value, item.numbers.size());
            putWord(value, 0);
            putBytes(value, item.numbers.data(), item.numbers.size() * sizeof(double));
            break;
        case ValueKind::DateTime:
            if (item.times.size() != 1) {
                item.skip("it holds no date/time");
                break;
            }
            putWord(value, TYPE_TIME);
            putBytes(value, item.times.data(), sizeof(TIMEDATE));
            break;
        case ValueKind::DateTimeList:
            putWord(value, TYPE_TIME_RANGE);
            putWord(value, item.times.size());
            putWord(value, item.pairs.size());
            putBytes(value, item.times.data(), item.times.size() * sizeof(TIMEDATE));
            putBytes(value, item.pairs.data(), item.pairs.size() * sizeof(TIMEDATE_PAIR));
            break;
        case ValueKind::Raw: {
            if (item.lazy && item.rawType == TYPE_COMPOSITE)
                break; // checked when it is read: damaged rich text is kept as stored in any case
            const std::string_view problem = rawValueProblem(item.rawType, item.bytes);
            if (!problem.empty() && item.rawType == TYPE_COMPOSITE) {
                // Damaged rich text is kept as it is stored: its readers meet the damage when they
                // walk the records and keep everything before it.
                logf("Item %s: its rich text is damaged (%.*s); kept as stored", item.name.c_str(),
                     static_cast<int>(problem.size()), problem.data());
            } else if (!problem.empty()) {
                char type[8];
                std::snprintf(type, sizeof type, "%X", item.rawType);
                item.skip("its raw data does not fit type 0x" + std::string(type) + ": " +
                          std::string(problem));
                break;
            }
            value.reserve(item.bytes.size() + 2);
            putWord(value, item.rawType);
            putBytes(value, item.bytes.data(), item.bytes.size());
            break;
        }
        case ValueKind::Formula:
            putWord(value, TYPE_FORMULA);
            if (!item.compiledFormula) {
                // Kept as its source text so that no item of the source goes missing; the runtime
                // compiles no formulas, so readers of compiled code find text here.
                const std::string source = item.texts.empty() ? std::string() : item.texts.front();
                ++sourceFormulas_;
                if (sourceFormulas_ == 1)
                    logf("%s: %s is a formula given as source text; kept as a formula item holding that "
                         "text (not compiled)",
                         name_.c_str(), itemContext().c_str());
                putBytes(value, source.data(), source.size());
                formulaSource = true;
                break;
            }
            putBytes(value, item.bytes.data(), item.bytes.size());
            break;
        case ValueKind::Object: {
            if (!item.hasFile) {
                item.skip("its object holds no file");
                break;
            }
            if (!item.hasFileData)
                logf("%s: %s names the file '%s' but carries no file data; its object is empty",
                     name_.c_str(), itemContext().c_str(), item.fileName.c_str());
            const std::size_t size = item.lazy ? item.lazy->size : item.bytes.size();
            if (item.compression == COMPRESS_NONE && item.hasFileData && item.declaredSize &&
                *item.declaredSize != size)
                logf("%s: %s declares %u bytes but its file data has %zu", name_.c_str(),
                     itemContext().c_str(), *item.declaredSize, size);
            DatabaseObject object;
            if (item.lazy) {
                object.lazy = static_cast<std::uint32_t>(database_->lazyValues.size());
                database_->lazyValues.push_back(*item.lazy);
            } else {
                object.bytes = database_->arena.store(std::span<const std::uint8_t>(item.bytes));
            }
            value = fileObjectValue(item, object);
            break;
        }
        case ValueKind::RichText: {
            values = item.richStream->finish();
            if (values.empty()) {
                putWord(value, TYPE_COMPOSITE);
                values.push_back(std::move(value));
            }
            break;
        }
        }
    }
    if (!item.skipReason.empty()) {
        ++skippedItems_;
        logf("%s: %s skipped: %s", name_.c_str(), itemContext().c_str(), item.skipReason.c_str());
        noteProtectionLoss(item);
        item_.reset();
        return;
    }
    WORD flags = item.flags;
    if (item.summary.value_or(impliedSummary))
        flags |= ITEM_SUMMARY;
    // Summary values and names lists are read by searches and access checks straight from the
    // database, so they stay in memory.
    if (item.kind == ValueKind::Raw && item.lazy &&
        (flags & (ITEM_SUMMARY | ITEM_NAMES | ITEM_READERS | ITEM_READWRITERS)) == 0) {
        addItem(*note_, item.name, flags, {}, item.sealedData);
        Item &added = note_->items.back();
        added.value = {};
        added.lazyType = item.rawType;
        added.lazy = static_cast<std::uint32_t>(database_->lazyValues.size());
        database_->lazyValues.push_back(*item.lazy);
        item_.reset();
        return;
    }
    if (item.kind == ValueKind::Raw && item.lazy && item.rawType == TYPE_COMPOSITE && value.empty()) {
        // Only counted so far: held in memory after all.
        std::string raw;
        Base64Decoder decoder(item.bytes);
        if (!readRange(item.lazy->offset, item.lazy->rawLength, raw) || !decoder.feed(raw) || !decoder.finish()) {
            ++skippedItems_;
            logf("%s: %s skipped: its raw item data cannot be read back from the file", name_.c_str(),
                 itemContext().c_str());
            item_.reset();
            return;
        }
        putWord(value, item.rawType);
        putBytes(value, item.bytes.data(), item.bytes.size());
    }
    if (item.kind != ValueKind::RichText) {
        addItem(*note_, item.name, flags, value, item.sealedData);
        note_->items.back().formulaSource = formulaSource;
    }
    for (const std::vector<std::uint8_t> &record : values)
        addItem(*note_, item.name, flags, record, item.sealedData);
    item_.reset();
}

void Loader::endNote() {
    PendingNote &note = *note_;
    if (!note.skippedDesign.empty()) {
        std::string list;
        for (const auto &[element, count] : note.skippedDesign)
            list += (list.empty() ? "<" : ", <") + element + ">" + (count > 1 ? " x" + std::to_string(count) : "");
        logf("%s: <%s> %s: design elements not modelled by the runtime skipped: %s", name_.c_str(),
             note.element.c_str(), note.title.empty() ? "(untitled)" : note.title.c_str(), list.c_str());
    }
    PendingNote synthesized;
    const auto has = [&](std::string_view name) { return findItem(note.items, name) != nullptr; };
    const auto textValue = [](WORD type, const std::vector<std::string> &texts) {
        std::vector<std::uint8_t> value;
        putWord(value, type);
        if (type == TYPE_TEXT) {
            putBytes(value, texts.front().data(), texts.front().size());
            return value;
        }
        putWord(value, texts.size());
        for (const std::string &text : texts)
            putWord(value, text.size());
        for (const std::string &text : texts)
            putBytes(value, text.data(), text.size());
        return value;
    };
    if (!note.title.empty() && !has("$TITLE"))
        addItem(synthesized, "$TITLE", ITEM_SUMMARY, textValue(TYPE_TEXT, {textToLmbcs(note.title)}));
    if (const std::string_view flags = impliedDesignFlags(note.element); !flags.empty() && !has("$Flags"))
        addItem(synthesized, "$Flags", ITEM_SUMMARY, textValue(TYPE_TEXT, {std::string(flags)}));
    if (!note.form.empty() && !has("Form"))
        addItem(synthesized, "Form", ITEM_SUMMARY, textValue(TYPE_TEXT, {textToLmbcs(note.form)}));
    if (!note.parent.empty() && !has("$REF")) {
        if (const auto unid = parseUnid(note.parent)) {
            std::vector<std::uint8_t> value;
            putWord(value, TYPE_NOTEREF_LIST);
            putWord(value, 1);
            putBytes(value, &*unid, sizeof *unid);
            addItem(synthesized, "$REF", ITEM_SUMMARY, std::move(value));
        } else {
            noteUnknown("parent reference '" + note.parent + "' (only UNIDs are resolved)");
        }
    }
    if (note.conflict && !has("$Conflict"))
        addItem(synthesized, "$Conflict", ITEM_SUMMARY, textValue(TYPE_TEXT, {std::string()}));
    if (!note.updatedBy.empty() && !has("$UpdatedBy"))
        addItem(synthesized, "$UpdatedBy", ITEM_SUMMARY | ITEM_NAMES,
                textValue(TYPE_TEXT_LIST, note.updatedBy));
    if (!note.revisions.empty() && !has("$Revisions")) {
        std::vector<std::uint8_t> value;
        putWord(value, TYPE_TIME_RANGE);
        putWord(value, note.revisions.size());
        putWord(value, 0);
        putBytes(value, note.revisions.data(), note.revisions.size() * sizeof(TIMEDATE));
        addItem(synthesized, "$Revisions", ITEM_SUMMARY, std::move(value));
    }
    if (note.imageType && !has("$ImageData")) {
        if (!note.imageProblem.empty()) {
            logf("%s: the picture of image resource '%s' is skipped: %s", name_.c_str(), note.title.c_str(),
                 note.imageProblem.c_str());
        } else {
            std::string problem;
            std::vector<std::vector<std::uint8_t>> values =
                imageDataItems(*note.imageType, note.imageBytes, problem);
            if (values.empty())
                logf("%s: the picture of image resource '%s' is skipped: %s", name_.c_str(),
                     note.title.c_str(), problem.c_str());
            for (std::vector<std::uint8_t> &value : values)
                addItem(synthesized, "$ImageData", 0, std::move(value));
        }
    }

    Note record;
    record.noteClass = note.noteClass;
    record.oid = note.oid;
    record.created = note.created;
    record.modified = note.hasModified ? note.modified : note.revised;
    record.oid.SequenceTime = note.hasRevised ? note.revised : note.modified;
    record.accessed = note.accessed;
    record.addedToFile = note.addedToFile;
    record.itemCount = static_cast<std::uint32_t>(synthesized.items.size() + note.items.size());
    record.items = database_->items.append(synthesized.items, note.items);
    record.sealed = note.sealedForDamaged || findItem(database_->itemsOf(record), "$SealedFor") != nullptr;
    record.unreadable = note.readersDamaged;
    if (note.id && seenIds_.insert(*note.id).second) {
        record.id = *note.id;
    } else {
        // DXL import ignores note IDs: a note without one, or with one an earlier note has, gets
        // a fresh ID once every given ID is known.
        if (note.id)
            logf("%s: a second note has the note ID 0x%X; it gets a fresh ID", name_.c_str(), *note.id);
        notesWithoutId_.push_back(database_->notes.size());
    }
    database_->notes.push_back(record);
    spareItems_ = std::move(note.items);
    note_.reset();
}

void Loader::finishDatabase() {
    Database &database = *database_;
    if (!notesWithoutId_.empty()) {
        // Fresh IDs follow the highest ID the file gave, wrap around below the reserved high bit
        // and never take an ID the file gave.
        constexpr NOTEID kLastId = 0x7FFFFFFC;
        NOTEID next = seenIds_.empty() ? 0 : *seenIds_.rbegin();
        next = next >= kLastId ? 4 : (next + 4) & ~NOTEID{3};
        for (const std::size_t index : notesWithoutId_) {
            while (next < 4 || seenIds_.count(next) != 0)
                next = next >= kLastId ? 4 : next + 4;
            seenIds_.insert(next);
            database.notes[index].id = next;
        }
        logf("%s: %zu note(s) without a note ID of their own were given new ones", name_.c_str(),
             notesWithoutId_.size());
    }
    std::sort(database.notes.begin(), database.notes.end(),
              [](const Note &a, const Note &b) { return a.id < b.id; });
    if (database.dbid.Innards[0] == 0 && database.dbid.Innards[1] == 0)
        database.dbid = database.replicaId;
    database.notes.shrink_to_fit();
}

} // namespace

LoadOptions &defaultLoadOptions() {
    static LoadOptions options;
    return options;
}

LoadResult loadDxlFile(const std::filesystem::path &path, const LoadOptions &options) {
    // In UTF-8: path.string() is in the code page on Windows, and throws for a name outside it.
    const std::u8string utf8 = path.u8string();
    const std::string name(utf8.begin(), utf8.end());
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        logf("%s: no such file", name.c_str());
        return {ERR_NOEXIST, nullptr};
    }
    if (status.type() == std::filesystem::file_type::directory) {
        logf("%s: is a directory, not a DXL database", name.c_str());
        return {ERR_NOT_NSF, nullptr};
    }
#ifdef _WIN32
    // Windows has no FIFOs in the file system; a device name or anything but a file is refused.
    if (status.type() != std::filesystem::file_type::regular) {
        logf("%s: is not a regular file; only files hold DXL databases", name.c_str());
        return {ERR_NOT_NSF, nullptr};
    }
    std::FILE *file = openFile(path, "rb");
    if (file == nullptr) {
        const int code = errno;
        logf("%s: cannot be opened: %s", name.c_str(), std::strerror(code));
        return {code == ENOENT ? static_cast<STATUS>(ERR_NOEXIST) : static_cast<STATUS>(ERR_ACCESS), nullptr};
    }
    const int fd = ::_fileno(file);
#else
    // Opened without blocking and checked on the open descriptor, so that a FIFO or a device
    // (or a file swapped for one after the check above) is refused at once instead of blocking.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        logf("%s: cannot be opened: %s", name.c_str(), std::strerror(code));
        return {code == ENOENT ? static_cast<STATUS>(ERR_NOEXIST) : static_cast<STATUS>(ERR_ACCESS), nullptr};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        logf("%s: is not a regular file; only files hold DXL databases", name.c_str());
        ::close(fd);
        return {ERR_NOT_NSF, nullptr};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE *file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        const int code = errno;
        ::close(fd);
        logf("%s: cannot be read: %s", name.c_str(), std::strerror(code));
        return {ERR_ACCESS, nullptr};
    }
#endif
    const std::optional<FileStamp> stamp = fileStampOf(fd);
    // A second descriptor reads values by offset while the first one streams the file.
    const int valuesFd = stamp ? openForReadsAt(fd, path) : -1;
    if (valuesFd < 0) {
        const int code = errno;
        std::fclose(file);
        logf("%s: cannot be read: %s", name.c_str(), std::strerror(code));
        return {ERR_ACCESS, nullptr};
    }
    Loader loader(name, options);
    LoadResult result = loader.parseFile(file, valuesFd, *stamp);
    std::fclose(file);
    return result;
}

LoadResult loadDxlText(std::string_view text, std::string_view name, const LoadOptions &options) {
    Loader loader(name, options);
    return loader.parseText(text);
}

} // namespace notesemu
