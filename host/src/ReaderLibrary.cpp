#include <quillon/host/ReaderLibrary.h>

#include "PathText.h"
#include "SharedLibrary.h"

namespace quillon {

std::unique_ptr<ReaderLibrary> ReaderLibrary::load(const std::filesystem::path &path, std::string &error) {
    std::error_code pathError;
    std::filesystem::path absolute = std::filesystem::absolute(path, pathError);
    if (pathError)
        absolute = path;
    SharedLibrary library(openLibrary(absolute, error));
    if (library.get() == nullptr)
        return nullptr;
    std::string symbolError;
    auto *pfnEntry = reinterpret_cast<QLGetReaderInterfaceFn>(
        findSymbol(library.get(), QL_READER_ENTRY_NAME, symbolError));
    if (pfnEntry == nullptr) {
        error = utf8Text(absolute) + ": no entry " QL_READER_ENTRY_NAME " (" + symbolError + ")";
        return nullptr;
    }

    std::unique_ptr<ReaderLibrary> reader(new ReaderLibrary(nullptr, absolute));
    QLReaderInterface &table = reader->operations_;
    table.pSlot6 = kSlot6Sentinel;
    QLReaderInterface *pReturned = pfnEntry(&table);
    const char *pszProblem = nullptr;
    if (pReturned != &table)
        pszProblem = "did not return the table it was given";
    else if (table.pSlot6 != kSlot6Sentinel)
        pszProblem = "overwrote slot 6, which belongs to the host";
    else if (table.fpInit == nullptr || table.fpShutdown == nullptr)
        pszProblem = "left the open or close slot empty";
    if (pszProblem != nullptr) {
        error = utf8Text(absolute) + ": " QL_READER_ENTRY_NAME " " + pszProblem;
        return nullptr;
    }
    reader->hLibrary_ = library.release();
    return reader;
}

ReaderLibrary::~ReaderLibrary() {
    if (hLibrary_ != nullptr)
        closeLibrary(hLibrary_);
}

} // namespace quillon
