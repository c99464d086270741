// Extracts every subfile of a synthetic mail database through the plug-in, as a host does: each
// memo as MHT (the formatted-body flag, templates off), each attachment as its bytes, every one
// into a file of its own. For each size (default 1 000 and 10 000 notes, written once by nsfgen
// with seed 7 into the data directory) it reports, in a process of its own, the median of three
// runs of:
//
//   memos        CPU and wall time of the memo extractions, memos per second, MB/s of MHT written,
//                CPU time per memo
//   attachments  CPU and wall time of the attachment extractions, MB/s, CPU time per attachment
//   cp floor     `cp` copying the same attachment files (as extracted) into another folder, timed
//                in the same run (its CPU time is the child's), and the ratio of the attachment
//                extraction to it
//
//   bench_extract_all [data-dir] [notes...]
//
// The per-extraction CPU time of both kinds should be about the same at every size: extraction
// works on one note and never walks the catalogue or the database.
#include "BenchSupport.h"

#include <quillon/host/Catalogue.h>
#include <quillon/host/Container.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>
#include <quillon/host/Status.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using tessel::bench::database;

double cpuSeconds(int who) {
    struct rusage usage {};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double wallSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timing {
    double cpu = 0, wall = 0;
    uint64_t bytes = 0;
    unsigned count = 0;
};

struct Run {
    Timing memos, attachments, floor;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Copies the attachment files with one cp process; its CPU time is taken from the children's.
Timing copyFloor(const fs::path &from, const fs::path &to, const Timing &attachments) {
    fs::remove_all(to);
    fs::create_directories(to);
    Timing floor;
    floor.bytes = attachments.bytes;
    floor.count = attachments.count;
    double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        std::string source = (from / ".").string();
        execlp("cp", "cp", "-r", source.c_str(), to.c_str(), static_cast<char *>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    floor.wall = wallSince(start);
    floor.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cp failed\n");
        std::exit(1);
    }
    return floor;
}

bool extractAll(const quillon::Container &container, const std::vector<quillon::SubFile> &subFiles,
                const fs::path &outDir, Run &run) {
    fs::path memoDir = outDir / "memos", attachmentDir = outDir / "attachments";
    fs::remove_all(outDir);
    fs::create_directories(memoDir);
    fs::create_directories(attachmentDir);
    quillon::Extractor extractor(container);
    for (int pass = 0; pass < 2; pass++) {
        const bool memos = pass == 0;
        Timing &timing = memos ? run.memos : run.attachments;
        double cpuBefore = cpuSeconds(RUSAGE_SELF);
        auto start = Clock::now();
        for (const quillon::SubFile &subFile : subFiles) {
            if ((subFile.kind == QLSubFileType_Main) != memos)
                continue;
            // Attachments of different memos may share a name: the index keeps the files apart.
            fs::path out = (memos ? memoDir : attachmentDir) / (std::to_string(subFile.index) + ".out");
            int status = extractor.extract(subFile.index, out, memos ? QLExtractFlag_GetFormattedBody : 0u);
            if (status != QLSTATUS_OK) {
                std::fprintf(stderr, "subfile %d: %s\n", subFile.index, quillon::statusName(status).c_str());
                return false;
            }
            timing.count++;
        }
        timing.wall = wallSince(start);
        timing.cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        for (const auto &entry : fs::directory_iterator(memos ? memoDir : attachmentDir))
            timing.bytes += entry.file_size();
    }
    run.floor = copyFloor(attachmentDir, outDir / "copied", run.attachments);
    return true;
}

int runOne(const fs::path &dataDir, unsigned notes) {
    std::string error;
    auto reader = quillon::ReaderLibrary::load(TESSEL_NSF_PLUGIN, error);
    if (reader == nullptr) {
        std::fprintf(stderr, "cannot load the plug-in: %s\n", error.c_str());
        return 1;
    }
    fs::path path = database(dataDir, notes);
    quillon::Host host;
    host.config().set("tessel", "ExtractByTemplate", "0");
    quillon::Container container(host, *reader, path);
    if (!container.isOpen()) {
        std::fprintf(stderr, "open failed: %s\n", quillon::statusName(container.status()).c_str());
        return 1;
    }
    auto listed = quillon::Catalogue(container).list();
    if (!listed.ok()) {
        std::fprintf(stderr, "list failed: %s\n", quillon::statusName(listed.status).c_str());
        return 1;
    }

    std::vector<Run> runs(3);
    fs::path outDir = dataDir / ("out-" + std::to_string(notes));
    for (Run &run : runs) {
        if (!extractAll(container, listed.value, outDir, run))
            return 1;
    }
    fs::remove_all(outDir);

    auto pick = [&](auto field) {
        std::vector<double> values;
        for (const Run &run : runs)
            values.push_back(field(run));
        return median(values);
    };
    const Timing &first = runs[0].memos;
    const Timing &files = runs[0].attachments;
    double memoCpu = pick([](const Run &r) { return r.memos.cpu; });
    double memoWall = pick([](const Run &r) { return r.memos.wall; });
    double fileCpu = pick([](const Run &r) { return r.attachments.cpu; });
    double fileWall = pick([](const Run &r) { return r.attachments.wall; });
    double floorCpu = pick([](const Run &r) { return r.floor.cpu; });
    double floorWall = pick([](const Run &r) { return r.floor.wall; });

    std::printf("%u notes: %zu subfiles (%u memos, %u attachments), file %.1f MB; median of 3 runs\n", notes,
                listed.value.size(), first.count, files.count,
                static_cast<double>(fs::file_size(path)) / 1e6);
    std::printf("  memos        cpu %.3f s, wall %.3f s: %.0f memos/s, %.1f MB/s of MHT (%.1f MB), %.1f us "
                "cpu per memo\n",
                memoCpu, memoWall, first.count / memoWall, static_cast<double>(first.bytes) / 1e6 / memoWall,
                static_cast<double>(first.bytes) / 1e6, memoCpu * 1e6 / first.count);
    std::printf("  attachments  cpu %.3f s, wall %.3f s: %.1f MB/s (%.1f MB), %.1f us cpu per attachment\n",
                fileCpu, fileWall, static_cast<double>(files.bytes) / 1e6 / fileWall,
                static_cast<double>(files.bytes) / 1e6, fileCpu * 1e6 / std::max(1u, files.count));
    std::printf(
        "  cp floor     cpu %.3f s, wall %.3f s: %.1f MB/s; attachments / floor: cpu %.1fx, wall %.1fx\n",
        floorCpu, floorWall, static_cast<double>(files.bytes) / 1e6 / floorWall,
        floorCpu > 0 ? fileCpu / floorCpu : 0.0, floorWall > 0 ? fileWall / floorWall : 0.0);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    return tessel::bench::runSizes(argc, argv, {1000, 10000}, runOne);
}
