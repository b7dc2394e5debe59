// The program's DLL search: after TakeSafeDllSearch a DLL asked for by name is no longer taken
// from the working folder, while System32's still load. A program of its own, as the search
// order holds for the whole process.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "../support/TempDir.h"
#include "SafeDllSearch.h"

TEST(SafeDllSearchTest, TheWorkingFolderIsNoLongerSearched) {
    namespace fs = std::filesystem;
    TTempDir dir;
    for (const char* name : {"planted_before.dll", "planted_after.dll"})
        fs::copy_file(QUORVEL_PLANTED_DLL, fs::path(dir.Path()) / name);
    ASSERT_TRUE(SetCurrentDirectoryW(fs::path(dir.Path()).wstring().c_str()));

    HMODULE before = LoadLibraryW(L"planted_before.dll");
    ASSERT_NE(before, nullptr) << "the standard order does not reach the working folder here";
    FreeLibrary(before);

    ASSERT_TRUE(TakeSafeDllSearch());
    EXPECT_EQ(LoadLibraryW(L"planted_after.dll"), nullptr);
    EXPECT_NE(LoadLibraryW(L"version.dll"), nullptr);
    SetCurrentDirectoryW(fs::temp_directory_path().wstring().c_str());
}
