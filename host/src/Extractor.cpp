#include <quillon/host/Extractor.h>

#include <quillon/host/IOObject.h>

#include "PathText.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace quillon {

Extractor::Extractor(const Container &container)
    : Extractor(container.host(), container.operations(), container.context()) {}

Extractor::Extractor(Host &host, const QLReaderInterface &operations, void *context)
    : host_(host), operations_(operations), context_(context) {}

int Extractor::extract(int32_t index, QLIOobj *output, uint32_t flags) const {
    if (operations_.fpExtractSubFileToIOobj == nullptr)
        return kStatusUnavailable;
    // The reader only logs the extract-info record; a host that keeps files itself fills it in.
    QLSubFileExtractInfo info{};
    info.cbStruct = sizeof(info);
    info.filePath = output != nullptr ? output->pFileName : nullptr;
    // The fifth argument must not be null; the reader does not look at it. It is the host.
    return operations_.fpExtractSubFileToIOobj(context_, index, output, &info, &host_, flags);
}

int Extractor::extractEx(int32_t index, QLIOobj *output, uint32_t flags,
                         const QLExtraSubFileInfo *extra) const {
    if (operations_.fpExtractSubFileToIOobjEx == nullptr)
        return kStatusUnavailable;
    QLSubFileExtractInfo info{};
    info.cbStruct = sizeof(info);
    info.filePath = output != nullptr ? output->pFileName : nullptr;
    // A copy, so that the caller's record stays const whatever the reader does.
    QLExtraSubFileInfo extraCopy{};
    if (extra != nullptr) {
        extraCopy = *extra;
        extraCopy.cbStruct = sizeof(extraCopy);
    }
    QLExtractArgsEx args{flags, extra != nullptr ? &extraCopy : nullptr};
    return operations_.fpExtractSubFileToIOobjEx(context_, index, output, &info, &host_, &args);
}

int Extractor::extract(int32_t index, const std::filesystem::path &path, uint32_t flags) const {
    error_.clear();
    FileIOObject file(path, FileIOObject::Direction::Output);
    const int status = extract(index, file.get(), flags);
    error_ = file.error();
    return status;
}

int Extractor::extract(int32_t index, std::string &output, uint32_t flags) const {
    StringIOObject memory;
    const int status = extract(index, memory.get(), flags);
    output = memory.data();
    return status;
}

int Extractor::extractEx(int32_t index, const std::filesystem::path &path, uint32_t flags,
                         const QLExtraSubFileInfo *extra) const {
    error_.clear();
    if (extra == nullptr) {
        // One entry: the file object is opened once, as for slot 5.
        FileIOObject file(path, FileIOObject::Direction::Output);
        const int status = extractEx(index, file.get(), flags, nullptr);
        error_ = file.error();
        return status;
    }
    // Several entries open the output again one after the other; a file object truncates at each
    // open, so the entries are gathered in memory and written once.
    StringIOObject memory(utf8Text(path));
    const int status = extractEx(index, memory.get(), flags, extra);
    if (memory.openCount() == 0)
        return status;
    std::FILE *file = openFile(path, "wb");
    const std::string &data = memory.data();
    bool written = file != nullptr && std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (file != nullptr && std::fclose(file) != 0)
        written = false;
    if (!written) {
        error_ = "cannot write " + utf8Text(path) + ": " + std::generic_category().message(errno);
        return status != QLSTATUS_OK ? status : QLSTATUS_OUTPUT_FAILED;
    }
    return status;
}

int Extractor::extractEx(int32_t index, std::string &output, uint32_t flags,
                         const QLExtraSubFileInfo *extra) const {
    StringIOObject memory;
    const int status = extractEx(index, memory.get(), flags, extra);
    output = memory.data();
    return status;
}

} // namespace quillon
