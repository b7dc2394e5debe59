// Faults on the three files: each save that cannot be made leaves what was stored before, and
// the table keeps every row, so the first save after the fault is cleared stores everything.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../support/TempDir.h"
#include "AddressTable.h"
#include "ArpListFile.h"
#include "TextFile.h"

namespace {

namespace fs = std::filesystem;

// A small tmpfs of our own. It is mounted inside a private mount namespace of this test process,
// so it goes away with the process even if the test dies, and it is unmounted when the object
// goes. Needs root.
class TTmpfs {
  public:
    explicit TTmpfs(std::size_t bytes) : options_("size=" + std::to_string(bytes)) {
        if (geteuid() != 0) {
            error_ = "needs root to mount a tmpfs";
            return;
        }
        static const bool kPrivate = unshare(CLONE_NEWNS) == 0 &&
                                     mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        if (!kPrivate) {
            error_ = "cannot make a private mount namespace";
            return;
        }
        std::string pattern = (fs::temp_directory_path() / "quorvel-tmpfs-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            error_ = "cannot make a mount point";
            return;
        }
        path_ = pattern;
        if (mount("quorvel-test", path_.c_str(), "tmpfs", 0, options_.c_str()) != 0) {
            error_ = "cannot mount a tmpfs";
            return;
        }
        mounted_ = true;
    }
    ~TTmpfs() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
        if (!path_.empty()) rmdir(path_.c_str());
    }
    TTmpfs(const TTmpfs&) = delete;
    TTmpfs& operator=(const TTmpfs&) = delete;

    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }
    bool SetReadOnly(bool readOnly) {
        unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return mount("quorvel-test", path_.c_str(), "tmpfs", flags, options_.c_str()) == 0;
    }

  private:
    std::string options_;
    std::string path_;
    std::string error_;
    bool mounted_ = false;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Ip(int i) {
    return "198.18." + std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255);
}

std::string Mac(int i, int generation = 0) {
    char text[18];
    std::snprintf(text, sizeof text, "02:%02X:00:00:%02X:%02X", generation & 255, (i >> 8) & 255,
                  i & 255);
    return text;
}

// A table in a folder, with what its three files held before a fault.
class FileFaultTest : public testing::Test {
  protected:
    void Open(const std::string& folder, int rowCount) {
        dir = folder;
        table.SetDirectory(dir);
        table.SetLocalIPSource([] { return std::string("198.18.0.1"); });
        for (int i = 0; i < rowCount; ++i) rows.Append(Ip(i), Mac(i));
        ASSERT_TRUE(table.SaveAll());
        for (const char* name : {"ArpList.ini", "BindArp.bat", "BindDhcp.bat"}) {
            before[name] = ReadFile(dir + "/" + name);
        }
    }
    // A scan finds more; the save meets the fault.
    void FindMore(int first, int count) {
        for (int i = first; i < first + count; ++i) rows.Append(Ip(i), Mac(i));
        table.SortByAddress();
    }
    void ExpectUnchanged(const std::vector<std::string>& files) {
        for (const std::string& name : files) {
            EXPECT_EQ(ReadFile(dir + "/" + name), before[name]) << name;
        }
        // no temporary file is left behind
        EXPECT_EQ(Names(dir),
                  (std::vector<std::string>{"ArpList.ini", "BindArp.bat", "BindDhcp.bat"}));
    }
    // After the fault is cleared one save stores every row, and a fresh load gives them back.
    void ExpectEverythingStoredAfterwards(int rowCount) {
        ASSERT_EQ(rows.Count(), rowCount);
        ASSERT_TRUE(table.SaveAll());
        TMemoryRows loaded;
        TAddressTable again(loaded);
        again.SetDirectory(dir);
        ASSERT_EQ(again.LoadArpList(), TLoadStatus::Loaded);
        ASSERT_EQ(loaded.Count(), rowCount);
        for (int i = 0; i < rowCount; ++i) {
            EXPECT_EQ(loaded.Rows()[i].IP, rows.Rows()[i].IP);
            EXPECT_EQ(loaded.Rows()[i].MAC, rows.Rows()[i].MAC);
        }
        std::string arp = ReadFile(dir + "/BindArp.bat");
        EXPECT_EQ(std::count(arp.begin(), arp.end(), '\n'), rowCount + 2);
    }

    std::string dir;
    TMemoryRows rows;
    TAddressTable table{rows};
    std::map<std::string, std::string> before;
};

