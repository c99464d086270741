// The plug-in DLL as a Windows host sees it: one export, under its plain name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include <tessel/kit/TempDir.h>

namespace tessel::test {
namespace {

// Maps the plug-in copied into a test folder. Its imports (nnotes.dll) are not resolved: the
// export table and the entry's address need none of them.
class PluginDllTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto copy = dir.copy(TESSEL_NSF_PLUGIN, "tessel_nsf.dll");
        hModule = LoadLibraryExA(copy.string().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(hModule, nullptr) << "LoadLibraryEx failed with " << GetLastError();
    }
    void TearDown() override {
        if (hModule != nullptr)
            FreeLibrary(hModule);
    }

    kit::TempDir dir{"tessel-dll"};
    HMODULE hModule = nullptr;
};

TEST_F(PluginDllTest, TheEntryIsFoundByItsPlainName) {
    EXPECT_NE(GetProcAddress(hModule, "nsfGetContainerReaderInterfaceEx"), nullptr);
    // The stdcall decoration is not part of the exported name.
    EXPECT_EQ(GetProcAddress(hModule, "_nsfGetContainerReaderInterfaceEx@4"), nullptr);
    EXPECT_EQ(GetProcAddress(hModule, "nsfGetContainerReaderInterfaceEx@4"), nullptr);
}

TEST_F(PluginDllTest, TheExportTableHoldsOneEntry) {
    const auto *pbBase = reinterpret_cast<const unsigned char *>(hModule);
    const auto *pDos = reinterpret_cast<const IMAGE_DOS_HEADER *>(pbBase);
    ASSERT_EQ(pDos->e_magic, IMAGE_DOS_SIGNATURE);
    const auto *pNt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(pbBase + pDos->e_lfanew);
    ASSERT_EQ(pNt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(pNt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    const IMAGE_DATA_DIRECTORY &exports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(exports.VirtualAddress, 0u);
    const auto *pExports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(pbBase + exports.VirtualAddress);
    EXPECT_EQ(pExports->NumberOfFunctions, 1u);
    ASSERT_EQ(pExports->NumberOfNames, 1u);
    const auto *pdwNames = reinterpret_cast<const DWORD *>(pbBase + pExports->AddressOfNames);
    EXPECT_STREQ(reinterpret_cast<const char *>(pbBase + pdwNames[0]), "nsfGetContainerReaderInterfaceEx");
}

} // namespace
} // namespace tessel::test
