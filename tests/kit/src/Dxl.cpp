#include "tessel/kit/Dxl.h"

#include "XmlText.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace tessel::kit {

// ---- model helpers ---------------------------------------------------------------------------

Par &Par::text(std::string_view s) {
    content.emplace_back(TextSpan{std::string(s)});
    return *this;
}

Par &Par::run(Font font, std::string_view s) {
    content.emplace_back(Run{std::move(font), {TextSpan{std::string(s)}}});
    return *this;
}

Par &Par::br() {
    content.emplace_back(Break{});
    return *this;
}

RichText &RichText::pardef(ParDef def) {
    blocks.emplace_back(std::move(def));
    return *this;
}

RichText &RichText::par(Par p) {
    blocks.emplace_back(std::move(p));
    return *this;
}

RichText &RichText::par(int def, std::string_view text) {
    return par(Par{def, {TextSpan{std::string(text)}}});
}

Item Item::text(std::string name, std::string text) {
    return {std::move(name), TextValue{std::move(text)}, {}};
}
Item Item::textList(std::string name, std::vector<std::string> texts) {
    return {std::move(name), TextListValue{std::move(texts)}, {}};
}
Item Item::number(std::string name, double value) {
    return {std::move(name), NumberValue{value}, {}};
}
Item Item::numberList(std::string name, std::vector<double> values) {
    return {std::move(name), NumberListValue{std::move(values)}, {}};
}
Item Item::dateTime(std::string name, DateTime value) {
    return {std::move(name), DateTimeValue{value}, {}};
}
Item Item::dateTimeList(std::string name, std::vector<DateTime> values,
                        std::vector<std::pair<DateTime, DateTime>> pairs) {
    return {std::move(name), DateTimeListValue{std::move(values), std::move(pairs)}, {}};
}
Item Item::raw(std::string name, std::uint16_t type, Bytes data) {
    return {std::move(name), RawValue{type, std::move(data)}, {}};
}
Item Item::richTextRaw(std::string name, Bytes records) {
    return raw(std::move(name), 0x0001, std::move(records));
}
Item Item::richText(std::string name, RichText text) {
    return {std::move(name), std::move(text), {}};
}
Item Item::formula(std::string name, std::string source) {
    return {std::move(name), FormulaValue{std::move(source)}, {}};
}
Item Item::file(FileAttachment file, std::string name) {
    Item item{std::move(name), std::move(file), {}};
    item.flags.summary = true;
    return item;
}

Item &Item::summary(bool on) {
    flags.summary = on;
    return *this;
}
Item &Item::sign() {
    flags.sign = true;
    return *this;
}
Item &Item::seal() {
    flags.seal = true;
    return *this;
}
Item &Item::sealed() {
    flags.sealed = true;
    return *this;
}
Item &Item::names() {
    flags.names = true;
    return *this;
}
Item &Item::readers() {
    flags.readers = flags.names = true;
    return *this;
}
Item &Item::authors() {
    flags.authors = flags.names = true;
    return *this;
}
Item &Item::protect() {
    flags.protect = true;
    return *this;
}
Item &Item::placeholder() {
    flags.placeholder = true;
    return *this;
}

Note Note::document(std::string form) {
    Note n;
    n.kind = NoteKind::Document;
    n.form = std::move(form);
    return n;
}

Note Note::raw(std::string noteClass) {
    Note n;
    n.kind = NoteKind::Note;
    n.noteClass = std::move(noteClass);
    return n;
}

static Note design(NoteKind kind, std::string name) {
    Note n;
    n.kind = kind;
    n.name = std::move(name);
    return n;
}

Note Note::formDesign(std::string name) {
    return design(NoteKind::Form, std::move(name));
}
Note Note::view(std::string name) {
    return design(NoteKind::View, std::move(name));
}
Note Note::folder(std::string name) {
    return design(NoteKind::Folder, std::move(name));
}
Note Note::imageResource(std::string name, ImageFile image) {
    Note n = design(NoteKind::ImageResource, std::move(name));
    n.image = std::move(image);
    return n;
}

Item &Note::add(Item item) {
    return items.emplace_back(std::move(item));
}

Item *Note::find(std::string_view name) {
    for (Item &item : items)
        if (item.name == name)
            return &item;
    return nullptr;
}

void Note::addToFolder(const Note &folder) {
    if (folder.kind != NoteKind::Folder || folder.info.unid.empty())
        throw std::invalid_argument("addToFolder needs a folder with a UNID");
    Item *refs = find("$FolderRefs");
    if (!refs)
        refs = &add(Item::textList("$FolderRefs", {}));
    auto *list = std::get_if<TextListValue>(&refs->value);
    if (!list)
        throw std::invalid_argument("$FolderRefs is not a text list");
    list->texts.push_back(folder.info.unid.text());
}