TEST_F(FileFaultTest, ReadOnlyListKeepsItsTextWhileTheScriptsFollowTheTable) {
    TTempDir temp;
    Open(temp.Path(), 20);
    ASSERT_EQ(chmod((dir + "/ArpList.ini").c_str(), 0444), 0);
    FindMore(20, 5);
    EXPECT_FALSE(table.SaveAll());
    ExpectUnchanged({"ArpList.ini"});
    EXPECT_NE(ReadFile(dir + "/BindArp.bat").find("arp -s 198.18.0.24 02-00-00-00-00-18"),
              std::string::npos);
    ASSERT_EQ(chmod((dir + "/ArpList.ini").c_str(), 0644), 0);
    ExpectEverythingStoredAfterwards(25);
}

TEST_F(FileFaultTest, FolderWithoutWriteAccessKeepsAllThreeFiles) {
    // Root writes into any folder whatever its mode, so root gets a read-only mount instead.
    TTempDir temp;
    std::unique_ptr<TTmpfs> tmpfs;
    if (geteuid() == 0) {
        tmpfs = std::make_unique<TTmpfs>(1 << 20);
        if (!tmpfs->Error().empty()) GTEST_SKIP() << tmpfs->Error();
    }
    Open(tmpfs ? tmpfs->Path() : temp.Path(), 20);
    auto setReadOnly = [&](bool readOnly) {
        return tmpfs ? tmpfs->SetReadOnly(readOnly)
                     : chmod(dir.c_str(), readOnly ? 0555 : 0755) == 0;
    };
    ASSERT_TRUE(setReadOnly(true));
    FindMore(20, 5);
    EXPECT_FALSE(table.SaveAll());
    ExpectUnchanged({"ArpList.ini", "BindArp.bat", "BindDhcp.bat"});
    ASSERT_TRUE(setReadOnly(false));
    ExpectEverythingStoredAfterwards(25);
}

TEST_F(FileFaultTest, FullDiskKeepsAllThreeFiles) {
    TTmpfs tmpfs(256 * 1024);
    if (!tmpfs.Error().empty()) GTEST_SKIP() << tmpfs.Error();
    Open(tmpfs.Path(), 200);
    // Fill the disk, then give back one page, so that the next save gets part of its text
    // written before the disk is full.
    const std::string filler = tmpfs.Path() + "/filler";
    {
        std::FILE* f = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() &&
               std::fflush(f) == 0) {
        }
        std::fclose(f);
        ASSERT_EQ(truncate(filler.c_str(), static_cast<off_t>(fs::file_size(filler) - 4096)), 0);
    }
    FindMore(200, 800);
    EXPECT_FALSE(table.SaveAll());
    fs::remove(filler);
    ExpectUnchanged({"ArpList.ini", "BindArp.bat", "BindDhcp.bat"});
    ExpectEverythingStoredAfterwards(1000);
}

TEST_F(FileFaultTest, TemporaryNameTakenKeepsTheList) {
    TTempDir temp;
    Open(temp.Path(), 20);
    const std::string blocker = dir + "/ArpList.ini.tmp" + std::to_string(getpid());
    ASSERT_TRUE(fs::create_directory(blocker));
    FindMore(20, 5);
    EXPECT_FALSE(table.SaveArpList());
    EXPECT_EQ(ReadFile(dir + "/ArpList.ini"), before["ArpList.ini"]);
    ASSERT_TRUE(fs::remove(blocker));
    ExpectEverythingStoredAfterwards(25);
}

