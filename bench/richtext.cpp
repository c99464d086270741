// Speed of the rich-text converter: composite data to MHT, in MB/s of input, for three bodies of
// about 10 MB each built with the test kit:
//
//   Text      paragraphs of text runs in several fonts and attributes (ASCII with a few accented
//             words, tabs and markup characters), lists and links
//   Table     3 x 4 tables with a border record, cell colours and a text paragraph per cell
//   Picture   GIF pictures of 30 KB in segments of 10 250 bytes with captions, and Notes bitmaps
//             (which go to the image converter when bmpcv.dll is in the library directory)
//
// and the base64 encoder against coreutils' `base64 -w 76` on the same 10 MB of random bytes in the
// same run (the child's CPU time is measured through wait4 and reported as the benchmark's time).
//
//   bench_richtext --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//
// Targets: Text at least 100 MB/s; Base64 at least half the bytes per second of Coreutils.
#include <benchmark/benchmark.h>

#include <quillon/host/Host.h>
#include <tessel/kit/CdWriter.h>
#include <tessel/kit/Random.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "nsf/richtext/base64.h"
#include "nsf/richtext/converter.h"

extern char **environ;

namespace {

using namespace tessel::kit;

constexpr std::size_t kTarget = 10u * 1024 * 1024;

quillon::Host &host() {
    static quillon::Host instance = [] {
        quillon::HostOptions options;
        options.libraryDir = TESSEL_BMPCV_DIR;
        return quillon::Host(quillon::Config{}, options);
    }();
    return instance;
}

std::string words(Random &random, int count) {
    static const char *const kWords[] = {"quarterly",  "figures", "budget", "meeting",     "agenda",
                                         "project",    "review",  "draft",  "caf\xC3\xA9", "invoice",
                                         "<customer>", "a&b",     "x=1",    "release",     "notes",
                                         "travel",     "update",  "report"};
    std::string s;
    for (int i = 0; i < count; ++i) {
        if (i)
            s += random.percent(5) ? '\t' : ' ';
        s += kWords[random.below(std::size(kWords))];
    }
    return s;
}

void definitions(CdWriter &cd) {
    static const Face faces[] = {{5, 0x22, "Arial"}, {6, 0x31, "Courier New"}};
    cd.fontTable(faces);
    PabDefinition plain, bullet, numbered;
    plain.id = 1;
    bullet.id = 2;
    bullet.flags = PabDefinition::kBullet;
    numbered.id = 3;
    numbered.flags = PabDefinition::kNumberedList;
    cd.pabDefinition(plain).pabDefinition(bullet).pabDefinition(numbered);
}

Bytes textBody() {
    Random random(1);
    CdWriter cd;
    definitions(cd);
    while (cd.size() < kTarget) {
        cd.paragraph().pabReference(static_cast<std::uint16_t>(1 + random.below(3)));
        for (int run = 0; run < 4; ++run) {
            FontId font{static_cast<std::uint8_t>(random.below(7)),
                        static_cast<std::uint8_t>(random.below(4)),
                        static_cast<std::uint8_t>(random.below(16)), 10};
            cd.text(font, words(random, 6 + static_cast<int>(random.below(20))));
        }
        if (random.percent(10))
            cd.urlLinkBegin("https://example.com/x?y=1").text({}, "a link").urlLinkEnd();
    }
    return cd.bytes();
}

Bytes tableBody() {
    Random random(2);
    CdWriter cd;
    definitions(cd);
    while (cd.size() < kTarget) {
        PreTableBegin pre;
        pre.rows = 3;
        pre.columns = 4;
        cd.beginRecord(sig::kPreTableBegin, 1)
            .preTableBegin(pre)
            .borderInfo({})
            .endRecord(sig::kPreTableBegin, 1);
        cd.tableBegin({});
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) {
                TableCell cell;
                cell.row = static_cast<std::uint8_t>(r);
                cell.column = static_cast<std::uint8_t>(c);
                cell.leftMargin = static_cast<std::uint16_t>(c * 1440);
                cell.rightMargin = static_cast<std::uint16_t>((c + 1) * 1440);
                cell.flags = r == 0 ? TableCell::kUseBackgroundColor : 0;
                cell.backgroundColor = 15;
                cd.tableCell(cell);
                if (r == 1)
                    cd.color(ColorValue::rgb(255, 200, 0), sig::kTableCellColor, ColorValue::rgb(0, 0, 255));
                cd.paragraph().pabReference(1).text({}, words(random, 3));
            }
        cd.tableEnd();
    }
    return cd.bytes();
}

