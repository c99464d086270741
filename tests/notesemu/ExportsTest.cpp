// The shared library as the plug-in sees it: loadable on its own, exporting the Notes API and
// none of the runtime's internals.
#include <notes/notes.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

namespace {

class SharedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(NOTESEMU_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    void TearDown() override {
        if (handle_ != nullptr)
            dlclose(handle_);
    }

    void *handle_ = nullptr;
};

TEST_F(SharedLibrary, ExportsTheApiAndWorksOnItsOwn) {
    using LoadString = WORD(LNPUBLIC *)(HMODULE, STATUS, char *, WORD);
    auto loadString = reinterpret_cast<LoadString>(dlsym(handle_, "OSLoadString"));
    ASSERT_NE(loadString, nullptr);
    char buffer[256];
    EXPECT_GT(loadString(NULLHANDLE, ERR_NOEXIST, buffer, sizeof buffer - 1), 0);

    for (const char *name : {"NotesInitExtended", "NotesTerm", "OSGetEnvironmentString", "OSMemAlloc",
                             "OSLockObject", "OSMemoryLock", "OSMemoryFree"})
        EXPECT_NE(dlsym(handle_, name), nullptr) << name;
}

TEST_F(SharedLibrary, HidesTheRuntimesOwnSymbols) {
    // notesemu::logLine(std::string_view) and notesemu::Runtime::instance().
    EXPECT_EQ(dlsym(handle_, "_ZN8notesemu7logLineESt17basic_string_viewIcSt11char_traitsIcEE"), nullptr);
    EXPECT_EQ(dlsym(handle_, "_ZN8notesemu7Runtime8instanceEv"), nullptr);
}

} // namespace
