// Helpers for the database tests: a runtime started in an empty environment, databases written
// with the test kit into a temporary directory, and readers of canonical bytes.
#pragma once

#include "TestSupport.h"

#include <notes/notes.h>
#include <tessel/kit/Dxl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace notesemu::test {

namespace kit = tessel::kit;

inline std::vector<std::uint8_t> withType(std::uint16_t type, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> value(2 + data.size());
    value[0] = static_cast<std::uint8_t>(type);
    value[1] = static_cast<std::uint8_t>(type >> 8);
    if (!data.empty())
        std::memcpy(value.data() + 2, data.data(), data.size());
    return value;
}

inline std::vector<std::uint8_t> textValue(std::string_view lmbcs) {
    return withType(TYPE_TEXT, std::span(reinterpret_cast<const std::uint8_t *>(lmbcs.data()), lmbcs.size()));
}

template <class T> std::vector<std::uint8_t> scalarValue(std::uint16_t type, const T &scalar) {
    return withType(type, std::span(reinterpret_cast<const std::uint8_t *>(&scalar), sizeof scalar));
}

inline std::uint16_t word(const std::uint8_t *bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t dword(const std::uint8_t *bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The runtime initialised with no notes.ini (or with the given one) for one test.
class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR); }
    void TearDown() override {
        for (DBHANDLE handle : databases_)
            NSFDbClose(handle);
        NotesTerm();
    }

    std::filesystem::path writeDatabase(const kit::Database &database, const std::string &name = "db.dxl") {
        return dir_.write(name, database.toDxl());
    }

    DBHANDLE open(const std::filesystem::path &path) {
        DBHANDLE handle = NULLHANDLE;
        EXPECT_EQ(NSFDbOpen(path.string().c_str(), &handle), NOERROR);
        EXPECT_NE(handle, NULLHANDLE);
        if (handle != NULLHANDLE)
            databases_.push_back(handle);
        return handle;
    }

    TempDir dir_;
    ScopedEnv path_{"PATH", dir_.path().string()};
    ScopedEnv notesIni_{"NOTES_INI", std::nullopt};
    std::vector<DBHANDLE> databases_;
};

// The IDs and classes NSFSearch hands to its callback, in order.
struct Match {
    NOTEID id;
    WORD noteClass;
    BYTE flags;
    bool summaryGiven;
};

inline std::vector<Match> searchAll(DBHANDLE db, WORD classMask, WORD flags = 0) {
    std::vector<Match> matches;
    const STATUS status = NSFSearch(
        db, NULLHANDLE, nullptr, flags, classMask, nullptr,
        [](void *parameter, SEARCH_MATCH *match, ITEM_TABLE *summary) LNCALLBACK -> STATUS {
            SEARCH_MATCH copy;
            std::memcpy(&copy, match, sizeof copy);
            static_cast<std::vector<Match> *>(parameter)->push_back(
                {copy.ID.NoteID, copy.NoteClass, copy.SERetFlags, summary != nullptr});
            return NOERROR;
        },
        &matches, nullptr);
    EXPECT_EQ(status, NOERROR);
    return matches;
}

// An open note that closes itself.
class NoteHandle {
public:
    NoteHandle(DBHANDLE db, NOTEID id, DWORD flags = OPEN_RAW_MIME) {
        status_ = NSFNoteOpenExt(db, id, flags, &handle_);
    }
    ~NoteHandle() {
        if (handle_ != NULLHANDLE)
            NSFNoteClose(handle_);
    }
    NoteHandle(const NoteHandle &) = delete;
    NoteHandle &operator=(const NoteHandle &) = delete;
    STATUS status() const { return status_; }
    NOTEHANDLE get() const { return handle_; }

    // The value (type word included) of the first item of that name, or nullopt.
    std::optional<std::vector<std::uint8_t>> value(const char *name) const {
        BLOCKID block;
        DWORD length = 0;
        if (NSFItemInfo(handle_, name, static_cast<WORD>(std::strlen(name)), nullptr, nullptr, &block,
                        &length) != NOERROR)
            return std::nullopt;
        const auto *bytes = OSLockBlock(std::uint8_t, block);
        std::vector<std::uint8_t> value(bytes, bytes + length);
        OSUnlockBlock(block);
        return value;
    }
    std::vector<std::string> itemNames() const {
        std::vector<std::string> names;
        NSFItemScan(
            handle_,
            [](WORD, WORD, char *name, WORD length, void *, DWORD, void *parameter) LNCALLBACK -> STATUS {
                static_cast<std::vector<std::string> *>(parameter)->emplace_back(name, length);
                return NOERROR;
            },
            &names);
        return names;
    }

private:
    NOTEHANDLE handle_ = NULLHANDLE;
    STATUS status_ = NOERROR;
};

} // namespace notesemu::test