Bytes pictureBody() {
    Random random(3);
    CdWriter cd;
    definitions(cd);
    Bytes gif(30000);
    random.fill(gif);
    NotesBitmap bitmap;
    bitmap.width = 64;
    bitmap.height = 32;
    bitmap.bitsPerPixel = 8;
    bitmap.palette = {{0, 0, 0}, {255, 255, 255}, {200, 30, 30}};
    for (int i = 0; i < 64 * 32; ++i)
        bitmap.pixels.push_back(static_cast<std::uint16_t>((i / 7) % 3));
    for (int n = 0; cd.size() < kTarget; ++n) {
        cd.paragraph().pabReference(1).picture(ImageType::Gif, 200, 100, gif);
        cd.caption({"Figure", 0, {}, ColorValue::rgb(0, 0, 0)});
        if (n % 4 == 0)
            cd.notesBitmap(bitmap);
    }
    return cd.bytes();
}

void convert(benchmark::State &state, const Bytes &body) {
    std::size_t cbOut = 0, cBmpParts = 0;
    for (auto _ : state) {
        CLotusRTConverter converter(host().services(), "1F2A");
        std::string out;
        converter.ConvertToMHT(body.data(), static_cast<uint32_t>(body.size()), out);
        cbOut = out.size();
        benchmark::DoNotOptimize(out.data());
        state.PauseTiming();
        cBmpParts = 0;
        for (auto at = out.find("image/bmp"); at != std::string::npos; at = out.find("image/bmp", at + 1))
            ++cBmpParts;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
    state.counters["in_MB"] = static_cast<double>(body.size()) / 1e6;
    state.counters["out_MB"] = static_cast<double>(cbOut) / 1e6;
    state.counters["bmp_parts"] = static_cast<double>(cBmpParts);
}

void BM_ConvertText(benchmark::State &state) {
    static const Bytes body = textBody();
    convert(state, body);
}
void BM_ConvertTable(benchmark::State &state) {
    static const Bytes body = tableBody();
    convert(state, body);
}
void BM_ConvertPicture(benchmark::State &state) {
    static const Bytes body = pictureBody();
    convert(state, body);
}

const Bytes &randomBytes() {
    static const Bytes bytes = [] {
        Bytes b(kTarget);
        Random(4).fill(b);
        return b;
    }();
    return bytes;
}

void BM_Base64(benchmark::State &state) {
    const Bytes &in = randomBytes();
    std::vector<char> out(nsfBase64Size(static_cast<uint32_t>(in.size())));
    for (auto _ : state) {
        int32_t nLine = 0;
        benchmark::DoNotOptimize(
            encode_base64(in.data(), static_cast<uint32_t>(in.size()), out.data(), &nLine));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// coreutils' base64 over the same bytes from a file, its output to /dev/null; the time is the
// child's user and system CPU time.
void BM_CoreutilsBase64(benchmark::State &state) {
    const Bytes &in = randomBytes();
    std::string pattern = (std::filesystem::temp_directory_path() / "tessel-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("cannot make a temporary directory");
        return;
    }
    const std::filesystem::path dir = pattern;
    const std::filesystem::path file = dir / "input.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(in.data()), static_cast<std::streamsize>(in.size()));
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        std::string path = file.string();
        char arg0[] = "base64", arg1[] = "-w", arg2[] = "76";
        char *argv[] = {arg0, arg1, arg2, path.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "base64", &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot run base64");
            break;
        }
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        const double seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    std::filesystem::remove_all(dir);
}

BENCHMARK(BM_ConvertText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsBase64)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
