// The item reader's text chain: raw text in BufferCD to LMBCS, UTF-8 and escaped HTML, each step
// emptying its input.
#include "FuzzSupport.h"

#include "nsf/items/convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    tessel::fuzz::Context context;
    NSFCONTEXT *pContext = context.get();
    context.put(pContext->BufferCD, data, size);
    if (nsfConvertCDtoLMBCS(pContext) != 0)
        return 0;
    if (pContext->BufferCD->ucbData != 0)
        tessel::fuzz::fail("BufferCD must be emptied");
    if (nsfConvertLMBCStoUTF8(pContext) != 0)
        return 0;
    if (pContext->BufferLMBCS->ucbData != 0)
        tessel::fuzz::fail("BufferLMBCS must be emptied");
    if (nsfConvertUTF8toHTML(pContext) != 0)
        return 0;
    if (pContext->BufferUTF8->ucbData != 0)
        tessel::fuzz::fail("BufferUTF8 must be emptied");
    return 0;
}
