// A minimal reader for the loader tests: its open records how the host handed over the input, takes
// its status from the "tessel" key FakeStatus and allocates through the host; its close frees.
#include "FakeReader.h"

#include <cstdlib>
#include <cstring>

namespace {

void *QLAPI fakeInit(QLIOobj *pIOobj, QLHAPI *pHAPI, uint32_t dwFlags, void *, QLCredentialList *pCredentials,
                     int *pStatus) {
    if (pStatus == nullptr)
        return nullptr;
    if (pIOobj == nullptr || pHAPI == nullptr) {
        *pStatus = QLSTATUS_BAD_ARGUMENT;
        return nullptr;
    }
    auto *pContext = static_cast<FakeReaderContext *>(
        pHAPI->allocator.fpAlloc(&pHAPI->allocator, sizeof(FakeReaderContext)));
    if (pContext == nullptr) {
        *pStatus = QLSTATUS_OUT_OF_MEMORY;
        return nullptr;
    }
    std::memset(pContext, 0, sizeof *pContext);
    pContext->pHAPI = pHAPI;
    pContext->dwFlags = dwFlags;
    pContext->cCredentials = pCredentials != nullptr ? pCredentials->count : -1;
    pContext->bInputWasOpen = pIOobj->fpClose != nullptr;
    if (pIOobj->fpClose != nullptr) {
        pContext->nCloseResult = pIOobj->fpClose(pIOobj);
        pContext->bCloseCleared = pIOobj->fpClose == nullptr;
    }
    pContext->pszFileName = pHAPI->fpDupString(pHAPI, pIOobj->pFileName);

    char szStatus[16];
    int status = QLSTATUS_OK;
    if (pHAPI->fpGetProfileString(pHAPI, "tessel", "FakeStatus", "", szStatus, sizeof szStatus, 0) != 0)
        status = std::atoi(szStatus);
    if (pContext->pszFileName == nullptr)
        status = QLSTATUS_OUT_OF_MEMORY;
    *pStatus = status;
    return pContext;
}

void QLAPI fakeShutdown(void *pvContext) {
    auto *pContext = static_cast<FakeReaderContext *>(pvContext);
    if (pContext == nullptr)
        return;
    QLHAPI *pHAPI = pContext->pHAPI;
    pHAPI->allocator.fpFree(&pHAPI->allocator, pContext->pszFileName);
    pHAPI->allocator.fpFree(&pHAPI->allocator, pContext);
}

int QLAPI fakeGetContainerInfo(void *, QLMainFileInfo *pInfo, QLRequest *) {
    if (pInfo == nullptr)
        return QLSTATUS_BAD_ARGUMENT;
    pInfo->numSubFiles = 0;
    return QLSTATUS_OK;
}

// The fake catalogue is empty, so every index is out of range.
int QLAPI fakeGetSubFileInfo(void *, int32_t, QLSubFileInfo *, QLRequest *) {
    return QLSTATUS_BAD_ARGUMENT;
}

int QLAPI fakeGetSubFileMetadata(void *, int32_t, int32_t, QLMetaName *, QLSubFileMetaData *, QLRequest *) {
    return QLSTATUS_BAD_ARGUMENT;
}

int QLAPI fakeExtract(void *, int32_t, QLIOobj *, QLSubFileExtractInfo *, void *, uint32_t) {
    return QLSTATUS_BAD_ARGUMENT;
}

int QLAPI fakeExtractEx(void *, int32_t, QLIOobj *, QLSubFileExtractInfo *, void *, QLExtractArgsEx *) {
    return QLSTATUS_BAD_ARGUMENT;
}

} // namespace

extern "C" QLEXPORT QLReaderInterface *QLAPI nsfGetContainerReaderInterfaceEx(QLReaderInterface *pTable) {
    pTable->fpInit = fakeInit;
    pTable->fpShutdown = fakeShutdown;
    pTable->fpGetContainerInfo = fakeGetContainerInfo;
    pTable->fpGetSubFileInfo = fakeGetSubFileInfo;
    pTable->fpGetSubFileMetadata = fakeGetSubFileMetadata;
    pTable->fpExtractSubFileToIOobj = fakeExtract;
#ifdef FAKE_READER_TOUCHES_SLOT6
    pTable->pSlot6 = nullptr;
#endif
    pTable->fpExtractSubFileToIOobjEx = fakeExtractEx;
    return pTable;
}
