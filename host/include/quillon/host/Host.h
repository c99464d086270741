// The host: owns the configuration, the allocator and the services table (QLHAPI) handed to the
// plug-in, and answers every entry of that table.
#ifndef QUILLON_HOST_HOST_H
#define QUILLON_HOST_HOST_H

#include <quillon/host/Allocator.h>
#include <quillon/host/Config.h>
#include <quillon/host/DateTime.h>
#include <quillon/quillon.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quillon {

struct HostOptions {
    // Where fpLoadLibrary looks for libraries given by name; empty: the directory of the plug-in
    // the host opens a container with (see Container), else the system's search path.
    std::filesystem::path libraryDir;
    // pszTempDir: the base of the reader's temporary directory; empty for the system's.
    std::string tempDir;
    // pszHostDir; empty: defaultHostDirectory(). A separator is appended when missing.
    std::string hostDir;
    DateOrder dateOrder = DateOrder::MonthDayYear;
    bool b24Hour = false;
    // The allocator behind the services table; null: the host's own malloc allocator. Not owned;
    // it must outlive the host (a TestAllocator in tests).
    Allocator *allocator = nullptr;
};

// The folder that holds NSFtemplates/, ending in a separator: $TESSEL_HOME when set, else the
// installed share folder when it exists, else the source tree's share/ folder when it exists (a
// build tree), else the installed share folder.
std::string defaultHostDirectory();

class Host {
public:
    explicit Host(Config config = {}, HostOptions options = {});
    ~Host();
    // The plug-in holds the services table's address: a host never moves.
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // The table to hand to the reader's open operation.
    QLHAPI *services();
    // The host behind a table made by services().
    static Host &fromServices(QLHAPI *pHAPI);

    Config &config() { return config_; }
    const Config &config() const { return config_; }
    Allocator &allocator() { return *allocator_; }

    const std::filesystem::path &libraryDirectory() const { return libraryDir_; }
    void setLibraryDirectory(std::filesystem::path directory);
    const std::string &hostDirectory() const { return hostDir_; }
    void setHostDirectory(std::string directory);
    const std::string &tempDirectory() const { return tempDir_; }
    void setTempDirectory(std::string directory);
    void setDateSettings(DateOrder order, bool b24Hour);

    // The path fpLoadLibrary opens for a name: absolute paths as given, other names mapped to the
    // platform's file name and placed in the library directory (when one is set).
    std::filesystem::path libraryPath(const std::string &name) const;
    // The message of the last failing fpLoadLibrary or fpGetProcAddress ("" when none failed).
    std::string lastLibraryError() const;
    void noteLibraryError(std::string error);

    // Entry implementations, also usable from C++.
    int profileString(const char *pszSection, const char *pszKey, const char *pszDefault, char *pszBuffer,
                      uint32_t cbBuffer) const;
    char *dupString(const char *psz);

    struct Table;

private:
    Config config_;
    MallocAllocator ownAllocator_;
    Allocator *allocator_;
    std::filesystem::path libraryDir_;
    std::string tempDir_;
    std::string hostDir_;
    mutable std::mutex errorMutex_;
    std::string libraryError_;
    std::unique_ptr<Table> table_;
};

} // namespace quillon

#endif