// A list another user owns and only they may write, in a folder anybody may write: the save must
// not replace it behind its owner's back. Runs as nobody in a child process; needs root.
TEST(ReadOnlyForThisUser, ListOfAnotherUserStays) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to own a file another user then meets";
    TTempDir dir;
    const std::string before = "198.18.0.5|02:00:00:00:00:05\r\n";
    dir.Write("ArpList.ini", before);
    ASSERT_EQ(chmod(dir.File("ArpList.ini").c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(dir.Path());
        if (table.LoadArpList() != TLoadStatus::Loaded || rows.Count() != 1) _exit(11);
        rows.Append("198.18.0.6", "02:00:00:00:00:06");
        _exit(table.SaveArpList() ? 12 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: cannot become nobody, 12: the list was replaced";
    EXPECT_EQ(dir.Read("ArpList.ini"), before);
    struct stat st {};
    ASSERT_EQ(stat(dir.File("ArpList.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1);
}

// Something stands at the list's name that cannot be read as a file: the load says so, and no
// save replaces it or the scripts (a table lacking its rows would write scripts that drop them).
TEST(UnreadableList, NothingReplacesIt) {
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
    };
    const Case cases[] = {
        {"directory", [](const std::string& p) { fs::create_directory(p); }},
        {"symlink loop", [](const std::string& p) { fs::create_symlink("ArpList.ini", p); }},
        {"named pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
        // A regular file whose first read fails with EIO, as a failing disk's would.
        {"read error", [](const std::string& p) { fs::create_symlink("/proc/self/mem", p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TTempDir dir;
        const std::string list = dir.File("ArpList.ini");
        c.make(list);
        dir.Write("BindArp.bat", "previous arp");
        dir.Write("BindDhcp.bat", "previous dhcp");
        struct stat st {};
        ASSERT_EQ(lstat(list.c_str(), &st), 0);

        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(dir.Path());
        EXPECT_EQ(table.LoadArpList(), TLoadStatus::Unreadable);
        rows.Append("198.18.0.5", "02:00:00:00:00:05");
        EXPECT_FALSE(table.SaveAll());
        struct stat after {};
        ASSERT_EQ(lstat(list.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, st.st_ino);
        EXPECT_EQ(after.st_mode, st.st_mode);
        EXPECT_EQ(dir.Read("BindArp.bat"), "previous arp");
        EXPECT_EQ(dir.Read("BindDhcp.bat"), "previous dhcp");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 3);
    }
}

// A list file its reader may not open: root reads any file, so the load runs in a child process
// that has given up root.
TEST(UnreadableList, FileWithoutReadPermission) {
    TTempDir dir;
    const std::string list = dir.File("ArpList.ini");
    dir.Write("ArpList.ini", "198.18.0.5|02:00:00:00:00:05\r\n");
    dir.Write("BindArp.bat", "previous arp");
    ASSERT_EQ(chmod(list.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.File("BindArp.bat").c_str(), 0666), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(dir.Path());
        table.SetLocalIPSource([] { return std::string("198.18.0.1"); });
        if (table.LoadArpList() != TLoadStatus::Unreadable) _exit(11);
        rows.Append("198.18.0.6", "02:00:00:00:00:06");
        _exit(table.SaveAll() ? 12 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(chmod(list.c_str(), 0644), 0);
    EXPECT_EQ(dir.Read("ArpList.ini"), "198.18.0.5|02:00:00:00:00:05\r\n");
    EXPECT_EQ(dir.Read("BindArp.bat"), "previous arp");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2);
}

// A child saves four different tables over and over and is killed at random moments: the list
// on disk is always one whole table, never a mix, a truncated text or an empty file.
TEST(KilledWhileSaving, TheListIsAlwaysOneWholeTable) {
    TTempDir dir;
    const int kSizes[] = {3000, 1000, 4000, 2000};
    std::vector<TMemoryRows> tables(4);
    std::set<std::string> texts;
    for (int g = 0; g < 4; ++g) {
        for (int i = 0; i < kSizes[g]; ++i) tables[g].Append(Ip(i), Mac(i, g));
        texts.insert(JoinLines(BuildArpList(tables[g], true)));
    }
    auto save = [&](int g) {
        ShowTrayIcon = true;
        TAddressTable table(tables[static_cast<std::size_t>(g)]);
        table.SetDirectory(dir.Path());
        return table.SaveArpList();
    };
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(save(0));
    const auto saveTime = std::chrono::steady_clock::now() - start;

    std::mt19937 rng(20261208);
    std::set<std::string> seen;
    for (int round = 0; round < 100; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int g = 1;; g = (g + 1) % 4) save(g);
        }
        std::uniform_int_distribution<long long> pause(0, 4 * saveTime.count());
        std::this_thread::sleep_for(std::chrono::steady_clock::duration(pause(rng)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        std::string text = dir.Read("ArpList.ini");
        ASSERT_EQ(texts.count(text), 1u) << "round " << round << ": " << text.size() << " bytes";
        seen.insert(text);
        // The killed writer's temporary file stays; it never has the list's name.
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            if (entry.path().filename() != "ArpList.ini") fs::remove(entry.path());
        }
    }
    EXPECT_GE(seen.size(), 2u) << "the kills never landed between two saves";
}

}  // namespace
