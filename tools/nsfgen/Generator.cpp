#include "Generator.h"

#include "Pictures.h"

#include "tessel/kit/CdWriter.h"
#include "tessel/kit/Dxl.h"
#include "tessel/kit/Random.h"
#include "tessel/kit/TimeDate.h"
#include "tessel/kit/Values.h"

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::nsfgen {
namespace {

using namespace tessel::kit;

constexpr std::string_view kOwner = "CN=Alice Smith/O=Acme";
constexpr std::array<std::string_view, 6> kPeople = {"CN=Alice Smith/O=Acme",
                                                     "CN=Bob Jones/O=Acme",
                                                     "CN=Carla D\xC3\xAD"
                                                     "az/O=Acme",
                                                     "CN=Dmitri Volkov/O=Acme",
                                                     "erin@example.org",
                                                     "frank.o'neil@example.com"};
constexpr std::array<std::string_view, 32> kWords = {"quarterly",
                                                     "figures",
                                                     "budget",
                                                     "meeting",
                                                     "agenda",
                                                     "project",
                                                     "review",
                                                     "draft",
                                                     "schedule",
                                                     "invoice",
                                                     "customer",
                                                     "release",
                                                     "notes",
                                                     "travel",
                                                     "update",
                                                     "report",
                                                     "team",
                                                     "deadline",
                                                     "summary",
                                                     "plan",
                                                     "launch",
                                                     "contract",
                                                     "feedback",
                                                     "roadmap",
                                                     "Gr\xC3\xBC\xC3\x9F"
                                                     "e",
                                                     "caf\xC3\xA9",
                                                     "na\xC3\xAF"
                                                     "ve",
                                                     "budget",
                                                     "numbers",
                                                     "office",
                                                     "lunch",
                                                     "travel"};
constexpr std::array<std::string_view, 5> kSites = {
    "https://www.example.com/", "https://intranet.example.org/wiki", "http://example.net/a?b=1&c=2",
    "https://example.com/report.pdf", "mailto:bob@example.org"};

// Time zones as (actual offset minutes, daylight saving in effect, zone observes daylight saving).
struct Zone {
    int offset;
    bool dst;
    bool observes;
};
constexpr std::array<Zone, 5> kZones = {
    {{-300, false, true}, {-240, true, true}, {60, false, true}, {330, false, false}, {0, false, false}}};

// Base64 in lines of 76 characters, each ending in CRLF, as a MIME body carries it.
std::string base64Lines(std::span<const std::uint8_t> bytes) {
    const std::string encoded = base64(bytes);
    std::string out;
    for (std::size_t at = 0; at < encoded.size(); at += 76)
        out += encoded.substr(at, 76) + "\r\n";
    return out;
}

FontId font(std::uint8_t face = FontId::kSwiss, std::uint8_t attrib = 0, std::uint8_t color = 0,
            std::uint8_t size = 10) {
    return FontId{face, attrib, color, size};
}

class Generator {
public:
    Generator(const Options &options, std::ostream &out)
        : options_(options), random_(options.seed * 0x9E3779B97F4A7C15ULL + 17),
          writer_(out, databaseInfo(), options.seed) {}

    Summary run() {
        writeDesign();
        std::uint64_t index = 0;
        while (index < options_.notes ||
               (options_.targetBytes > 0 && writer_.bytesWritten() < options_.targetBytes)) {
            writeDocument(index);
            ++index;
        }
        writeRichTextShowcase(index);
        writer_.finish();
        summary_.bytes = writer_.bytesWritten();
        return summary_;
    }

private:
    DatabaseInfo databaseInfo() const {
        DatabaseInfo info;
        info.title = "Mail of Alice Smith";
        info.path = "mail/asmith.nsf";
        info.replicaId.value = 0xC1257F0A00000000ULL | (options_.seed & 0xFFFFFFFF);
        // Anyone may read a generated database, so that it opens without an ID file; its owner
        // manages it and one colleague is listed by name.
        info.defaultAccess = "reader";
        info.roles = {"[Admin]"};
        info.acl = {{std::string(kOwner), "manager", "person", {"[Admin]"}},
                    {"CN=Bob Jones/O=Acme", "reader", "person", {}},
                    {"LocalDomainServers", "manager", "servergroup", {}}};
        return info;
    }

    std::string words(int count) {
        std::string s;
        for (int i = 0; i < count; ++i) {
            if (i)
                s += ' ';
            s += kWords[random_.below(kWords.size())];
        }
        return s;
    }

    std::string sentence() {
        std::string s = words(static_cast<int>(random_.between(5, 14)));
        s[0] = static_cast<char>(s[0] >= 'a' && s[0] <= 'z' ? s[0] - 32 : s[0]);
        return s + '.';
    }

    DateTime when(std::uint64_t index, int minutesLater = 0) {
        const Zone zone = kZones[random_.below(kZones.size())];
        // 2024-03-01 00:00 UTC plus a few hours per document.
        const std::int64_t utc = 1709251200 + static_cast<std::int64_t>(index) * 7 * 3600 +
                                 static_cast<std::int64_t>(random_.below(3600)) + minutesLater * 60;
        DateTime t = DateTime::fromUnix(utc, zone.offset, zone.dst, static_cast<int>(random_.below(100)));
        t.dstObserved = zone.observes;
        return t;
    }

    NoteInfo info(std::uint64_t index) {
        NoteInfo i;
        const DateTime created = when(index);
        i.created = created;
        i.modified = created;
        i.revised = created;
        i.sequence = 1 + static_cast<std::uint32_t>(random_.below(4));
        return i;
    }

    Note prepared(Note note) {
        writer_.ids().assign(note);
        return note;
    }

    void emit(Note note, bool design) {
        (design ? summary_.designNotes : summary_.documents)++;
        writer_.write(std::move(note));
    }

    void writeDesign() {
        for (const char *name : {"Memo", "Appointment", "Document"}) {
            Note form = Note::formDesign(name);
            form.isDefault = std::string_view(name) == "Memo";
            form.add(Item::text("$Flags", "").summary());
            emit(prepared(std::move(form)), true);
        }
        Note view = prepared(Note::view("All Documents"));
        view.alias = "AllDocs";
        view.isDefault = true;
        view.add(Item::formula("$Formula", "SELECT @All"));
        viewUnid_ = view.info.unid;
        emit(std::move(view), true);
        for (const char *name : {"Projects", "Archive", "Travel"}) {
            Note folder = prepared(Note::folder(name));
            folder.add(Item::text("$Flags", "F").summary());
            folders_.push_back(folder);
            emit(std::move(folder), true);
        }

        // The mail logo as a raw design note whose $ImageData is CD records, as Notes stores it.
        const IndexedPicture logoPicture = patternPicture(48, 16, options_.seed + 1);
        const Bytes logo = makeGif(logoPicture);
        Note logoNote = Note::raw("form");
        logoNote.add(Item::text("$TITLE", "StdNotesLtr0.gif;StdNotesLtr0"));
        logoNote.add(Item::text("$Flags", "34CiQ"));
        logoNote.add(Item::text("$MimeType", "image/gif"));
        logoNote.add(Item::number("$FileSize", static_cast<double>(logo.size())));
        CdWriter imageData;
        imageData.picture(ImageType::Gif, logoPicture.width, logoPicture.height, logo);
        logoNote.add(Item::richTextRaw("$ImageData", imageData.bytes()));
        emit(prepared(std::move(logoNote)), true);

        // A shared picture in the formatted element, referred to by name from rich text.
        const Bytes png = makePng(patternPicture(24, 24, options_.seed + 2));
        Note shared =
            Note::imageResource("companylogo.png;companylogo", ImageFile{ImageFile::Format::Png, png});
        shared.add(Item::text("$MimeType", "image/png"));
        shared.add(Item::number("$FileSize", static_cast<double>(png.size())));
        emit(prepared(std::move(shared)), true);

        // A JPEG image resource in the raw form.
        const Bytes jpeg = sampleJpeg();
        Note photo = Note::raw("form");
        photo.add(Item::text("$TITLE", "photo.jpg;photo"));
        photo.add(Item::text("$Flags", "34CiQ"));
        CdWriter photoData;
        photoData.picture(ImageType::Jpeg, 16, 16, jpeg);
        photo.add(Item::richTextRaw("$ImageData", photoData.bytes()));
        emit(prepared(std::move(photo)), true);
    }

    // Mail header items of a memo.
    void addMailHeader(Note &memo, std::uint64_t index, std::string subject) {
        const std::string from(kPeople[random_.below(kPeople.size())]);
        memo.add(Item::text("From", from).names());
        std::vector<std::string> to;
        const auto recipients = random_.between(1, 3);
        for (int i = 0; i < recipients; ++i)
            to.emplace_back(kPeople[random_.below(kPeople.size())]);
        memo.add(Item::textList("SendTo", to).names());
        if (random_.percent(50))
            memo.add(Item::textList("CopyTo", {std::string(kPeople[random_.below(kPeople.size())])}).names());
        if (random_.percent(15))
            memo.add(
                Item::textList("BlindCopyTo", {std::string(kPeople[random_.below(kPeople.size())])}).names());
        memo.add(Item::text("Subject", std::move(subject)));
        const DateTime composed = when(index);
        memo.add(Item::dateTime("ComposedDate", composed));
        if (random_.percent(85))
            memo.add(Item::dateTime("PostedDate", when(index, 5)));
        memo.add(Item::text("Importance", std::to_string(random_.between(1, 3))));
        memo.updatedBy = {from};
    }

    void placeInFolders(Note &note, unsigned percent) {
        for (const Note &folder : folders_)
            if (random_.percent(percent))
                note.addToFolder(folder);
    }

    FileAttachment attachment(std::string name, std::size_t size, std::uint64_t index) {
        FileAttachment f;
        f.name = std::move(name);
        f.data.resize(size);
        random_.fill(f.data);
        if (f.name.ends_with(".txt")) {
            for (std::uint8_t &b : f.data)
                b = static_cast<std::uint8_t>(' ' + b % 95);
        }
        f.created = when(index, -600);
        f.modified = when(index, -60);
        return f;
    }

    // One attachment: the $FILE item plus its icon hotspot in the body.
    void attach(Note &note, CdWriter &body, FileAttachment file) {
        const IndexedPicture icon = patternPicture(32, 32, file.data.size() + 7);
        body.paragraph().pabReference(1);
        body.fileHotspotBegin(file.name, file.name);
        body.picture(ImageType::Gif, icon.width, icon.height, makeGif(icon));
        body.caption({file.name, 0, font(), ColorValue::rgb(0, 0, 0)});
        body.hotspotEnd();
        note.add(Item::file(std::move(file)).sign().seal());
    }

    void bodyStart(CdWriter &body) {
        static const Face kFaces[] = {{5, 0x22, "Arial"}, {6, 0x31, "Courier New"}};
        body.fontTable(kFaces);
        body.pabDefinition({});
        PabDefinition bullet;
        bullet.id = 2;
        bullet.flags = PabDefinition::kBullet;
        body.pabDefinition(bullet);
        PabDefinition numbered;
        numbered.id = 3;
        numbered.flags = PabDefinition::kNumberedList;
        body.pabDefinition(numbered);
        PabDefinition centred;
        centred.id = 4;
        centred.justify = PabDefinition::kCenter;
        body.pabDefinition(centred);
    }

    void paragraph(CdWriter &body, std::uint16_t pab, std::string_view text, FontId f = font()) {
        body.paragraph().pabReference(pab).text(f, text);
    }

    void table(CdWriter &body, int rows, int columns) {
        PreTableBegin pre;
        pre.rows = static_cast<std::uint8_t>(rows);
        pre.columns = static_cast<std::uint8_t>(columns);
        body.beginRecord(sig::kPreTableBegin, 1)
            .preTableBegin(pre)
            .borderInfo({})
            .endRecord(sig::kPreTableBegin, 1);
        body.tableBegin({1440, 0, 0, 0, 0, 0});
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                TableCell cell;
                cell.row = static_cast<std::uint8_t>(r);
                cell.column = static_cast<std::uint8_t>(c);
                cell.leftMargin = static_cast<std::uint16_t>(1440 + c * 1800);
                cell.rightMargin = static_cast<std::uint16_t>(cell.leftMargin + 1800);
                if (r == 0) {
                    cell.flags = TableCell::kUseBackgroundColor;
                    cell.backgroundColor = 15;
                }
                body.tableCell(cell);
                if (r == 1 && c == 0) {
                    body.color(ColorValue::rgb(0xFF, 0xE0, 0x80), sig::kTableCellColor);
                }
                paragraph(body, 1, r == 0 ? "Column " + std::to_string(c + 1) : words(2),
                          font(FontId::kSwiss, r == 0 ? FontId::kBold : 0));
            }
        }
        body.tableEnd();
    }

    void richMemoBody(CdWriter &body, std::uint64_t index, bool showcase) {
        bodyStart(body);
        paragraph(body, 1, "Hello,", font(5, 0, 0, 11));
        paragraph(body, 1, sentence() + " " + sentence());
        body.paragraph().pabReference(1);
        body.text(font(FontId::kSwiss, FontId::kBold), "Bold ");
        body.text(font(FontId::kRoman, FontId::kItalic, 4), "italic blue ");
        body.text(font(6, FontId::kUnderline, 2, 12), "underlined red mono");
        body.text(font(FontId::kSwiss, FontId::kStrikeout | FontId::kSuper, 0, 8), " struck");
        for (int i = 0; i < 3; ++i)
            paragraph(body, 2, words(4));
        for (int i = 0; i < 2; ++i)
            paragraph(body, 3, words(3));
        body.paragraph().pabReference(1).text(font(), "See ");
        const std::string_view site = kSites[random_.below(kSites.size())];
        body.urlLinkBegin(site)
            .text(font(FontId::kSwiss, FontId::kUnderline, 4), std::string(site))
            .urlLinkEnd();
        if (!lastMemo_.empty()) {
            body.paragraph().pabReference(1).text(font(), "Earlier memo: ");
            body.linkExport2({writer_replica(), viewUnid_, lastMemo_}, "Earlier memo", "CN=Mail1/O=Acme");
        }
        body.horizontalRule({});
        table(body, showcase ? 3 : 2, showcase ? 3 : 2);
        if (showcase) {
            // Inline GIF and JPEG, a Notes bitmap, a shared picture by name, and the smaller records.
            body.paragraph().pabReference(4);
            const IndexedPicture pic = patternPicture(40, 20, index + 99);
            body.picture(ImageType::Gif, pic.width, pic.height, makeGif(pic));
            body.caption({"Figure 1", 0, font(), ColorValue::rgb(0x20, 0x20, 0x20)});
            body.paragraph().pabReference(4).picture(ImageType::Jpeg, 16, 16, sampleJpeg());
            NotesBitmap bitmap;
            bitmap.width = 24;
            bitmap.height = 12;
            bitmap.bitsPerPixel = 8;
            bitmap.palette = {{0, 0, 0}, {255, 255, 255}, {200, 30, 30}, {30, 90, 200}};
            for (int y = 0; y < bitmap.height; ++y)
                for (int x = 0; x < bitmap.width; ++x)
                    bitmap.pixels.push_back(static_cast<std::uint16_t>(x < 8 ? 2 : (x + y) % 2 ? 1 : 3));
            body.paragraph().pabReference(1).notesBitmap(bitmap);
            NotesBitmap mono;
            mono.width = 16;
            mono.height = 8;
            mono.bitsPerPixel = 1;
            for (int y = 0; y < mono.height; ++y)
                for (int x = 0; x < mono.width; ++x)
                    mono.pixels.push_back(static_cast<std::uint16_t>((x / 2 + y) % 2));
            body.paragraph().pabReference(1).notesBitmap(mono);
            body.paragraph().pabReference(1).resource(Resource::namedElement("companylogo"));
            body.paragraph().pabReference(1);
            body.beginRecord(sig::kText, 0);
            ColorValue highlight = ColorValue::rgb(0xFF, 0xFF, 0x80);
            highlight.flags = 0x8000 | ColorValue::kIsRgb;
            body.color(highlight);
            body.endRecord(sig::kText, 0);
            body.text(font(), "Highlighted text");
            Bar bar;
            bar.font = font(FontId::kSwiss, FontId::kBold);
            bar.color = 10;
            bar.title = "Details";
            body.paragraph().pabReference(1).bar(bar);
            Button button;
            button.font = font();
            button.label = "Open";
            body.paragraph()
                .pabReference(1)
                .beginRecord(sig::kButton, 0)
                .hotspotBegin(sig::kHotspotBegin, hotspot::kButton, 0, Bytes{});
            body.button(button).hotspotEnd().endRecord(sig::kButton, 0);
            body.paragraph().pabReference(1);
            body.hotspotBegin(sig::kHotspotBegin, hotspot::kMouseOver, 0,
                              toBytes(std::string_view("pop-up text\0", 12)));
            body.text(font(), "hover here").hotspotEnd();
        }
        paragraph(body, 1, "Regards,\nAlice");
    }

    ReplicaId writer_replica() const { return databaseInfo().replicaId; }

    // The memo "Rich text showcase": every construct the rich-text converter reads, in composite
    // data written record by record. Written after all other notes so that adding it changed
    // nothing that came before it.
    void writeRichTextShowcase(std::uint64_t index) {
        Note memo = Note::document("Memo");
        memo.info = info(index);
        memo = prepared(std::move(memo));
        addMailHeader(memo, index, "Rich text showcase");
        CdWriter body;
        static const Face kFaces[] = {{5, 0x22, "Arial"}, {6, 0x31, "Courier New"}, {7, 0x12, "Georgia"}};
        body.fontTable(kFaces);
        // Paragraph styles: plain, centred, right, justified, and every list kind.
        struct Style {
            std::uint16_t id, flags, flags2, justify;
        };
        static const Style kStyles[] = {
            {1, 0, 0, PabDefinition::kLeft},
            {2, 0, 0, PabDefinition::kCenter},
            {3, 0, 0, PabDefinition::kRight},
            {4, 0, 0, PabDefinition::kBlock},
            {10, PabDefinition::kBullet, 0, PabDefinition::kLeft},
            {11, PabDefinition::kBullet, PabDefinition::kCircleList2, PabDefinition::kLeft},
            {12, PabDefinition::kBullet, PabDefinition::kSquareList2, PabDefinition::kLeft},
            {20, PabDefinition::kNumberedList, 0, PabDefinition::kLeft},
            {21, PabDefinition::kNumberedList, 0x0802, PabDefinition::kLeft},
            {22, PabDefinition::kNumberedList, 0x1002, PabDefinition::kLeft},
            {23, PabDefinition::kNumberedList, 0x1800, PabDefinition::kLeft},
            {24, PabDefinition::kNumberedList, 0x1802, PabDefinition::kLeft},
        };
        for (const Style &style : kStyles) {
            PabDefinition pab;
            pab.id = style.id;
            pab.flags = style.flags;
            pab.flags2 = style.flags2;
            pab.justify = style.justify;
            body.pabDefinition(pab);
        }

        // Text styles.
        paragraph(body, 2, "Rich text showcase", font(7, FontId::kBold, 10, 18));
        body.paragraph().pabReference(1);
        body.text(font(FontId::kSwiss, FontId::kBold), "bold ");
        body.text(font(FontId::kRoman, FontId::kItalic), "italic ");
        body.text(font(FontId::kTypewriter, FontId::kUnderline), "underlined ");
        body.text(font(5, FontId::kStrikeout, 2), "struck red ");
        body.text(font(6, FontId::kSuper, 4, 8), "super ");
        body.text(font(FontId::kSwiss, FontId::kSub, 9, 8), "sub ");
        body.text(font(FontId::kSwiss, 0, 100, 24), "large");
        body.paragraph().text(font(), "a <tagged> line\twith a tab, 1 = 1 & caf\xC3\xA9\nand a second line");
        paragraph(body, 3, "  indented and right-aligned");
        paragraph(body, 4, "Justified text " + sentence());
        // A highlighted run: the colour comes in a block before the text.
        body.paragraph().pabReference(1);
        ColorValue highlight = ColorValue::rgb(0xFF, 0xFF, 0x80);
        highlight.flags = 0x8000 | ColorValue::kIsRgb;
        body.beginRecord(sig::kText, 0).color(highlight).endRecord(sig::kText, 0);
        body.text(font(), "highlighted");
        body.text(font(), " and plain again");

        // Every list kind, two items each.
        for (std::uint16_t id : {10, 11, 12, 20, 21, 22, 23, 24}) {
            paragraph(body, id, "item one of list " + std::to_string(id));
            paragraph(body, id, "item two of list " + std::to_string(id));
        }

        // Links: a URL, a document link of each record kind, an attachment icon with its caption,
        // hidden pop-up text and a button.
        body.paragraph().pabReference(1).text(font(), "Visit ");
        body.urlLinkBegin("http://example.net/a?b=1&c=2")
            .text(font(FontId::kSwiss, FontId::kUnderline, 4), "the example site")
            .urlLinkEnd();
        body.paragraph().pabReference(1).text(font(), "Document link: ");
        body.link2(0, "Earlier memo", "CN=Mail1/O=Acme");
        body.text(font(), " database link: ");
        body.linkExport2({writer_replica(), viewUnid_, {}}, "Mail of Alice Smith", "");
        attach(memo, body, attachment("showcase.txt", 64, index));
        body.paragraph().pabReference(1);
        body.hotspotBegin(sig::kHotspotBegin, hotspot::kMouseOver, 0,
                          toBytes(std::string_view("hidden pop-up\0", 14)));
        body.text(font(), "hover here").hotspotEnd();
        Button button;
        button.font = font(FontId::kSwiss, FontId::kBold, 0, 10);
        button.label = "Reply";
        body.paragraph()
            .pabReference(1)
            .beginRecord(sig::kButton, 0)
            .hotspotBegin(sig::kHotspotBegin, hotspot::kButton, 0, Bytes{});
        body.button(button).hotspotEnd().endRecord(sig::kButton, 0);
        Bar bar;
        bar.font = font(FontId::kSwiss, FontId::kBold);
        bar.color = 10;
        bar.title = "Section: details";
        body.paragraph().pabReference(1).bar(bar);
        paragraph(body, 1, "Text of the section.");
        body.horizontalRule({});

        // Pictures: GIF, JPEG, BMP and PNG files, Notes bitmaps of every depth, shared pictures.
        body.paragraph().pabReference(2);
        const IndexedPicture gif = patternPicture(32, 16, 501);
        body.picture(ImageType::Gif, gif.width, gif.height, makeGif(gif));
        body.caption({"A GIF picture", 0, font(), ColorValue::rgb(0x20, 0x20, 0x20)});
        body.paragraph().pabReference(2).picture(ImageType::Jpeg, 16, 16, sampleJpeg());
        const IndexedPicture bmp = patternPicture(12, 6, 502);
        body.paragraph().pabReference(2).picture(ImageType::Bmp, bmp.width, bmp.height, makeBmp(bmp));
        const IndexedPicture png = patternPicture(10, 10, 503);
        body.paragraph().pabReference(2).picture(ImageType::Png, png.width, png.height, makePng(png));
        for (std::uint16_t depth : {1, 8, 16}) {
            NotesBitmap bitmap;
            bitmap.width = 20;
            bitmap.height = 6;
            bitmap.bitsPerPixel = depth;
            if (depth == 8)
                bitmap.palette = {{0, 0, 0}, {255, 255, 255}, {200, 30, 30}, {30, 90, 200}};
            for (int y = 0; y < bitmap.height; ++y)
                for (int x = 0; x < bitmap.width; ++x) {
                    const bool band = (x / 4 + y) % 2 != 0;
                    bitmap.pixels.push_back(depth == 1 ? (band ? 1 : 0)
                                            : depth == 8
                                                ? static_cast<std::uint16_t>(x < 5  ? 2
                                                                             : band ? 1
                                                                                    : 3)
                                                : static_cast<std::uint16_t>(band ? 0x7C00 : 0x03FF));
                }
            body.paragraph().pabReference(1).notesBitmap(bitmap);
        }
        body.paragraph().pabReference(1).resource(Resource::namedElement("companylogo"));
        body.paragraph().pabReference(1).resource(Resource::namedElement("photo"), sig::kTableCellHref);

        // Tables: borders, colours, a gradient, alignment, a column span and a nested table.
        PreTableBegin pre;
        pre.rows = 3;
        pre.columns = 3;
        pre.styleColor1 = 0xF0F0F0;
        BorderInfo border;
        border.color = ColorValue::rgb(0x33, 0x66, 0x99);
        body.beginRecord(sig::kPreTableBegin, 1)
            .preTableBegin(pre)
            .borderInfo(border)
            .endRecord(sig::kPreTableBegin, 1);
        body.tableBegin({1440, 0, 0, 0, 0, 0});
        auto cellAt = [](int row, int column, std::uint16_t width) {
            TableCell cell;
            cell.row = static_cast<std::uint8_t>(row);
            cell.column = static_cast<std::uint8_t>(column);
            cell.leftMargin = static_cast<std::uint16_t>(column * width);
            cell.rightMargin = static_cast<std::uint16_t>((column + 1) * width);
            return cell;
        };
        for (int c = 0; c < 3; ++c) {
            TableCell cell = cellAt(0, c, 2000);
            cell.flags = TableCell::kUseBackgroundColor;
            cell.backgroundColor = static_cast<std::uint16_t>(15 + c);
            body.tableCell(cell);
            paragraph(body, 2, "Heading " + std::to_string(c + 1), font(FontId::kSwiss, FontId::kBold));
        }
        TableCell gradient = cellAt(1, 0, 2000);
        gradient.flags = TableCell::kUseBackgroundColor | TableCell::kUseGradient | TableCell::kVAlignCenter;
        body.tableCell(gradient).color(ColorValue::rgb(255, 200, 0), sig::kTableCellColor,
                                       ColorValue::rgb(0, 100, 255));
        paragraph(body, 1, "gradient, middle");
        TableCell bottom = cellAt(1, 1, 2000);
        bottom.flags = TableCell::kVAlignBottom;
        body.tableCell(bottom);
        paragraph(body, 1, "bottom");
        TableCell nestedHolder = cellAt(1, 2, 2000);
        body.tableCell(nestedHolder);
        paragraph(body, 1, "nested:");
        body.preTableBegin({}).tableBegin({}, true);
        for (int c = 0; c < 2; ++c) {
            body.tableCell(cellAt(0, c, 1000), true);
            paragraph(body, 1, "inner " + std::to_string(c + 1));
        }
        body.tableEnd(true);
        TableCell covered1 = cellAt(2, 0, 2000), covered2 = cellAt(2, 1, 2000), spanning = cellAt(2, 2, 2000);
        spanning.columnSpan = 3;
        body.tableCell(covered1).tableCell(covered2).tableCell(spanning);
        paragraph(body, 1, "spans three columns");
        body.tableEnd();
        paragraph(body, 1, "The end.");

        memo.add(Item::richTextRaw("Body", body.bytes()));
        emit(std::move(memo), false);
    }

    void writeShowcaseMemo(std::uint64_t index) {
        Note memo = Note::document("Memo");
        memo.info = info(index);
        memo = prepared(std::move(memo));
        addMailHeader(memo, index, "Welcome to the project & <everything> in it");
        memo.add(Item::text("Logo", "StdNotesLtr0"));
        CdWriter body;
        richMemoBody(body, index, true);
        attach(memo, body, attachment("empty.txt", 0, index));
        attach(memo, body, attachment("readme.txt", 23, index));
        memo.add(Item::richTextRaw("Body", body.bytes()).sign().seal());
        memo.add(Item::text("$Abstract", "Welcome to the project").seal());
        placeInFolders(memo, 100);
        lastMemo_ = memo.info.unid;
        emit(std::move(memo), false);
    }

    // A memo whose body is DXL rich-text XML with a table, a section and a picture (`raw` false),
    // and its twin with the same body as composite records in raw item data (`raw` true). The
    // content is fixed, so the two show the same wherever they are read.
    void writeXmlRichTextMemo(std::uint64_t index, bool raw) {
        Note memo = Note::document("Memo");
        memo.info = info(index);
        const DateTime fixed = DateTime::at(2024, 3, 2, 18, 0, 0, 0, 60);
        memo.info.modified = memo.info.created = memo.info.revised = fixed;
        memo = prepared(std::move(memo));
        // Fixed headers (no random draws), so that the twins differ only in their subject and body form.
        memo.add(Item::text("From", std::string(kPeople[0])).names());
        memo.add(Item::textList("SendTo", {std::string(kPeople[1])}).names());
        memo.add(Item::text("Subject", raw ? "Quarterly table (raw twin)" : "Quarterly table (XML rich text)"));
        memo.add(Item::dateTime("PostedDate", fixed));
        memo.updatedBy = {std::string(kPeople[0])};
        const IndexedPicture pic = patternPicture(8, 8, 4242);
        const Bytes gif = makeGif(pic);
        if (!raw) {
            std::string xml = "\n<pardef id='1'/>\n<par def='1'>Figures for the quarter:</par>\n"
                              "<table widthtype='fitmargins' leftmargin='1in'><tablecolumn width='50%'/>"
                              "<tablecolumn width='50%'/>\n<tablerow><tablecell bgcolor='silver'><par "
                              "def='1'>Region</par></tablecell><tablecell bgcolor='silver'><par "
                              "def='1'>Sales</par></tablecell></tablerow>\n<tablerow><tablecell><par "
                              "def='1'>North</par></tablecell><tablecell><par def='1'>120</par></tablecell>"
                              "</tablerow></table>\n<section><sectiontitle>Details</sectiontitle><par "
                              "def='1'>Inside the section.</par></section>\n<par def='1'><picture width='8px' "
                              "height='8px'><gif>" +
                              base64Lines(gif) + "</gif><caption>Chart</caption></picture></par>\n";
            memo.add(Item::richTextXml("Body", std::move(xml)));
        } else {
            CdWriter body;
            PabDefinition pab;
            pab.id = 1;
            body.pabDefinition(pab);
            paragraph(body, 1, "Figures for the quarter:");
            PreTableBegin pre;
            pre.flags = 0x0001; // widths fit the margins
            pre.rows = 2;
            pre.columns = 2;
            body.beginRecord(sig::kPreTableBegin, 1).preTableBegin(pre).endRecord(sig::kPreTableBegin, 1);
            body.tableBegin({1440, 0, 0, 0, 0, 0x0001});
            const char *cells[2][2] = {{"Region", "Sales"}, {"North", "120"}};
            for (std::uint8_t r = 0; r < 2; ++r) {
                for (std::uint8_t c = 0; c < 2; ++c) {
                    TableCell cell;
                    cell.row = r;
                    cell.column = c;
                    // Half of the 6.5-inch reference width each: edges in twips from the table's left.
                    cell.leftMargin = static_cast<std::uint16_t>(c * 4680);
                    cell.rightMargin = static_cast<std::uint16_t>((c + 1) * 4680);
                    cell.fractionalWidth = 14400;
                    if (r == 0) {
                        cell.flags = TableCell::kUseBackgroundColor;
                        cell.backgroundColor = 15; // silver
                    }
                    body.tableCell(cell);
                    paragraph(body, 1, cells[r][c]);
                }
            }
            body.tableEnd();
            body.beginRecord(sig::kBar, 0);
            Bar bar;
            bar.title = "Details";
            body.bar(bar);
            paragraph(body, 1, "Inside the section.");
            body.endRecord(sig::kBar, 0);
            body.paragraph().pabReference(1);
            body.picture(ImageType::Gif, pic.width, pic.height, gif);
            Caption caption;
            caption.text = "Chart";
            caption.font = font();
            body.caption(caption);
            memo.add(Item::richTextRaw("Body", body.bytes()));
        }
        emit(std::move(memo), false);
    }

    void writeAttachmentMemo(std::uint64_t index) {
        Note memo = Note::document("Memo");
        memo.info = info(index);
        memo = prepared(std::move(memo));
        addMailHeader(memo, index, "Files for the review");
        memo.add(Item::text("Logo", ""));
        CdWriter body;
        richMemoBody(body, index, false);
        FileAttachment pdf = attachment("report.pdf", 10 * 1024, index);
        const std::string_view magic = "%PDF-1.4\n";
        std::copy(magic.begin(), magic.end(), pdf.data.begin());
        attach(memo, body, std::move(pdf));
        FileAttachment big = attachment("data set.bin", 40 * 1024, index);
        big.desiredCompression = "lz1";
        attach(memo, body, std::move(big));
        memo.add(Item::richTextRaw("Body", body.bytes()).sign().seal());
        memo.addToFolder(folders_[1]);
        lastMemo_ = memo.info.unid;
        emit(std::move(memo), false);
    }

    void writeAppointment(std::uint64_t index) {
        Note appt = Note::document("Appointment");
        appt.info = info(index);
        appt = prepared(std::move(appt));
        const std::string chair(kPeople[random_.below(3)]);
        appt.add(Item::text("Chair", chair).names());
        appt.add(Item::text("Subject", "Review: " + words(2)));
        const DateTime start = when(index, 24 * 60);
        const DateTime end = when(index, 25 * 60);
        appt.add(Item::dateTime("StartDateTime", start));
        appt.add(Item::dateTime("EndDateTime", end));
        appt.add(Item::dateTime("StartDate", DateTime::dateOnly(start.year, start.month, start.day)));
        appt.add(Item::dateTime("StartTime", DateTime::timeOnly(start.hour, start.minute, 0)));
        appt.add(Item::dateTimeList("CalendarDateTime", {start, when(index, 8 * 24 * 60)}, {{start, end}}));
        appt.add(Item::text("RepeatForUnit", std::string(1, "DWMY"[random_.below(4)])));
        appt.add(Item::text("Location", "Room " + std::to_string(random_.between(100, 499))));
        std::vector<std::string> attendees;
        for (int i = 0; i < 3; ++i)
            attendees.emplace_back(kPeople[random_.below(kPeople.size())]);
        appt.add(Item::textList("Attendees", attendees).names());
        appt.add(Item::text("AppointmentType", "3"));
        CdWriter body;
        bodyStart(body);
        paragraph(body, 1, "Agenda:");
        for (int i = 0; i < 3; ++i)
            paragraph(body, 3, words(3));
        appt.add(Item::richTextRaw("Body", body.bytes()));
        placeInFolders(appt, 30);
        emit(std::move(appt), false);
    }

    void writeEncryptedMemo(std::uint64_t index) {
        Note memo = Note::document("Memo");
        memo.info = info(index);
        memo = prepared(std::move(memo));
        addMailHeader(memo, index, "Confidential: salaries");
        CdWriter body;
        bodyStart(body);
        paragraph(body, 1, "Only for Alice: " + sentence());
        memo.add(Item::richTextRaw("Body", body.bytes()).sign().seal());
        memo.add(Item::text("EncryptedNote", "Figures: 1, 2, 3").seal());
        memo.sealFor({std::string(kOwner)});
        emit(std::move(memo), false);
    }

    void writeMimeMemo(std::uint64_t index) {
        Note memo = Note::document("Memo");
        memo.info = info(index);
        memo = prepared(std::move(memo));
        const DateTime posted = when(index);
        memo.add(Item::raw("From", type::kRfc822Text,
                           Rfc822Text::address("From", "\"Erin Example\" <erin@example.org>").value()));
        memo.add(
            Item::raw("SendTo", type::kRfc822Text, Rfc822Text::address("To", "alice@example.com").value()));
        memo.add(Item::raw("Subject", type::kRfc822Text,
                           Rfc822Text::text("Subject", "Hello from the Internet").value()));
        memo.add(Item::raw(
            "PostedDate", type::kRfc822Text,
            Rfc822Text::date("Date", "Tue, 5 Mar 2024 10:00:00 -0500", posted.toTimeDate()).value()));
        memo.add(
            Item::raw("MIME_Version", type::kRfc822Text, Rfc822Text::text("MIME-Version", "1.0").value()));
        // multipart/alternative: a plain-text part, and HTML with a table and an inline picture
        // held together by multipart/related.
        const std::string boundary = "b1_" + std::to_string(options_.seed);
        const std::string related = "b2_" + std::to_string(options_.seed);
        MimePart prolog;
        prolog.partType = MimePart::kProlog;
        prolog.headers = "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\r\n\r\n";
        prolog.body = "This is a multi-part message in MIME format.\r\n";
        MimePart plain;
        plain.boundary = "--" + boundary + "\r\n";
        plain.headers =
            "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
        plain.body = "Hello Alice.\r\n\r\nRegion  Q1  Q2\r\nNorth   10  12\r\nSouth    7   9\r\n";
        MimePart relatedProlog;
        relatedProlog.partType = MimePart::kProlog;
        relatedProlog.boundary = "--" + boundary + "\r\n";
        relatedProlog.headers = "Content-Type: multipart/related; boundary=\"" + related + "\"\r\n\r\n";
        relatedProlog.body = "\r\n";
        MimePart html;
        html.boundary = "--" + related + "\r\n";
        html.headers = "Content-Type: text/html; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: "
                       "quoted-printable\r\n\r\n";
        html.body =
            "<html><body><p>Hello <b>Alice</b>.</p>\r\n"
            "<p><img src=3D\"cid:chart@example.org\" alt=3D\"chart\"></p>\r\n"
            "<table border=3D\"1\"><tr><th>Region</th><th>Q1</th><th>Q2</th></tr>\r\n"
            "<tr><td>North</td><td>10</td><td>12</td></tr>\r\n"
            "<tr><td>South</td><td>7</td><td>9</td></tr></table>\r\n"
            "<p>Details: <a href=3D\"https://www.example.com/q\">the report</a></p></body></html>\r\n";
        const IndexedPicture chart = patternPicture(24, 16, options_.seed + 500);
        const Bytes gif = makeGif(chart);
        MimePart picture;
        picture.boundary = "--" + related + "\r\n";
        picture.headers = "Content-Type: image/gif; name=\"chart.gif\"\r\nContent-Transfer-Encoding: "
                          "base64\r\nContent-ID: <chart@example.org>\r\nContent-Disposition: inline; "
                          "filename=\"chart.gif\"\r\n\r\n";
        picture.body = base64Lines(gif);
        MimePart relatedEpilog;
        relatedEpilog.partType = MimePart::kEpilog;
        relatedEpilog.boundary = "--" + related + "--\r\n";
        MimePart epilog;
        epilog.partType = MimePart::kEpilog;
        epilog.boundary = "--" + boundary + "--\r\n";
        for (const MimePart *part :
             {&prolog, &plain, &relatedProlog, &html, &picture, &relatedEpilog, &epilog})
            memo.add(Item::raw("Body", type::kMimePart, part->value()).sign().seal());
        memo.add(
            Item::textList("$MIMETrack", {"Itemize by SMTP Server on Mail1/Acme at 03/05/2024 10:00:05 AM"}));
        memo.add(Item::text("$NoteHasNativeMIME", "1"));
        placeInFolders(memo, 50);
        emit(std::move(memo), false);
    }

    void writePlainDocument(std::uint64_t index, bool showcase) {
        Note doc = Note::document(showcase ? "Document" : (random_.percent(50) ? "Document" : "Minutes"));
        doc.info = info(index);
        doc = prepared(std::move(doc));
        doc.add(
            Item::text("Subject", showcase ? "Edge cases: ]]> & <tags> \"quotes\" 'apostrophes'" : words(3)));
        doc.add(Item::textList("Categories", {words(1), words(1)}));
        doc.add(Item::number("Amount", static_cast<double>(random_.between(-500, 5000)) / 4));
        doc.add(Item::numberList("Scores", {1, 2.5, -3, 1e6}));
        doc.add(Item::dateTime("DueDate",
                               DateTime::dateOnly(2024, 12, static_cast<int>(random_.between(1, 31)))));
        if (showcase) {
            doc.add(Item::dateTime("CallTime", DateTime::timeOnly(14, 30, 0)));
            doc.add(Item::dateTime("IndiaTime", DateTime::at(2024, 1, 15, 9, 25, 30, 17, 330)));
            doc.add(Item::dateTime("SummerTime", DateTime::at(2024, 7, 20, 12, 0, 0, 0, -240, true)));
            doc.add(Item::dateTime("ZeroTime", DateTime::at(2024, 7, 20, 12, 0, 0, 0, 0)));
            doc.add(Item::raw("ClearedTime", type::kTime, TimeDate{}.bytes()));
            doc.add(Item::text("MultiLine", "first line\nsecond line\ttabbed\x01 control"));
            doc.add(Item::text("Empty", ""));
            doc.add(Item::textList("DocReaders", {std::string(kOwner), "[Admin]"}).readers());
            doc.add(Item::textList("DocAuthors", {std::string(kOwner)}).authors());
            doc.add(Item::text("Locked", "yes").protect());
            doc.add(Item::text("Hidden", "not summary").summary(false));
            doc.add(Item::raw("$REF", type::kNoteRefList, noteRefListValue({lastMemo_})).summary());
            Bytes userData{4, 'A', 'c', 'm', 'e', 1, 2, 3};
            doc.add(Item::raw("AppData", type::kUserData, userData));
        }
        RichText rt;
        ParDef def;
        def.id = 1;
        rt.pardef(def);
        rt.par(1, sentence());
        Par styled;
        styled.def = 1;
        styled.text("Plain, ")
            .run({"", "12pt", "red", "bold"}, "bold red")
            .text(", ")
            .run({"Courier New", "9pt", "", "italic underline"}, "mono")
            .br()
            .text("after a break & <escape>");
        rt.par(std::move(styled));
        ParDef bullets;
        bullets.id = 2;
        bullets.list = "bullet";
        rt.pardef(bullets);
        for (int i = 0; i < 2; ++i)
            rt.par(2, words(3));
        rt.par(Par{1, {}});
        doc.add(Item::richText("Body", std::move(rt)));
        placeInFolders(doc, showcase ? 100 : 20);
        emit(std::move(doc), false);
    }

    void writeRandomMemo(std::uint64_t index) {
        Note memo = Note::document("Memo");
        memo.info = info(index);
        memo = prepared(std::move(memo));
        addMailHeader(memo, index, words(static_cast<int>(random_.between(2, 6))));
        if (random_.percent(40))
            memo.add(Item::text("Logo", "StdNotesLtr0"));
        CdWriter body;
        bodyStart(body);
        const auto paragraphs = random_.between(1, 8);
        for (int i = 0; i < paragraphs; ++i)
            paragraph(body, static_cast<std::uint16_t>(random_.between(1, 3)), sentence());
        if (random_.percent(30))
            table(body, static_cast<int>(random_.between(1, 4)), static_cast<int>(random_.between(1, 4)));
        if (random_.percent(20)) {
            const IndexedPicture pic =
                patternPicture(static_cast<std::uint16_t>(random_.between(8, 64)),
                               static_cast<std::uint16_t>(random_.between(8, 64)), random_.next());
            body.paragraph().pabReference(1).picture(ImageType::Gif, pic.width, pic.height, makeGif(pic));
        }
        if (options_.targetBytes > 0 && random_.percent(3)) {
            // A body larger than one item: Notes keeps it in several Body items.
            for (int i = 0; i < 900; ++i)
                paragraph(body, 1, sentence() + " " + sentence());
        }
        const bool large = options_.targetBytes > 0;
        if (random_.percent(35)) {
            const std::size_t size = static_cast<std::size_t>(large ? random_.between(1000, 2 * 1024 * 1024)
                                                                    : random_.between(1, 2000));
            attach(memo, body,
                   attachment("file" + std::to_string(index) + (random_.percent(50) ? ".txt" : ".bin"), size,
                              index));
        }
        const std::vector<Bytes> pieces = splitRichText(body.bytes());
        for (const Bytes &piece : pieces)
            memo.add(Item::richTextRaw("Body", piece).sign().seal());
        placeInFolders(memo, 15);
        lastMemo_ = memo.info.unid;
        emit(std::move(memo), false);
    }

    void writeDocument(std::uint64_t index) {
        switch (index) {
        case 0:
            return writeShowcaseMemo(index);
        case 1:
            return writeAttachmentMemo(index);
        case 2:
            return writeAppointment(index);
        case 3:
            return writeEncryptedMemo(index);
        case 4:
            return writeMimeMemo(index);
        case 5:
            return writePlainDocument(index, true);
        case 6:
        case 7:
            return writeXmlRichTextMemo(index, index == 7);
        default:
            break;
        }
        const auto pick = random_.below(100);
        if (pick < 70)
            writeRandomMemo(index);
        else if (pick < 82)
            writeAppointment(index);
        else
            writePlainDocument(index, false);
    }

    Options options_;
    Random random_;
    DxlWriter writer_;
    Summary summary_;
    std::vector<Note> folders_;
    Unid viewUnid_;
    Unid lastMemo_;
};

} // namespace

Summary generate(const Options &options, std::ostream &out) {
    return Generator(options, out).run();
}

} // namespace tessel::nsfgen
