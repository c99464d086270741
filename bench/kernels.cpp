// Speed of the small kernels that every open and extraction runs, each next to a floor timed in the
// same run (Google Benchmark; CPU time):
//
//   LmbcsToUtf8/ascii, /accented  nsfConvertLMBCStoUTF8 on 1 MB of LMBCS text (plain ASCII words, or
//                                 words with accented letters in one of five), which hands the text
//                                 to OSTranslate in pieces; MB/s of LMBCS input
//   Utf8ToHtml                    nsfConvertUTF8toHTML on 1 MB of UTF-8 text with line breaks,
//                                 markup characters and accented letters; MB/s of input
//   Copy                          the floor of the two above: memcpy of the same megabyte
//   BufferGrowth                  a work buffer grown by nsfCheckBuffer from empty to 16 MB in
//                                 steps of 64 bytes, as the writers that append to it grow it
//   DxlLoad                       NSFDbOpen and NSFDbClose of a 1 000-memo nsfgen database (3 MB; a
//                                 fresh copy for every iteration, so that nothing is reused)
//   ExpatParse                    the floor of DxlLoad: reading the same file and parsing it with
//                                 expat without handlers
//   MemoTemplates, MemoBuiltIn    every memo of a 200-memo nsfgen database extracted as MHT into a
//                                 string through the plug-in, with the XML templates and with the
//                                 built-in header table; the difference is the template execution
//
//   bench_kernels --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//
// Ratios to read: LmbcsToUtf8 and Utf8ToHtml against Copy (bytes per second), DxlLoad against
// ExpatParse, MemoTemplates against MemoBuiltIn (per memo).
#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <quillon/host/Catalogue.h>
#include <quillon/host/Container.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>

#include <expat.h>
#include <notes/notes.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTextBytes = 1024 * 1024;

// A folder of the run's own under the system's temporary folder, removed at exit.
const fs::path &scratch() {
    struct Scratch {
        fs::path path;
        Scratch() {
            std::string pattern = (fs::temp_directory_path() / "tessel-kernels-XXXXXX").string();
            if (mkdtemp(pattern.data()) == nullptr) {
                std::perror("mkdtemp");
                std::exit(1);
            }
            path = pattern;
        }
        ~Scratch() {
            std::error_code error;
            fs::remove_all(path, error);
        }
    };
    static Scratch instance;
    return instance.path;
}

// A database of `notes` memos written by nsfgen (seed 7) into the scratch folder once.
fs::path database(unsigned notes) {
    return tessel::bench::database(scratch(), notes);
}

// Text of kTextBytes made of words, with line breaks and (when wanted) accented or markup words.
std::string text(bool bAccented, bool bMarkup) {
    static const char *const kPlain[] = {"quarterly", "figures", "budget", "meeting", "agenda", "project",
                                         "review",    "draft",   "notes",  "travel",  "update", "report"};
    static const char *const kAccented[] = {"caf\xC3\xA9", "na\xC3\xAFve", "Z\xC3\xBCrich", "se\xC3\xB1or"};
    static const char *const kMarkup[] = {"<customer>", "a&b", "x=1"};
    std::string s;
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    while (s.size() < kTextBytes) {
        const std::uint32_t pick = next() % 20;
        if (bAccented && pick < 4)
            s += kAccented[pick];
        else if (bMarkup && pick == 4)
            s += kMarkup[next() % 3];
        else
            s += kPlain[next() % std::size(kPlain)];
        s += next() % 12 == 0 ? '\n' : ' ';
    }
    s.resize(kTextBytes);
    return s;
}

// The Notes runtime, started once for the whole run.
void startNotes() {
    static const bool bStarted = [] {
        if (NotesInitExtended(0, nullptr) != NOERROR) {
            std::fprintf(stderr, "NotesInitExtended failed\n");
            std::exit(1);
        }
        return true;
    }();
    (void)bStarted;
}

// A reader context with its standing work buffers over the host's services and the log off, as
// open leaves it before the database is read.
class Context {
public:
    Context() {
        pContext_ = static_cast<NSFCONTEXT *>(std::calloc(1, sizeof(NSFCONTEXT)));
        pContext_->services = host_.services();
        pContext_->logLevel = 1;
        if (nsfInitBuffers(pContext_) != 0) {
            std::fprintf(stderr, "nsfInitBuffers failed\n");
            std::exit(1);
        }
    }
    ~Context() {
        for (int32_t i = 0; i < pContext_->numBuffers; i++)
            nsfFreeBuffer(pContext_, &pContext_->buffers[i]);
        nsfFree(pContext_, pContext_->buffers);
        std::free(pContext_);
    }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    NSFCONTEXT *get() const { return pContext_; }
    void put(NSFBUFFER *pBuffer, const std::string &bytes) {
        pBuffer->ucbData = 0;
        if (nsfCheckBuffer(pContext_, pBuffer, static_cast<uint32_t>(bytes.size())) != 0)
            std::exit(1);
        std::memcpy(pBuffer->rgbData, bytes.data(), bytes.size());
        pBuffer->ucbData = static_cast<uint32_t>(bytes.size());
    }

private:
    quillon::Host host_;
    NSFCONTEXT *pContext_ = nullptr;
};

