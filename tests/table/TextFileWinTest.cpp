// The Windows file code: folders named outside any code page, and a file another program holds.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/TempDir.h"
#include "TextFile.h"

namespace {

namespace fs = std::filesystem;

std::string Utf8(const std::u8string& s) { return {s.begin(), s.end()}; }

std::vector<std::string> ReadBack(const std::string& path) {
    std::vector<std::string> lines;
    const auto status = ReadTextLines(
        path, [](std::string_view) { return true; },
        [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_EQ(status, TReadStatus::Ok) << path;
    return lines;
}

// Holds a file open as a virus scanner does (no FILE_SHARE_DELETE) until released or holdMs
// has passed.
class THolder {
  public:
    THolder(const std::wstring& path, DWORD holdMs)
        : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(held, INVALID_HANDLE_VALUE);
        thread_ = std::thread([this, held, holdMs] {
            WaitForSingleObject(release_, holdMs);
            CloseHandle(held);
        });
    }
    ~THolder() {
        SetEvent(release_);
        thread_.join();
        CloseHandle(release_);
    }
    THolder(const THolder&) = delete;
    THolder& operator=(const THolder&) = delete;

  private:
    HANDLE release_;
    std::thread thread_;
};

// Whether the ANSI code page lacks a character of the name.
bool OutsideCodePage(const std::wstring& name) {
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, nullptr, 0, nullptr, &lost);
    return lost != FALSE;
}

}  // namespace

// Run where Wine can keep such names (a UTF-8 locale); under code page 1252 neither name fits.
TEST(TextFileWinTest, FoldersNamedInChineseAndGreekTakeTheFiles) {
    TTempDir dir;
    bool outside = false;
    for (const std::u8string name : {u8"扫描结果", u8"Δίκτυο"}) {
        outside = outside || OutsideCodePage(fs::path(name).wstring());
        const fs::path folder = fs::path(dir.Path()) / fs::path(name);
        ASSERT_TRUE(fs::create_directory(folder));
        const std::string file = Utf8((folder / u8"ArpList.ini").u8string());
        ASSERT_TRUE(WriteTextLines(file, {"[ArpList]", "198.18.0.2=aa:bb:cc:dd:ee:01"}));
        EXPECT_TRUE(fs::is_regular_file(folder / u8"ArpList.ini")) << file;
        EXPECT_EQ(ReadBack(file),
                  (std::vector<std::string>{"[ArpList]", "198.18.0.2=aa:bb:cc:dd:ee:01"}));
    }
    EXPECT_TRUE(outside) << "code page " << GetACP() << " holds both names";
}

TEST(TextFileWinTest, SaveWaitsOutABriefHoldAndReportsALongOne) {
    TTempDir dir;
    const std::string file = dir.File("BindArp.bat");
    ASSERT_TRUE(WriteTextLines(file, {"old"}));
    const std::wstring wide = fs::path(file).wstring();
    {
        THolder held(wide, 300);
        EXPECT_TRUE(WriteTextLines(file, {"new"}));
    }
    EXPECT_EQ(ReadBack(file), std::vector<std::string>{"new"});
    {
        THolder held(wide, 5000);
        const TFileResult r = WriteTextLines(file, {"lost"});
        EXPECT_FALSE(r);
        EXPECT_TRUE(r.Fault == TFileFault::InUse || r.Fault == TFileFault::NoAccess)
            << static_cast<int>(r.Fault);
    }
    EXPECT_EQ(ReadBack(file), std::vector<std::string>{"new"});
}
