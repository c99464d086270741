#include <quillon/host/Catalogue.h>

namespace quillon {
namespace {

// Copies a subfile info record into a value and gives its blocks back to the allocator.
SubFile takeSubFile(int32_t index, QLSubFileInfo &info, QLAllocator *pAllocator) {
    SubFile subFile;
    subFile.index = index;
    subFile.kind = info.subFileType;
    if (info.subFileName != nullptr)
        subFile.name = info.subFileName;
    subFile.parent = info.parentIndex;
    if (info.childArray != nullptr && info.childCount > 0)
        subFile.children.assign(info.childArray, info.childArray + info.childCount);
    subFile.time = info.fileTime;
    subFile.infoFlag = info.infoFlag;
    pAllocator->fpFree(pAllocator, info.subFileName);
    pAllocator->fpFree(pAllocator, info.childArray);
    info.subFileName = nullptr;
    info.childArray = nullptr;
    return subFile;
}

// Copies the elements of a metadata result and gives every block back to the allocator.
std::vector<MetaElement> takeElements(QLSubFileMetaData &result, QLAllocator *pAllocator) {
    std::vector<MetaElement> elements;
    for (int32_t i = 0; result.ppElem != nullptr && i < result.nElem; i++) {
        QLSubFileMetaDataElem *pElem = result.ppElem[i];
        if (pElem == nullptr)
            continue;
        MetaElement element;
        if (pElem->strType != nullptr)
            element.name = pElem->strType;
        if (pElem->isDataValid != 0 && pElem->data != nullptr && pElem->dataSize > 0)
            element.value = std::string(pElem->data, static_cast<size_t>(pElem->dataSize - 1));
        element.type = pElem->type;
        elements.push_back(std::move(element));
        pAllocator->fpFree(pAllocator, pElem->strType);
        pAllocator->fpFree(pAllocator, pElem->data);
        pAllocator->fpFree(pAllocator, pElem);
    }
    pAllocator->fpFree(pAllocator, result.ppElem);
    result.ppElem = nullptr;
    result.nElem = 0;
    return elements;
}

} // namespace

Catalogue::Catalogue(const Container &container, Allocator *requestAllocator)
    : Catalogue(container.host(), container.operations(), container.context(), requestAllocator) {}

Catalogue::Catalogue(Host &host, const QLReaderInterface &operations, void *context,
                     Allocator *requestAllocator)
    : host_(host), operations_(operations), context_(context),
      requestAllocator_(requestAllocator != nullptr ? *requestAllocator : host.allocator()) {}

Result<int32_t> Catalogue::count() const {
    if (operations_.fpGetContainerInfo == nullptr)
        return {kStatusUnavailable, 0};
    QLMainFileInfo info{};
    info.cbStruct = sizeof(info);
    QLRequest request{nullptr, requestAllocator_.table()};
    const int status = operations_.fpGetContainerInfo(context_, &info, &request);
    return {status, status == QLSTATUS_OK ? info.numSubFiles : 0};
}

Result<SubFile> Catalogue::subFile(int32_t index) const {
    if (operations_.fpGetSubFileInfo == nullptr)
        return {kStatusUnavailable, {}};
    QLSubFileInfo info{};
    info.cbStruct = sizeof(info);
    info.infoFlag = QLSubFileInfoFlag_NeedsExtraction;
    info.parentIndex = -1;
    QLRequest request{nullptr, requestAllocator_.table()};
    const int status = operations_.fpGetSubFileInfo(context_, index, &info, &request);
    // A failed call may still have handed out a name or a child array: take them back either way.
    SubFile subFile = takeSubFile(index, info, request.pAllocator);
    if (status != QLSTATUS_OK)
        return {status, {}};
    return {status, std::move(subFile)};
}

Result<std::vector<SubFile>> Catalogue::list() const {
    Result<int32_t> total = count();
    if (!total.ok())
        return {total.status, {}};
    Result<std::vector<SubFile>> result;
    result.value.reserve(static_cast<size_t>(total.value > 0 ? total.value : 0));
    for (int32_t index = 0; index < total.value; index++) {
        Result<SubFile> one = subFile(index);
        if (!one.ok()) {
            result.status = one.status;
            break;
        }
        result.value.push_back(std::move(one.value));
    }
    return result;
}

Result<std::vector<MetaElement>> Catalogue::metadata(int32_t index, int32_t cMetaNames,
                                                     QLMetaName *rgMetaNames) const {
    if (operations_.fpGetSubFileMetadata == nullptr)
        return {kStatusUnavailable, {}};
    QLSubFileMetaData result{};
    result.cbStruct = sizeof(result);
    QLRequest request{nullptr, requestAllocator_.table()};
    const int status =
        operations_.fpGetSubFileMetadata(context_, index, cMetaNames, rgMetaNames, &result, &request);
    // The elements made before a failure stay in the result: they are handed back too.
    return {status, takeElements(result, request.pAllocator)};
}

Result<std::vector<MetaElement>> Catalogue::mailFields(int32_t index) const {
    return metadata(index, 0, nullptr);
}

Result<std::vector<MetaElement>> Catalogue::allItems(int32_t index) const {
    return metadata(index, -1, nullptr);
}

Result<std::vector<MetaElement>> Catalogue::fields(int32_t index, std::span<const std::string> names) const {
    std::vector<QLMetaName> requested;
    requested.reserve(names.size());
    for (const std::string &name : names)
        requested.push_back(QLMetaName{QLMetaNameType_String, name.c_str()});
    return metadata(index, static_cast<int32_t>(requested.size()), requested.data());
}

std::string Catalogue::kindName(int32_t kind) {
    switch (kind) {
    case QLSubFileType_Main:
        return "main";
    case QLSubFileType_Attachment:
        return "attachment";
    case QLSubFileType_OLE:
        return "ole";
    case QLSubFileType_Folder:
        return "folder";
    case QLSubFileType_Picture:
        return "picture";
    default:
        return "kind" + std::to_string(kind);
    }
}

} // namespace quillon
