// Runtime start-up, environment and message strings: the C entry points.
#include "Log.h"
#include "Messages.h"
#include "Runtime.h"

#include <notes/notes.h>

#include <algorithm>
#include <cstring>
#include <span>

using notesemu::Runtime;

namespace {

// Copies at most maxLength bytes of text and a NUL after them; returns the bytes copied.
WORD copyTruncated(std::string_view text, char *buffer, WORD maxLength) {
    const std::size_t length = std::min<std::size_t>(text.size(), maxLength);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<WORD>(length);
}

} // namespace

extern "C" {

NOTESAPI STATUS LNPUBLIC NotesInitExtended(int argc, char **argv) {
    const std::size_t count = (argv != nullptr && argc > 0) ? static_cast<std::size_t>(argc) : 0;
    return Runtime::instance().init(std::span<char *const>(argv, count));
}

NOTESAPI void LNPUBLIC NotesTerm(void) {
    Runtime::instance().term();
}

NOTESAPI BOOL LNPUBLIC OSGetEnvironmentString(const char *VariableName, char *retValueBuffer,
                                              WORD BufferLength) {
    if (VariableName == nullptr || retValueBuffer == nullptr)
        return FALSE;
    const auto value = Runtime::instance().environmentValue(VariableName);
    if (!value)
        return FALSE;
    copyTruncated(*value, retValueBuffer, BufferLength);
    return TRUE;
}

NOTESAPI void LNPUBLIC OSSetEnvironmentVariable(const char *VariableName, const char *Value) {
    if (VariableName == nullptr || *VariableName == '\0') {
        notesemu::logLine("OSSetEnvironmentVariable called without a variable name");
        return;
    }
    if (!Runtime::instance().setEnvironmentValue(VariableName, Value))
        notesemu::logf("OSSetEnvironmentVariable(%s) ignored: the runtime is not initialised", VariableName);
}

NOTESAPI WORD LNPUBLIC OSLoadString(HMODULE hModule, STATUS StringCode, char *retBuffer, WORD BufferLength) {
    // The runtime has only its own message table; a module handle names strings it does not have.
    if (retBuffer == nullptr || hModule != 0)
        return 0;
    const std::string_view text = notesemu::statusText(StringCode);
    if (text.empty()) {
        retBuffer[0] = '\0';
        return 0;
    }
    return copyTruncated(text, retBuffer, BufferLength);
}

} // extern "C"
