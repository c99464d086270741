// The shared library as the plug-in sees it: loadable on its own, exporting the Notes API and
// none of the runtime's internals.
#include "LibraryLoader.h"

#include <notes/notes.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace notesemu::test {
namespace {

class SharedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = std::make_unique<LoadedLibrary>(NOTESEMU_LIBRARY_PATH);
        ASSERT_TRUE(library_->loaded()) << library_->error();
    }

    std::unique_ptr<LoadedLibrary> library_;
};

TEST_F(SharedLibrary, ExportsTheApiAndWorksOnItsOwn) {
    using LoadString = WORD(LNPUBLIC *)(HMODULE, STATUS, char *, WORD);
    auto loadString = reinterpret_cast<LoadString>(library_->symbol("OSLoadString"));
    ASSERT_NE(loadString, nullptr);
    char buffer[256];
    EXPECT_GT(loadString(HMODULE{}, ERR_NOEXIST, buffer, sizeof buffer - 1), 0);

    for (const char *name : {"NotesInitExtended", "NotesTerm", "OSGetEnvironmentString", "OSMemAlloc",
                             "OSLockObject", "OSMemoryLock", "OSMemoryFree"})
        EXPECT_NE(library_->symbol(name), nullptr) << name;
}

TEST_F(SharedLibrary, HidesTheRuntimesOwnSymbols) {
    // notesemu::logLine(std::string_view) and notesemu::Runtime::instance().
    EXPECT_EQ(library_->symbol("_ZN8notesemu7logLineESt17basic_string_viewIcSt11char_traitsIcEE"), nullptr);
    EXPECT_EQ(library_->symbol("_ZN8notesemu7Runtime8instanceEv"), nullptr);
}

#ifdef _WIN32
// The plug-in imports the functions by their plain names: none carries the stdcall decoration.
TEST_F(SharedLibrary, ExportsPlainNamesOnly) {
    EXPECT_NE(library_->symbol("NSFDbOpen"), nullptr);
    EXPECT_EQ(library_->symbol("NSFDbOpen@8"), nullptr);
    EXPECT_EQ(library_->symbol("_NSFDbOpen@8"), nullptr);
}
#endif

} // namespace
} // namespace notesemu::test
