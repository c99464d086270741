// Writes the seed corpora of the fuzz targets from the test kit's builders:
//   make_seeds <fuzz/corpus folder>
// The seeds are small and committed; run this again only when the kit learns new constructs.
#include <tessel/kit/CdWriter.h>
#include <tessel/kit/Dxl.h>
#include <tessel/kit/NotesBitmapBuilder.h>
#include <tessel/kit/Values.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tessel::kit;

namespace {

void write(const fs::path &dir, const std::string &name, const Bytes &bytes) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                      static_cast<std::streamsize>(bytes.size()));
}
void write(const fs::path &dir, const std::string &name, const std::string &text) {
    write(dir, name, Bytes(text.begin(), text.end()));
}

NotesBitmapBuilder bitmap(std::uint16_t depth) {
    std::vector<std::uint16_t> pixels(6 * 4);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = static_cast<std::uint16_t>(depth == 1 ? i % 2 : depth == 8 ? i % 3 : i * 977);
    NotesBitmapBuilder builder(6, 4, depth);
    if (depth == 8)
        builder.colors({{0, 0, 0}, {255, 0, 0}, {0, 0, 255}});
    builder.pixels(pixels);
    return builder;
}

Note memo(const std::string &subject) {
    Note note = Note::document("Memo");
    note.add(Item::text("From", "CN=Alice Smith/O=Acme"));
    note.add(Item::textList("SendTo", {"Bob", "Carol"}));
    note.add(Item::text("Subject", subject));
    note.add(Item::dateTime("PostedDate", DateTime::at(2021, 3, 4, 5, 6, 7)));
    return note;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const fs::path corpus = argv[1];

    // Composite data: the type word, then the records.
    std::vector<std::pair<std::string, CdWriter>> streams;
    {
        CdWriter cd;
        cd.paragraph().text({}, "Hello\nworld <&> \xc3\xa9");
        streams.emplace_back("text", cd);
    }
    {
        CdWriter cd;
        cd.tableBegin({}).tableCell({}).text({}, "a").tableCell({.column = 1}).text({}, "b").tableEnd();
        streams.emplace_back("table", cd);
    }
    {
        CdWriter cd;
        Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0, 0x3B};
        cd.paragraph().picture(ImageType::Gif, 1, 1, gif, 10);
        streams.emplace_back("picture", cd);
    }
    {
        CdWriter cd;
        bitmap(8).appendTo(cd);
        streams.emplace_back("bitmap", cd);
    }
    {
        CdWriter cd;
        cd.urlLinkBegin("https://example.com/?a=1&b=2").text({}, "link").urlLinkEnd();
        cd.horizontalRule({}).paragraph().text({}, "after");
        streams.emplace_back("link", cd);
    }
    for (const auto &[name, cd] : streams)
        write(corpus / "richtext", name, compositeValue(cd.bytes()));

    for (std::uint16_t depth : {1, 8, 16})
        write(corpus / "bmpcv", "depth" + std::to_string(depth), bitmap(depth).converterStream());

    // MIME parts separated by the marker of the MIME target.
    const std::string marker("\0\xffPART\xff\0", 8);
    {
        MimePart prolog;
        prolog.partType = MimePart::kProlog;
        prolog.headers = "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"b1\"\r\n\r\n";
        prolog.body = "";
        MimePart plain;
        plain.boundary = "--b1\r\n";
        plain.headers = "Content-Type: text/plain; charset=utf-8\r\n\r\n";
        plain.body = "Hello plain\r\n";
        MimePart html;
        html.boundary = "--b1\r\n";
        html.headers = "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
        html.body = "<p>Hello <b>html</b> <img src=3D\"cid:x\"></p>\r\n";
        MimePart attachment;
        attachment.boundary = "--b1\r\n";
        attachment.headers =
            "Content-Type: application/octet-stream; name=\"a.bin\"\r\nContent-Disposition: attachment; "
            "filename=\"a.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        attachment.body = "AAECAwQ=\r\n";
        MimePart epilog;
        epilog.partType = MimePart::kEpilog;
        epilog.boundary = "--b1--\r\n";
        Bytes all;
        for (const MimePart *part : {&prolog, &plain, &html, &attachment, &epilog}) {
            if (!all.empty())
                all.insert(all.end(), marker.begin(), marker.end());
            Bytes value = part->value();
            all.insert(all.end(), value.begin(), value.end());
        }
        write(corpus / "mime", "alternative", all);
        MimePart single;
        single.headers = "Content-Type: text/plain\r\n\r\n";
        single.body = "one part";
        write(corpus / "mime", "single", single.value());
    }

    // The text chain: raw text with NUL line breaks and LMBCS group bytes.
    write(corpus / "textchain", "plain", std::string("first line\0second <line> & \"quotes\"\0", 36));
    write(corpus / "textchain", "lmbcs", Bytes{'a', 0x10, 0xE9, 'b', 0x12, 0x82, 0xA0, 0x14, 0x8C, 0x8F, 0, 'c', '=', '\r', '\n'});

    // Databases as DXL for the loader and for the whole run.
    {
        Database db;
        Note note = memo("Plain memo");
        note.add(Item::richText("Body", RichText{}.par(1, "Hello rich text")));
        db.add(std::move(note));
        Note withFile = memo("With attachment");
        FileAttachment file;
        file.name = "report.txt";
        file.data = Bytes{'r', 'e', 'p', 'o', 'r', 't'};
        file.hostType = "msdos";
        file.modified = DateTime::at(2021, 3, 4, 5, 6, 7);
        withFile.add(Item::file(file));
        db.add(std::move(withFile));
        Note composite = memo("Composite body");
        CdWriter cd;
        cd.paragraph().text({}, "Bold?");
        bitmap(1).appendTo(cd);
        composite.add(Item::richTextRaw("Body", cd.bytes()));
        db.add(std::move(composite));
        for (const char *target : {"dxl", "database"})
            write(corpus / target, "memos.dxl", db.toDxl());
    }
    {
        Database db;
        Note note = memo("MIME memo");
        MimePart single;
        single.headers = "Content-Type: text/html; charset=utf-8\r\n\r\n";
        single.body = "<p>Hi <i>there</i></p>";
        note.add(Item::raw("Body", type::kMimePart, single.value()));
        db.add(std::move(note));
        for (const char *target : {"dxl", "database"})
            write(corpus / target, "mime.dxl", db.toDxl());
    }
    return 0;
}
