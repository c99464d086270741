// OSLoadString: texts for the runtime's statuses, unknown codes and truncation.
#include <notes/notes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string loadString(STATUS code, WORD bufferLength = 1023) {
    std::string buffer(bufferLength + 1u, '\x7F');
    const WORD length = OSLoadString(NULLHANDLE, code, buffer.data(), bufferLength);
    EXPECT_EQ(std::strlen(buffer.c_str()), length) << "returned length and NUL position differ";
    return buffer.substr(0, length);
}

TEST(LoadString, EveryStatusTheRuntimeNamesHasAText) {
    const STATUS codes[] = {ERR_NOEXIST,
                            ERR_EXISTS,
                            ERR_MEMORY,
                            ERR_CREATE,
                            ERR_LOCK,
                            ERR_ACCESS,
                            ERR_INV_FILE_NAME,
                            ERR_CANCEL,
                            ERR_NO_NOTESINI,
                            ERR_NOT_NSF,
                            ERR_READONLY,
                            ERR_STRUCT,
                            ERR_NO_MORE_MATCHES,
                            ERR_NOTE_ID,
                            ERR_NOTES_NOT_INITIALIZED,
                            ERR_NSF_VERSION,
                            ERR_DIRECTORY,
                            ERR_ITEM_NOT_FOUND,
                            ERR_NOTE_DELETED,
                            ERR_INVALID_NOTE,
                            ERR_NSFOPEN,
                            ERR_ENCODING,
                            ERR_NO_MODIFIED_NOTES,
                            ERR_NO_ITEM_IN_NOTE,
                            ERR_ITEM_DATATYPE,
                            ERR_BAD_PARAM,
                            ERR_INVALID_ITEMLEN,
                            ERR_INVALID_ITEMTYPE,
                            ERR_NOACCESS,
                            ERR_OPEN_FILE,
                            ERR_OBJECT_TRUNCATED,
                            ERR_NOTE_BADATTSIGN,
                            ERR_NOTE_NOT_SEALED,
                            ERR_NOTE_ALREADY_SEALED,
                            ERR_NOEXTRACT_ENCRYPTED,
                            ERR_NOT_SEALED_FOR_YOU,
                            ERR_ALREADY_LOCKED,
                            ERR_INVALID_ITEMUNK,
                            ERR_NSF_CORRUPT2,
                            ERR_LOCALSEC_DBOPENFAILURE,
                            ERR_NO_SUCH_ITEM,
                            ERR_IDFILE_NOT_FOUND,
                            ERR_NOTE_NOT_FOLDER,
                            ERR_NOT_FOUND,
                            ERR_IFMT,
                            ERR_TFMT,
                            ERR_TDO_CONV,
                            ERR_HUFF2,
                            ERR_LZ1_DECOMPRESS_BAD_DATA,
                            ERR_MISC_INVALID_ARGS,
                            ERR_MISC_UNEXPECTED_ERROR,
                            ERR_DATATYPE,
                            ERR_ODS_ENUM_COMPLETE,
                            ERR_ODS_NO_SUCH_ENTRY,
                            ERR_NOT_IMPLEMENTED,
                            ERR_SERVER_NOT_RESPONDING,
                            ERR_BSAFE_UNSUPPORTED_CRYPTO_OP,
                            ERR_BSAFE_TOOSMALL,
                            ERR_BSAFE_SUBPROCESS,
                            ERR_BSAFE_NULLPARAM,
                            ERR_BSAFE_USER_ABORT,
                            ERR_BSAFE_ID_PROTECTED,
                            ERR_BSAFE_ID_TRUNC,
                            ERR_BSAFE_NON_EXISTENT,
                            ERR_BSAFE_INVUSERIDFILE,
                            ERR_BSAFE_CORRUPTFILE,
                            ERR_NULL_DBHANDLE,
                            ERR_SECURE_NOKEYFILE,
                            ERR_SECURE_BADPASSWORD,
                            ERR_NSF_NOT_SUPPORTED};
    for (STATUS code : codes)
        EXPECT_GT(loadString(code).size(), 5u) << std::hex << code;
}

TEST(LoadString, NotNsfTextSaysTheRuntimeReadsDxl) {
    EXPECT_NE(loadString(ERR_NOT_NSF).find("emulated Notes runtime reads databases stored as DXL"),
              std::string::npos);
}

TEST(LoadString, UnknownCodeGivesZeroAndAnEmptyString) {
    EXPECT_EQ(loadString(0x3FFE), "");
    EXPECT_EQ(loadString(NOERROR), "");
    // Flag bits are not stripped: callers pass ERR(status).
    EXPECT_EQ(loadString(STS_REMOTE | ERR_NOEXIST), "");
    EXPECT_NE(loadString(ERR(STS_REMOTE | ERR_NOEXIST)), "");
}

TEST(LoadString, TextIsCutToBufferLengthAndTerminated) {
    const std::string full = loadString(ERR_NOT_NSF);
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(OSLoadString(NULLHANDLE, ERR_NOT_NSF, buffer, 10), 10);
    EXPECT_EQ(std::string(buffer), full.substr(0, 10));
    EXPECT_EQ(buffer[11], 'x');
    EXPECT_EQ(OSLoadString(NULLHANDLE, ERR_NOT_NSF, buffer, 0), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(OSLoadString(NULLHANDLE, ERR_NOT_NSF, nullptr, 10), 0);
}

} // namespace