void Note::sealFor(std::vector<std::string> names) {
    Item *sealed = find("$SealedFor");
    if (!sealed) {
        add(Item::textList("$SealedFor", std::move(names)).names());
        return;
    }
    auto *list = std::get_if<TextListValue>(&sealed->value);
    if (!list)
        throw std::invalid_argument("$SealedFor is not a text list");
    list->texts.insert(list->texts.end(), names.begin(), names.end());
}

std::uint32_t IdAllocator::nextNoteId() {
    const std::uint32_t id = nextNoteId_;
    nextNoteId_ += 4;
    return id;
}

Unid IdAllocator::nextUnid() {
    Unid u;
    u.file = random_.next();
    u.note = random_.next();
    return u;
}

void IdAllocator::assign(Note &note) {
    if (note.info.noteId == 0)
        note.info.noteId = nextNoteId();
    if (note.info.unid.empty())
        note.info.unid = nextUnid();
}

// ---- serialisation ---------------------------------------------------------------------------

namespace {

using xml::attr;

void appendBase64Block(std::string &out, std::span<const std::uint8_t> data) {
    out += '\n';
    for (std::size_t off = 0; off < data.size(); off += 57) {
        out += base64(data.subspan(off, std::min<std::size_t>(57, data.size() - off)));
        out += '\n';
    }
}

std::string formatNumber(double v) {
    if (!std::isfinite(v))
        throw std::invalid_argument("DXL numbers must be finite");
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec != std::errc())
        throw std::invalid_argument("number does not format");
    return std::string(buf, end);
}

void appendDateTime(std::string &out, const DateTime &t) {
    out += t.dst && t.kind == DateTime::Kind::DateAndTime ? "<datetime dst='true'>" : "<datetime>";
    out += t.toDxl();
    out += "</datetime>";
}

const char *imageElement(ImageFile::Format f) {
    switch (f) {
    case ImageFile::Format::Gif:
        return "gif";
    case ImageFile::Format::Jpeg:
        return "jpeg";
    case ImageFile::Format::Png:
        return "png";
    }
    return "gif";
}

void appendTokens(std::string &out, std::string_view name, const std::vector<std::string> &tokens) {
    if (tokens.empty())
        return;
    std::string joined;
    for (const std::string &t : tokens) {
        if (!joined.empty())
            joined += ' ';
        joined += t;
    }
    attr(out, name, joined);
}

void appendFont(std::string &out, const Font &f) {
    out += "<font";
    if (!f.name.empty())
        attr(out, "name", f.name);
    if (!f.size.empty())
        attr(out, "size", f.size);
    if (!f.color.empty())
        attr(out, "color", f.color);
    if (!f.style.empty())
        attr(out, "style", f.style);
    out += "/>";
}

struct InlineWriter {
    std::string &out;
    void operator()(const TextSpan &t) const { xml::appendText(out, t.text, true); }
    void operator()(const Break &) const { out += "<break/>"; }
    void operator()(const Run &r) const {
        out += "<run>";
        appendFont(out, r.font);
        for (const auto &c : r.content)
            std::visit([this](const auto &v) { (*this)(v); }, c);
        out += "</run>";
    }
};

void appendRichText(std::string &out, const RichText &rt) {
    out += "<richtext>";
    for (const Block &b : rt.blocks) {
        out += '\n';
        if (const auto *d = std::get_if<ParDef>(&b)) {
            out += "<pardef";
            attr(out, "id", std::to_string(d->id));
            const std::pair<const char *, const std::string *> attrs[] = {
                {"align", &d->align},
                {"list", &d->list},
                {"leftmargin", &d->leftMargin},
                {"rightmargin", &d->rightMargin},
                {"firstlineleftmargin", &d->firstLineLeftMargin},
                {"spacebefore", &d->spaceBefore},
                {"spaceafter", &d->spaceAfter},
                {"linespacing", &d->lineSpacing},
                {"hide", &d->hide}};
            for (const auto &[name, value] : attrs)
                if (!value->empty())
                    attr(out, name, *value);
            if (d->keepWithNext)
                attr(out, "keepwithnext", *d->keepWithNext ? "true" : "false");
            if (d->keepTogether)
                attr(out, "keeptogether", *d->keepTogether ? "true" : "false");
            out += "/>";
        } else {
            const Par &p = std::get<Par>(b);
            out += "<par";
            if (p.def)
                attr(out, "def", std::to_string(*p.def));
            if (p.content.empty()) {
                out += "/>";
                continue;
            }
            out += '>';
            for (const Inline &in : p.content)
                std::visit(InlineWriter{out}, in);
            out += "</par>";
        }
    }
    out += "</richtext>";
}

