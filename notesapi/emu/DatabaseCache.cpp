#include "DatabaseCache.h"

#include "Log.h"
#include "Platform.h"

namespace notesemu {

DatabaseCache &DatabaseCache::instance() {
    static DatabaseCache cache;
    return cache;
}

DatabaseCache::Result DatabaseCache::open(const std::filesystem::path &path, const LoadOptions &options) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    const std::string name = pathText(absolute.lexically_normal());
    const std::optional<FileStamp> stamp = fileStampOf(path);
    const Key key{name, options.maxValueBytes, options.maxRichTextDepth, options.maxTokenBytes};
    std::lock_guard lock(mutex_);
    if (stamp) {
        const auto found = entries_.find(key);
        if (found != entries_.end() && found->second.stamp == *stamp) {
            if (std::shared_ptr<const Database> database = found->second.database.lock()) {
                recent_ = database;
                return {NOERROR, std::move(database)};
            }
        }
    }
    // Loaded under the lock: two handles opening one file at once still load it once.
    LoadResult loaded = loadDxlFile(path, options);
    ++loads_;
    if (loaded.status != NOERROR) {
        entries_.erase(key);
        return {loaded.status, nullptr};
    }
    std::shared_ptr<const Database> database = std::move(loaded.database);
    if (stamp) {
        entries_[key] = Entry{*stamp, database};
        recent_ = database;
    }
    // Entries of databases nobody holds any more go, so that the map does not grow with every
    // file a long-running process opens.
    std::erase_if(entries_, [](const auto &entry) { return entry.second.database.expired(); });
    return {NOERROR, std::move(database)};
}

void DatabaseCache::release() {
    std::shared_ptr<const Database> recent;
    {
        std::lock_guard lock(mutex_);
        recent = std::move(recent_);
        std::erase_if(entries_, [](const auto &entry) { return entry.second.database.expired(); });
    }
    // The database (and its file) goes outside the lock.
}

std::size_t DatabaseCache::loads() const {
    std::lock_guard lock(mutex_);
    return loads_;
}

} // namespace notesemu
