// One container opened through the reader: the reader context from open to close.
#ifndef QUILLON_HOST_CONTAINER_H
#define QUILLON_HOST_CONTAINER_H

#include <quillon/host/Host.h>
#include <quillon/host/IOObject.h>
#include <quillon/host/ReaderLibrary.h>
#include <quillon/quillon.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace quillon {

struct Credential {
    int32_t type; // QLCredentialType_*
    std::string value;
};

class Container {
public:
    // Opens the input file as an I/O object, as a host does before it hands it over, and calls the
    // reader's open operation with the host's services. When the file cannot be opened the reader is
    // not called and the status is QLSTATUS_ACCESS_FAILED. When the host has no library directory
    // yet, the reader's directory becomes it (so that "bmpcv.dll" is found beside the plug-in).
    Container(Host &host, const ReaderLibrary &reader, const std::filesystem::path &path,
              uint32_t dwFlags = 0, std::span<const Credential> credentials = {});
    // Calls the reader's close operation on any context its open returned, failed opens included.
    ~Container();
    Container(const Container &) = delete;
    Container &operator=(const Container &) = delete;

    // The status the reader's open reported (or the host's, when the reader was not called).
    int status() const { return status_; }
    bool isOpen() const { return status_ == QLSTATUS_OK && context_ != nullptr; }
    // Why the host did not call the reader ("" when it did).
    const std::string &error() const { return error_; }

    void *context() const { return context_; }
    const QLReaderInterface &operations() const { return reader_.operations(); }
    Host &host() const { return host_; }

private:
    Host &host_;
    const ReaderLibrary &reader_;
    FileIOObject input_;
    void *context_ = nullptr;
    int status_ = QLSTATUS_INTERNAL;
    std::string error_;
};

} // namespace quillon

#endif