bool impliedSummary(const ItemValue &v) {
    return std::holds_alternative<TextValue>(v) || std::holds_alternative<TextListValue>(v) ||
           std::holds_alternative<NumberValue>(v) || std::holds_alternative<NumberListValue>(v) ||
           std::holds_alternative<DateTimeValue>(v) || std::holds_alternative<DateTimeListValue>(v);
}

struct ValueWriter {
    std::string &out;

    void operator()(const TextValue &v) const {
        if (v.text.empty()) {
            out += "<text/>";
            return;
        }
        out += "<text>";
        xml::appendText(out, v.text, true);
        out += "</text>";
    }
    void operator()(const TextListValue &v) const {
        out += "<textlist>";
        for (const std::string &t : v.texts)
            (*this)(TextValue{t});
        out += "</textlist>";
    }
    void operator()(const NumberValue &v) const {
        out += "<number>";
        out += formatNumber(v.value);
        out += "</number>";
    }
    void operator()(const NumberListValue &v) const {
        out += "<numberlist>";
        for (double d : v.values)
            (*this)(NumberValue{d});
        out += "</numberlist>";
    }
    void operator()(const DateTimeValue &v) const { appendDateTime(out, v.value); }
    void operator()(const DateTimeListValue &v) const {
        out += "<datetimelist>";
        for (const DateTime &t : v.values)
            appendDateTime(out, t);
        for (const auto &[lo, hi] : v.pairs) {
            out += "<datetimepair>";
            appendDateTime(out, lo);
            appendDateTime(out, hi);
            out += "</datetimepair>";
        }
        out += "</datetimelist>";
    }
    void operator()(const RawValue &v) const {
        char type[8];
        std::snprintf(type, sizeof type, "%x", v.type);
        out += "<rawitemdata type='";
        out += type;
        if (v.data.empty()) {
            out += "'/>";
            return;
        }
        out += "'>";
        appendBase64Block(out, v.data);
        out += "</rawitemdata>";
    }
    void operator()(const FormulaValue &v) const {
        out += "<formula>";
        xml::appendText(out, v.source, false);
        out += "</formula>";
    }
    void operator()(const FileAttachment &f) const {
        out += "<object><file";
        attr(out, "hosttype", f.hostType);
        attr(out, "compression", f.compression);
        if (f.desiredCompression)
            attr(out, "desiredcompression", *f.desiredCompression);
        appendTokens(out, "flags", f.flags);
        appendTokens(out, "attribute", f.attributes);
        attr(out, "encoding", f.encoding);
        attr(out, "name", f.name);
        attr(out, "size", std::to_string(f.data.size()));
        out += ">\n";
        if (f.created) {
            out += "<created>";
            appendDateTime(out, *f.created);
            out += "</created>";
        }
        if (f.modified) {
            out += "<modified>";
            appendDateTime(out, *f.modified);
            out += "</modified>";
        }
        out += "<filedata>";
        appendBase64Block(out, f.data);
        out += "</filedata></file></object>";
    }
    void operator()(const RichText &rt) const { appendRichText(out, rt); }
};

void appendItem(std::string &out, const Item &item) {
    out += "<item";
    attr(out, "name", item.name);
    const ItemFlags &f = item.flags;
    const bool implied = impliedSummary(item.value);
    if (f.summary && *f.summary != implied)
        attr(out, "summary", *f.summary ? "true" : "false");
    const std::pair<const char *, bool> flags[] = {
        {"sign", f.sign},   {"seal", f.seal},       {"sealed", f.sealed},     {"authors", f.authors},
        {"names", f.names}, {"readers", f.readers}, {"protected", f.protect}, {"placeholder", f.placeholder}};
    for (const auto &[name, on] : flags)
        if (on)
            attr(out, name, "true");
    out += '>';
    std::visit(ValueWriter{out}, item.value);
    out += "</item>";
}

const char *elementName(const Note &n) {
    switch (n.kind) {
    case NoteKind::Note:
        return "note";
    case NoteKind::Document:
        return "document";
    case NoteKind::Form:
        return "form";
    case NoteKind::View:
        return "view";
    case NoteKind::Folder:
        return "folder";
    case NoteKind::ImageResource:
        return "imageresource";
    }
    return "note";
}

