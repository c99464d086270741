// A whole run over a database given as DXL: open, list, metadata, extraction and close.
#include "OpenSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::filesystem::path path = tessel::fuzz::scratch() / "mailbox.dxl";
    tessel::fuzz::writeFile(path, data, size);
    tessel::fuzz::openListMetaExtract(path, {TESSEL_SOURCE_DIR "/share/", true});
    return 0;
}
