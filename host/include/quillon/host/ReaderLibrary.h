// The plug-in as a loaded library: opened by path, asked once for its operation table.
#ifndef QUILLON_HOST_READERLIBRARY_H
#define QUILLON_HOST_READERLIBRARY_H

#include <quillon/quillon.h>

#include <filesystem>
#include <memory>
#include <string>

namespace quillon {

class ReaderLibrary {
public:
    // What the host puts in slot 6 before it asks for the table; a reader must leave it alone.
    static inline void *const kSlot6Sentinel = reinterpret_cast<void *>(static_cast<uintptr_t>(0x5107600D));

    // Opens the library and fills the operation table through QL_READER_ENTRY_NAME. Null on failure,
    // with error saying why: the system's loader message, a missing entry, or a table the entry did
    // not fill as the contract requires (open and close set, slot 6 untouched, the table returned).
    // The other slots may be empty: a reader that lacks an operation leaves its slot null, and the
    // host reports the operation as unavailable instead of calling it.
    static std::unique_ptr<ReaderLibrary> load(const std::filesystem::path &path, std::string &error);

    ~ReaderLibrary();
    ReaderLibrary(const ReaderLibrary &) = delete;
    ReaderLibrary &operator=(const ReaderLibrary &) = delete;

    const QLReaderInterface &operations() const { return operations_; }
    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path directory() const { return path_.parent_path(); }

private:
    ReaderLibrary(void *hLibrary, std::filesystem::path path) : hLibrary_(hLibrary), path_(std::move(path)) {}

    void *hLibrary_;
    std::filesystem::path path_;
    QLReaderInterface operations_{};
};

} // namespace quillon

#endif
