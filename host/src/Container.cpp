#include <quillon/host/Container.h>

#include <vector>

namespace quillon {

Container::Container(Host &host, const ReaderLibrary &reader, const std::filesystem::path &path,
                     uint32_t dwFlags, std::span<const Credential> credentials)
    : host_(host), reader_(reader), input_(path, FileIOObject::Direction::Input) {
    if (host_.libraryDirectory().empty())
        host_.setLibraryDirectory(reader_.directory());
    QLIOobj *pIOobj = input_.get();
    if (pIOobj->fpOpen(pIOobj) == 0) {
        status_ = QLSTATUS_ACCESS_FAILED;
        error_ = input_.error();
        return;
    }

    std::vector<QLCredentialItem> items;
    std::vector<QLCredentialItem *> itemPointers;
    items.reserve(credentials.size());
    for (const Credential &credential : credentials)
        items.push_back(QLCredentialItem{credential.type, credential.value.c_str()});
    for (QLCredentialItem &item : items)
        itemPointers.push_back(&item);
    QLCredentialList list{static_cast<int32_t>(items.size()), itemPointers.data()};

    int status = QLSTATUS_INTERNAL;
    context_ = reader_.operations().fpInit(pIOobj, host_.services(), dwFlags, nullptr,
                                           credentials.empty() ? nullptr : &list, &status);
    status_ = status;
}

Container::~Container() {
    if (context_ != nullptr)
        reader_.operations().fpShutdown(context_);
}

} // namespace quillon
