// One loaded database per file for the whole process. A loaded database never changes, so every
// handle of a file shares one load: reopening a file, or opening it under several identities,
// does not parse it again. A file whose size, modification time or identity changed since is
// loaded anew; handles of the old load keep it until they close.
#pragma once

#include "Database.h"
#include "DxlLoader.h"

#include <notes/global.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

namespace notesemu {

class DatabaseCache {
public:
    struct Result {
        STATUS status = NOERROR;
        std::shared_ptr<const Database> database; // null unless status is NOERROR
    };

    static DatabaseCache &instance();

    // The database of the file at `path` loaded with `options`: the one already loaded when the
    // file is unchanged, else a new load (whose failure is not remembered).
    Result open(const std::filesystem::path &path, const LoadOptions &options);
    // Lets go of the database held for a later reopening; handles keep theirs. The runtime calls
    // this when it ends.
    void release();
    // How many times a file has been loaded by this process, for tests and diagnostics.
    std::size_t loads() const;

private:
    DatabaseCache() = default;
    using Key = std::tuple<std::string, std::size_t, std::size_t, std::size_t>;
    struct Entry {
        FileStamp stamp;
        std::weak_ptr<const Database> database;
    };

    mutable std::mutex mutex_;
    std::map<Key, Entry> entries_;
    // The last database opened stays loaded between a close and the next open of the same file
    // (a credential test closes the database before it opens it under the next identity).
    std::shared_ptr<const Database> recent_;
    std::size_t loads_ = 0;
};

} // namespace notesemu