void appendNoteInfo(std::string &out, const NoteInfo &info) {
    out += "<noteinfo";
    char id[16];
    std::snprintf(id, sizeof id, "%" PRIx32, info.noteId);
    attr(out, "noteid", id);
    attr(out, "unid", info.unid.text());
    attr(out, "sequence", std::to_string(info.sequence));
    const std::pair<const char *, const std::optional<DateTime> *> times[] = {
        {"created", &info.created},
        {"modified", &info.modified},
        {"revised", &info.revised},
        {"lastaccessed", &info.lastAccessed},
        {"addedtofile", &info.addedToFile}};
    bool any = false;
    for (const auto &[name, t] : times) {
        if (!*t)
            continue;
        if (!any)
            out += '>';
        any = true;
        out += '\n';
        out += '<';
        out += name;
        out += '>';
        appendDateTime(out, **t);
        out += "</";
        out += name;
        out += '>';
    }
    out += any ? "</noteinfo>" : "/>";
}

} // namespace

std::string noteToDxl(const Note &n) {
    std::string out;
    const char *element = elementName(n);
    out += '<';
    out += element;
    switch (n.kind) {
    case NoteKind::Note:
        attr(out, "class", n.noteClass);
        break;
    case NoteKind::Document:
        if (!n.form.empty())
            attr(out, "form", n.form);
        break;
    default:
        attr(out, "name", n.name);
        if (!n.alias.empty())
            attr(out, "alias", n.alias);
        break;
    }
    if (n.isDefault)
        attr(out, "default", "true");
    out += ">\n";
    appendNoteInfo(out, n.info);
    if (!n.updatedBy.empty()) {
        out += "\n<updatedby>";
        for (const std::string &name : n.updatedBy) {
            out += "<name>";
            xml::appendText(out, name, false);
            out += "</name>";
        }
        out += "</updatedby>";
    }
    if (!n.revisions.empty()) {
        out += "\n<revisions>";
        for (const DateTime &t : n.revisions)
            appendDateTime(out, t);
        out += "</revisions>";
    }
    if (n.kind == NoteKind::ImageResource) {
        if (!n.image)
            throw std::invalid_argument("image resource without a picture");
        out += "\n<";
        out += imageElement(n.image->format);
        out += '>';
        appendBase64Block(out, n.image->data);
        out += "</";
        out += imageElement(n.image->format);
        out += '>';
    }
    for (const Item &item : n.items) {
        out += '\n';
        appendItem(out, item);
    }
    out += "\n</";
    out += element;
    out += ">\n";
    return out;
}

DxlWriter::DxlWriter(std::ostream &out, const DatabaseInfo &info, std::uint64_t idSeed)
    : out_(out), ids_(idSeed) {
    std::string s = "<?xml version='1.0' encoding='utf-8'?>\n";
    if (info.doctype)
        s += "<!DOCTYPE database SYSTEM 'xmlschemas/domino_9_0_1.dtd'>\n";
    s += "<database";
    attr(s, "xmlns", "http://www.lotus.com/dxl");
    attr(s, "version", info.version);
    attr(s, "maintenanceversion", info.maintenanceVersion);
    attr(s, "replicaid", info.replicaId.text());
    if (!info.path.empty())
        attr(s, "path", info.path);
    if (!info.title.empty())
        attr(s, "title", info.title);
    s += info.consistentAcl ? ">\n<acl consistentacl='true'>" : ">\n<acl>";
    for (const std::string &role : info.roles) {
        s += "\n<role>";
        xml::appendText(s, role, false);
        s += "</role>";
    }
    s += "\n<aclentry name='-Default-' default='true'";
    attr(s, "level", info.defaultAccess);
    s += "/>";
    for (const AclEntry &e : info.acl) {
        s += "\n<aclentry";
        attr(s, "name", e.name);
        attr(s, "level", e.level);
        if (!e.type.empty())
            attr(s, "type", e.type);
        if (e.roles.empty()) {
            s += "/>";
            continue;
        }
        s += '>';
        for (const std::string &role : e.roles) {
            s += "<role>";
            xml::appendText(s, role, false);
            s += "</role>";
        }
        s += "</aclentry>";
    }
    s += "</acl>\n";
    put(s);
}

void DxlWriter::put(std::string_view s) {
    if (finished_)
        throw std::logic_error("DxlWriter: write after finish");
    out_.write(s.data(), static_cast<std::streamsize>(s.size()));
    if (!out_)
        throw std::runtime_error("DxlWriter: output stream failed");
    bytes_ += s.size();
}

void DxlWriter::write(Note note) {
    ids_.assign(note);
    put(noteToDxl(note));
}

void DxlWriter::finish() {
    if (finished_)
        return;
    put("</database>\n");
    out_.flush();
    finished_ = true;
}

Note &Database::add(Note note) {
    ids.assign(note);
    return notes.emplace_back(std::move(note));
}

std::string Database::toDxl() const {
    std::ostringstream out;
    DxlWriter writer(out, info);
    for (const Note &n : notes)
        writer.write(n);
    writer.finish();
    return out.str();
}

} // namespace tessel::kit