// The LMBCS form of a UTF-8 text, made by the runtime itself.
std::string toLmbcs(const std::string &utf8) {
    startNotes();
    std::string out;
    std::vector<char> piece(0xFFFF);
    for (std::size_t at = 0; at < utf8.size();) {
        // Pieces end after a blank or a line break, so that no character is cut.
        std::size_t end = std::min(utf8.size(), at + 8000);
        while (end < utf8.size() && utf8[end - 1] != ' ' && utf8[end - 1] != '\n')
            ++end;
        WORD cb = OSTranslate(OS_TRANSLATE_UTF8_TO_LMBCS, utf8.data() + at, static_cast<WORD>(end - at),
                              piece.data(), static_cast<WORD>(piece.size()));
        out.append(piece.data(), cb);
        at = end;
    }
    return out;
}

void BM_LmbcsToUtf8(benchmark::State &state) {
    static const std::string ascii = toLmbcs(text(false, false));
    static const std::string accented = toLmbcs(text(true, false));
    const std::string &in = state.range(0) != 0 ? accented : ascii;
    Context context;
    for (auto _ : state) {
        state.PauseTiming();
        context.put(context.get()->BufferLMBCS, in);
        state.ResumeTiming();
        if (nsfConvertLMBCStoUTF8(context.get()) != 0) {
            state.SkipWithError("nsfConvertLMBCStoUTF8 failed");
            break;
        }
        benchmark::DoNotOptimize(context.get()->BufferUTF8->rgbData);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    state.SetLabel(state.range(0) != 0 ? "accented" : "ascii");
}

void BM_Utf8ToHtml(benchmark::State &state) {
    static const std::string in = text(true, true);
    Context context;
    for (auto _ : state) {
        state.PauseTiming();
        context.put(context.get()->BufferUTF8, in);
        state.ResumeTiming();
        if (nsfConvertUTF8toHTML(context.get()) != 0) {
            state.SkipWithError("nsfConvertUTF8toHTML failed");
            break;
        }
        benchmark::DoNotOptimize(context.get()->BufferHTML->rgbData);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Copy(benchmark::State &state) {
    static const std::string in = text(true, true);
    std::vector<char> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_BufferGrowth(benchmark::State &state) {
    constexpr uint32_t kTotal = 16u * 1024 * 1024, kStep = 64;
    Context context;
    std::size_t cGrowths = 0;
    for (auto _ : state) {
        NSFBUFFER *pBuffer = nullptr;
        if (nsfAddBuffer(context.get(), 0, &pBuffer) != 0) {
            state.SkipWithError("nsfAddBuffer failed");
            break;
        }
        while (pBuffer->ucbData < kTotal) {
            if (nsfCheckBuffer(context.get(), pBuffer, kStep) != 0) {
                state.SkipWithError("nsfCheckBuffer failed");
                break;
            }
            std::memset(pBuffer->rgbData + pBuffer->ucbData, 'x', kStep);
            pBuffer->ucbData += kStep;
        }
        cGrowths = static_cast<std::size_t>(pBuffer->cReallocs);
        nsfFreeBuffer(context.get(), &pBuffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
    state.counters["growths"] = static_cast<double>(cGrowths);
}

void BM_DxlLoad(benchmark::State &state) {
    startNotes();
    const fs::path source = database(1000);
    std::size_t nCopy = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path copy = scratch() / ("load-" + std::to_string(nCopy++) + ".dxl");
        fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        DBHANDLE hDb = NULLHANDLE;
        if (NSFDbOpen(copy.c_str(), &hDb) != NOERROR) {
            state.SkipWithError("NSFDbOpen failed");
            break;
        }
        NSFDbClose(hDb);
        state.PauseTiming();
        fs::remove(copy);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(source)));
}

void BM_ExpatParse(benchmark::State &state) {
    const fs::path source = database(1000);
    for (auto _ : state) {
        std::ifstream in(source, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        XML_Parser parser = XML_ParserCreate(nullptr);
        if (XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_OK) {
            XML_ParserFree(parser);
            state.SkipWithError("expat failed");
            break;
        }
        XML_ParserFree(parser);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(source)));
}

// Every memo of a 200-memo database extracted as MHT into a string, templates on or off.
void extractMemos(benchmark::State &state, bool bTemplates) {
    std::string error;
    static const auto reader = quillon::ReaderLibrary::load(TESSEL_NSF_PLUGIN, error);
    if (reader == nullptr) {
        state.SkipWithError(("cannot load the plug-in: " + error).c_str());
        return;
    }
    setenv("QUILLON_TESSEL_LOG_LEVEL", "NONE", 1);
    quillon::Host host;
    host.config().set("tessel", "ExtractByTemplate", bTemplates ? "1" : "0");
    quillon::Container container(host, *reader, database(200));
    auto listed = quillon::Catalogue(container).list();
    if (!container.isOpen() || !listed.ok()) {
        state.SkipWithError("open failed");
        return;
    }
    std::vector<int32_t> memos;
    for (const quillon::SubFile &subFile : listed.value)
        if (subFile.kind == QLSubFileType_Main)
            memos.push_back(subFile.index);
    quillon::Extractor extractor(container);
    std::string out;
    std::size_t cbOut = 0;
    for (auto _ : state) {
        cbOut = 0;
        for (int32_t index : memos) {
            if (extractor.extract(index, out, QLExtractFlag_GetFormattedBody) != 0) {
                state.SkipWithError("extraction failed");
                return;
            }
            cbOut += out.size();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * memos.size()));
    state.counters["memos"] = static_cast<double>(memos.size());
    state.counters["out_MB"] = static_cast<double>(cbOut) / 1e6;
}

void BM_MemoTemplates(benchmark::State &state) {
    extractMemos(state, true);
}
void BM_MemoBuiltIn(benchmark::State &state) {
    extractMemos(state, false);
}

BENCHMARK(BM_LmbcsToUtf8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToHtml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufferGrowth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DxlLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpatParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoTemplates)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoBuiltIn)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
