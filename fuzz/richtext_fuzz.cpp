// The composite-data converter through a reader context: the input is BufferCDR as the item
// reader leaves it, a type word followed by the records.
#include "FuzzSupport.h"

#include "nsf/richtext/richtext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    tessel::fuzz::Context context;
    NSFCONTEXT *pContext = context.get();
    context.put(pContext->BufferCDR, data, size);
    int nStatus = nsfConvertCDRtoMHT(pContext, NULLHANDLE);
    if (nStatus == 0 && pContext->BufferMHT->ucbData != 0 &&
        pContext->BufferMHT->rgbData[pContext->BufferMHT->ucbData] != '\0')
        tessel::fuzz::fail("a converted body must be terminated");
    if (pContext->BufferCDR->ucbData != 0 && nStatus == 0)
        tessel::fuzz::fail("BufferCDR must be emptied by a conversion");
    return 0;
}
