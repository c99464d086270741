// Hostile DXL shapes found by fuzzing, timed against a plain expat parse of the same file (the
// floor, timed in the same run). Each case writes its input into a fresh temporary folder:
//
//   bench_hostile_dxl items       one note with 100 000 items named Subject (about 4.7 MB); the
//                                 work is NSFDbOpen, NSFNoteOpen and a walk over every item with
//                                 NSFItemInfo / NSFItemInfoNext
//   bench_hostile_dxl attribute   a document whose form attribute is 64 MiB long; the work is the
//                                 load, which refuses the token
//   bench_hostile_dxl elements    one rich-text item of 15 million empty elements spread over
//                                 paragraphs (about 60 MB); the work is the load
//
// Prints the CPU time of the work and of the floor (median of three each), their ratio, and the
// process's peak resident set size at the end. Run each case in its own process.
#include "DxlLoader.h"

#include <notes/notes.h>

#include <expat.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

double cpuSeconds(const std::function<void()> &work) {
    const std::clock_t start = std::clock();
    work();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

double medianOfThree(const std::function<void()> &work) {
    std::vector<double> times;
    for (int i = 0; i < 3; ++i)
        times.push_back(cpuSeconds(work));
    std::sort(times.begin(), times.end());
    return times[1];
}

// The floor: expat over the file in 1 MiB buffers, no handlers.
void plainParse(const std::filesystem::path &path) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    std::FILE *file = std::fopen(path.c_str(), "rb");
    std::vector<char> buffer(1 << 20);
    std::size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        if (XML_Parse(parser, buffer.data(), static_cast<int>(count), XML_FALSE) == XML_STATUS_ERROR)
            break;
    }
    XML_Parse(parser, nullptr, 0, XML_TRUE);
    std::fclose(file);
    XML_ParserFree(parser);
}

const char *kHead = "<?xml version='1.0' encoding='utf-8'?>\n<database xmlns='http://www.lotus.com/dxl' "
                    "replicaid='852585D0004D33F6'>\n";

void writeItems(const std::filesystem::path &path) {
    std::ofstream out(path, std::ios::binary);
    out << kHead << "<document form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>";
    for (int i = 0; i < 100000; ++i)
        out << "<item name='Subject'><text>" << i << "</text></item>\n";
    out << "</document></database>\n";
}

void writeAttribute(const std::filesystem::path &path) {
    std::ofstream out(path, std::ios::binary);
    out << kHead << "<document form='";
    const std::string block(1 << 20, 'f');
    for (int i = 0; i < 64; ++i)
        out << block;
    out << "'/></database>\n";
}

void writeElements(const std::filesystem::path &path) {
    std::ofstream out(path, std::ios::binary);
    out << kHead << "<document form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>"
        << "<item name='Body'><richtext>";
    std::string paragraph = "<par>";
    for (int i = 0; i < 1000; ++i)
        paragraph += "<x/>";
    paragraph += "</par>\n";
    for (int i = 0; i < 15000; ++i)
        out << paragraph;
    out << "</richtext></item></document></database>\n";
}

void walkItems(const std::filesystem::path &path) {
    DBHANDLE db = NULLHANDLE;
    if (NSFDbOpen(path.c_str(), &db) != NOERROR)
        return;
    NOTEHANDLE note = NULLHANDLE;
    if (NSFNoteOpen(db, 0x10C, 0, &note) == NOERROR) {
        BLOCKID item{}, value{};
        DWORD length = 0;
        std::size_t count = 0;
        STATUS status = NSFItemInfo(note, nullptr, 0, &item, nullptr, &value, &length);
        while (status == NOERROR) {
            ++count;
            status = NSFItemInfoNext(note, item, nullptr, 0, &item, nullptr, &value, &length);
        }
        std::printf("walked %zu items\n", count);
        NSFNoteClose(note);
    }
    NSFDbClose(db);
}

} // namespace

int main(int argc, char **argv) {
    const std::string which = argc == 2 ? argv[1] : "";
    std::random_device random;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench-hostile-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path path = dir / "hostile.dxl";
    std::function<void()> work;
    if (which == "items") {
        writeItems(path);
        NotesInitExtended(0, nullptr);
        work = [&] { walkItems(path); };
    } else if (which == "attribute") {
        writeAttribute(path);
        work = [&] { std::printf("status 0x%04X\n", notesemu::loadDxlFile(path).status); };
    } else if (which == "elements") {
        writeElements(path);
        work = [&] { std::printf("status 0x%04X\n", notesemu::loadDxlFile(path).status); };
    } else {
        std::fprintf(stderr, "usage: %s items|attribute|elements\n", argv[0]);
        std::filesystem::remove_all(dir);
        return 2;
    }
    const double floor = medianOfThree([&] { plainParse(path); });
    const double time = medianOfThree(work);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: file %ju bytes; work %.3f s CPU, floor (plain expat parse) %.3f s CPU, ratio %.2f; "
                "peak RSS %ld MB\n",
                which.c_str(), static_cast<std::uintmax_t>(std::filesystem::file_size(path)), time, floor,
                floor > 0 ? time / floor : 0.0, usage.ru_maxrss / 1024);
    if (which == "items")
        NotesTerm();
    std::filesystem::remove_all(dir);
    return 0;
}
