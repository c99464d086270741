// What the loader tests' minimal reader records about the calls it receives. The tests read this
// record through the context pointer the reader returns.
#ifndef TESSEL_TESTS_HOST_FAKEREADER_H
#define TESSEL_TESTS_HOST_FAKEREADER_H

#include <quillon/quillon.h>

struct FakeReaderContext {
    QLHAPI *pHAPI;
    int bInputWasOpen; // the input I/O object had a close entry when open was called
    int nCloseResult;  // what its close entry returned
    int bCloseCleared; // the close entry was null afterwards
    uint32_t dwFlags;
    int32_t cCredentials;
    char *pszFileName; // copy of the input path, from the host's fpDupString
};

#endif
