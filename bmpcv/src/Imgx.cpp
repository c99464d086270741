// The library's exports: IMGXconvert, which the rich-text converter calls through the host to turn
// a Notes bitmap into a BMP, and IMGXgetLastError, the message of the calling thread's last failure.
#include <bmpcv/NotesBitmapConverter.h>

#include <quillon/quillon.h>

#include <cstring>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using tessel::bmpcv::Conversion;
using tessel::bmpcv::Status;

thread_local std::string lastError;

int finish(Status status, const std::string &message) {
    try {
        lastError =
            status == Status::Ok ? std::string() : tessel::bmpcv::statusName(status) + (": " + message);
    } catch (const std::exception &) {
        lastError.clear();
    }
    return static_cast<int>(status);
}

bool equalsIgnoringCase(const char *psz, const char *pszExpected) {
    for (; *psz != '\0' && *pszExpected != '\0'; ++psz, ++pszExpected) {
        char c = *psz;
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != *pszExpected)
            return false;
    }
    return *psz == *pszExpected;
}

// Reads the whole input stream from its start.
Status readAll(QLStream *pInput, std::vector<std::byte> &bytes, std::string &message) {
    if (pInput->fpSeek(pInput, 0, 2) == 0) {
        message = "cannot seek to the end of the input";
        return Status::StreamFailure;
    }
    const std::int64_t size = pInput->fpTell(pInput);
    if (size < 0) {
        message = "cannot tell the size of the input";
        return Status::StreamFailure;
    }
    if (static_cast<std::uint64_t>(size) > tessel::bmpcv::kMaxInputBytes) {
        message = "the input is " + std::to_string(size) + " bytes, more than the converter reads";
        return Status::TooLarge;
    }
    if (pInput->fpSeek(pInput, 0, 0) == 0) {
        message = "cannot seek to the start of the input";
        return Status::StreamFailure;
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t cbRead = 0;
    while (cbRead < bytes.size()) {
        const std::uint32_t cb =
            pInput->fpRead(pInput, bytes.data() + cbRead, static_cast<std::uint32_t>(bytes.size() - cbRead));
        if (cb == 0)
            break;
        cbRead += cb;
    }
    if (cbRead != bytes.size()) {
        message = "read " + std::to_string(cbRead) + " of the input's " + std::to_string(size) + " bytes";
        return Status::StreamFailure;
    }
    return Status::Ok;
}

int convert(const char *pszFromFormat, const char *pszToFormat, QLStream *pInput, QLStream *pOutput) {
    if (pszFromFormat == nullptr || pszToFormat == nullptr || pInput == nullptr || pOutput == nullptr)
        return finish(Status::BadArgument, "a format name or a stream is null");
    if (!equalsIgnoringCase(pszFromFormat, "NBMP") || !equalsIgnoringCase(pszToFormat, "BMP"))
        return finish(Status::UnsupportedFormat, std::string("cannot convert \"") + pszFromFormat +
                                                     "\" to \"" + pszToFormat +
                                                     "\"; the converter reads NBMP and writes BMP");
    std::vector<std::byte> input;
    std::string message;
    if (Status status = readAll(pInput, input, message); status != Status::Ok)
        return finish(status, message);
    Conversion conversion = tessel::bmpcv::convertNotesBitmap(input);
    if (conversion.status != Status::Ok)
        return finish(conversion.status, conversion.message);
    // Only now is the output touched: started over (the input's bytes go when it is the same
    // stream) and filled with the BMP file.
    if (pOutput->fpOpen(pOutput) == 0)
        return finish(Status::StreamFailure, "cannot start the output stream over");
    if (pOutput->fpWrite(pOutput, conversion.bmp.data(), static_cast<std::uint32_t>(conversion.bmp.size())) !=
        conversion.bmp.size())
        return finish(Status::StreamFailure,
                      "cannot write the BMP file of " + std::to_string(conversion.bmp.size()) + " bytes");
    return finish(Status::Ok, {});
}

} // namespace

// Converts the picture in pInput from pszFromFormat to pszToFormat into pOutput. The host services,
// the flags and the reserved value are not needed for the one conversion there is.
extern "C" QLEXPORT int QLAPI IMGXconvert(QLHAPI *, const char *pszFromFormat, const char *pszToFormat,
                                          QLStream *pInput, QLStream *pOutput, std::uint32_t, std::uint32_t) {
    try {
        return convert(pszFromFormat, pszToFormat, pInput, pOutput);
    } catch (const std::bad_alloc &) {
        return finish(Status::OutOfMemory, "out of memory");
    } catch (const std::exception &e) {
        return finish(Status::Malformed, e.what());
    }
}

// The message of the calling thread's last failed IMGXconvert ("" after a success), valid until
// that thread's next call.
extern "C" QLEXPORT const char *QLAPI IMGXgetLastError() {
    return lastError.c_str();
}

// Checks that the export matches the type the host interface gives it.
static_assert(std::is_same_v<decltype(&IMGXconvert), QLImageConvertFn>);
