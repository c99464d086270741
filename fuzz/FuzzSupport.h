// Shared pieces of the fuzz targets: a reader context over a host whose allocator counts blocks,
// a private scratch folder, and the environment the plug-in reads at open.
#pragma once

#include <quillon/host/Allocator.h>
#include <quillon/host/Host.h>
#include <tessel/kit/TestAllocator.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include <unistd.h>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/diag/log.h"
#include "nsf/items/buffers.h"

namespace tessel::fuzz {

// Stops the run with a message a fuzzer reports as a crash: a broken invariant is a finding.
[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

// One folder per fuzzing process under the system's temporary directory, removed at exit. The
// Notes runtime finds an empty notes.ini there; the plug-in logs everything to /dev/null.
inline const std::filesystem::path &scratch() {
    static const std::filesystem::path path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            fail("mkdtemp");
        std::filesystem::path dir = pattern;
        std::ofstream(dir / "notes.ini") << "[Notes]\n";
        setenv("NOTES_INI", (dir / "notes.ini").c_str(), 1);
        // Every message is formatted and written, but nothing piles up over millions of runs.
        setenv("QUILLON_TESSEL_LOG_FILE", "/dev/null", 1);
        setenv("QUILLON_TESSEL_LOG_LEVEL", "ALL", 1);
        setenv("QUILLON_TESSEL_LOG_TIMESTAMP", "FALSE", 1);
        setenv("TZ", "UTC", 1);
        unsetenv("QUILLON_TESSEL_LOG_DIR");
        static struct Remover {
            std::filesystem::path dir;
            ~Remover() {
                std::error_code ec;
                std::filesystem::remove_all(dir, ec);
            }
        } remover{dir};
        return dir;
    }();
    return path;
}

inline void writeFile(const std::filesystem::path &path, const uint8_t *pb, size_t cb) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(pb), static_cast<std::streamsize>(cb));
    if (!out)
        fail("cannot write the input file");
}

// A reader context made the way open makes it, with its standing buffers, over a counting
// allocator; the destructor frees what the context holds and checks that nothing is left.
class Context {
public:
    Context() {
        scratch();
        quillon::HostOptions options;
        options.allocator = &allocator_;
        options.tempDir = (scratch() / "base/").string();
        host_ = std::make_unique<quillon::Host>(quillon::Config{}, options);
        p_ = static_cast<NSFCONTEXT *>(allocator_.allocate(sizeof(NSFCONTEXT)));
        if (p_ == nullptr)
            fail("context allocation");
        std::memset(p_, 0, sizeof(NSFCONTEXT));
        p_->services = host_->services();
        nsfLogOpen(p_);
        if (nsfInitBuffers(p_) != 0)
            fail("nsfInitBuffers");
    }
    ~Context() {
        for (int32_t i = 0; i < p_->numImages; i++)
            nsfFree(p_, p_->images[i]);
        nsfFree(p_, p_->images);
        for (int32_t i = 0; i < p_->numBuffers; i++)
            nsfFreeBuffer(p_, &p_->buffers[i]);
        nsfFree(p_, p_->buffers);
        nsfLogClose(p_);
        allocator_.release(p_);
        if (allocator_.liveCount() != 0)
            fail("blocks left allocated after the context was freed");
    }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    NSFCONTEXT *get() const { return p_; }
    // Puts bytes into a buffer of the context, replacing what it held.
    void put(NSFBUFFER *pBuffer, const uint8_t *pb, size_t cb) {
        pBuffer->ucbData = 0;
        if (nsfCheckBuffer(p_, pBuffer, static_cast<uint32_t>(cb)) != 0)
            fail("nsfCheckBuffer");
        if (cb != 0)
            std::memcpy(pBuffer->rgbData, pb, cb);
        pBuffer->ucbData = static_cast<uint32_t>(cb);
    }

private:
    quillon::TestAllocator allocator_;
    std::unique_ptr<quillon::Host> host_;
    NSFCONTEXT *p_ = nullptr;
};

} // namespace tessel::fuzz
