// The catalogue of an open container as C++ values: the subfiles with their kinds, names, tree
// and times (operation slots 2 and 3) and the metadata of a note (slot 4). Every block the reader
// hands out is copied and given back to the request's allocator at once.
#ifndef QUILLON_HOST_CATALOGUE_H
#define QUILLON_HOST_CATALOGUE_H

#include <quillon/host/Allocator.h>
#include <quillon/host/Container.h>
#include <quillon/host/Status.h>
#include <quillon/quillon.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon {

struct SubFile {
    int32_t index = 0;
    int32_t kind = QLSubFileType_Main; // QLSubFileType_*
    std::optional<std::string> name;   // absent when the reader gave none
    int32_t parent = -1;
    std::vector<int32_t> children;
    QL_FILETIME time{}; // zero when unknown
    uint32_t infoFlag = 0;
};

struct MetaElement {
    std::optional<std::string> name;  // absent for an element the reader left empty
    std::optional<std::string> value; // present when the reader marked the data valid
    int32_t type = 0;
};

// A reader result: the status the reader returned (or kStatusUnavailable) and, on success, the value.
template <typename T> struct Result {
    int status = QLSTATUS_OK;
    T value{};
    bool ok() const { return status == QLSTATUS_OK; }
};

class Catalogue {
public:
    // Requests take memory from requestAllocator when given, else from the host's allocator. The
    // container (or the reader, host and context) must outlive the view.
    explicit Catalogue(const Container &container, Allocator *requestAllocator = nullptr);
    Catalogue(Host &host, const QLReaderInterface &operations, void *context,
              Allocator *requestAllocator = nullptr);

    // The number of subfiles (slot 2).
    Result<int32_t> count() const;
    // One subfile (slot 3).
    Result<SubFile> subFile(int32_t index) const;
    // Every subfile in index order; stops at the first one the reader cannot describe.
    Result<std::vector<SubFile>> list() const;

    // The mail fields of a note (slot 4 without names).
    Result<std::vector<MetaElement>> mailFields(int32_t index) const;
    // Every item of a note, duplicates included.
    Result<std::vector<MetaElement>> allItems(int32_t index) const;
    // The named fields (and reserved "$$$QL_" values) of a note, one element per name.
    Result<std::vector<MetaElement>> fields(int32_t index, std::span<const std::string> names) const;

    // "main", "attachment", "ole", "folder", "picture", else "kind<n>".
    static std::string kindName(int32_t kind);

private:
    Result<std::vector<MetaElement>> metadata(int32_t index, int32_t cMetaNames,
                                              QLMetaName *rgMetaNames) const;

    Host &host_;
    const QLReaderInterface &operations_;
    void *context_;
    Allocator &requestAllocator_;
};

} // namespace quillon

#endif
