// Extraction of subfiles through the reader (operation slots 5 and 7): a subfile of the catalogue,
// or a note named by its ID together with its attachments, written into an I/O object, a file or a
// string.
#ifndef QUILLON_HOST_EXTRACTOR_H
#define QUILLON_HOST_EXTRACTOR_H

#include <quillon/host/Container.h>
#include <quillon/host/Host.h>
#include <quillon/host/Status.h>
#include <quillon/quillon.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace quillon {

class Extractor {
public:
    // The container (or the reader, host and context) must outlive the extractor.
    explicit Extractor(const Container &container);
    Extractor(Host &host, const QLReaderInterface &operations, void *context);

    // Slot 5: writes subfile `index` into `output` with the extraction flags (QLExtractFlag_*).
    // Returns the reader's status, or kStatusUnavailable when the reader has no slot 5.
    int extract(int32_t index, QLIOobj *output, uint32_t flags) const;
    // Slot 7: as extract when `extra` is null; otherwise the note extra->dwNoteID and then each of
    // its attachments are written into `output`, which the reader opens and closes once per entry.
    // Returns the reader's status, or kStatusUnavailable when the reader has no slot 7.
    int extractEx(int32_t index, QLIOobj *output, uint32_t flags, const QLExtraSubFileInfo *extra) const;

    // Into a file, created or truncated when the reader opens its output. The file is left as the
    // reader wrote it, also after a failure (the status tells); nothing is created when the reader
    // never opens its output (a root entry, a bad index).
    int extract(int32_t index, const std::filesystem::path &path, uint32_t flags) const;
    // Into a string, which receives every byte the reader wrote (replacing what it held).
    int extract(int32_t index, std::string &output, uint32_t flags) const;
    // Slot 7 into a file: every entry of one call lands in the file, one after the other.
    int extractEx(int32_t index, const std::filesystem::path &path, uint32_t flags,
                  const QLExtraSubFileInfo *extra) const;
    // Slot 7 into a string.
    int extractEx(int32_t index, std::string &output, uint32_t flags, const QLExtraSubFileInfo *extra) const;

    // Why the last file overload failed on the host's side ("" when it did not).
    const std::string &error() const { return error_; }

private:
    Host &host_;
    const QLReaderInterface &operations_;
    void *context_;
    mutable std::string error_;
};

} // namespace quillon

#endif
