// Faults on the three files: each save that cannot be made leaves what was stored before, and
// the table keeps every row, so the first save after the fault is cleared stores everything.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../support/RootOnly.h"
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

// Runs body in a child process as nobody (uid and gid 65534); gives its exit code, or 10 when
// the child could not become nobody. Needs root.
int AsNobody(const std::function<int()>& body) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// A nobody's table in dir: loads the list, finds one more row, saves the list.
int NobodyAddsARow(const std::string& dir) {
    return AsNobody([&dir] {
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(dir);
        if (table.LoadArpList() != TLoadStatus::Loaded) return 11;
        rows.Append("198.18.0.99", "02:00:00:00:00:99");
        return table.SaveArpList() ? 0 : 12;
    });
}

struct stat Stat(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) st.st_ino = 0;
    return st;
}

// A file of that size without a byte on disk.
void MakeSparse(const std::string& path, off_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

// Peak memory of the process since the last reset, less what it held at the reset.
class TPeakMemory {
  public:
    TPeakMemory() : start_(Kb("VmRSS:")) { std::ofstream("/proc/self/clear_refs") << "5"; }
    long GrowthKb() const { return Kb("VmHWM:") - start_; }

  private:
    static long Kb(const char* key) {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
        }
        return 0;
    }
    long start_;
};

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
            EXPECT_EQ(loaded.Row(i).IP, rows.Row(i).IP);
            EXPECT_EQ(loaded.Row(i).MAC, rows.Row(i).MAC);
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

// A folder this user may not write: the files, which this user may write, are rewritten where
// they stand. Root writes into any folder whatever its mode, so as root nobody meets it.
TEST_F(FileFaultTest, FolderWithoutWriteAccessRewritesTheFilesWhereTheyStand) {
    TTempDir temp;
    Open(temp.Path(), 20);
    const ino_t inode = Stat(dir + "/BindArp.bat").st_ino;
    if (geteuid() == 0) {
        for (const std::string& name : Names(dir)) {
            ASSERT_EQ(chown((dir + "/" + name).c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    FindMore(20, 5);
    const auto save = [this] {
        if (!table.SaveAll()) return 1;
        return Names(dir) == std::vector<std::string>{"ArpList.ini", "BindArp.bat", "BindDhcp.bat"}
                   ? 0
                   : 2;
    };
    EXPECT_EQ(geteuid() == 0 ? AsNobody(save) : save(), 0);
    EXPECT_EQ(Stat(dir + "/BindArp.bat").st_ino, inode);
    EXPECT_NE(ReadFile(dir + "/BindArp.bat").find("arp -s 198.18.0.24 02-00-00-00-00-18"),
              std::string::npos);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
}

// The same folder holding the list alone: the list is rewritten in place, and the scripts,
// which would be new files, are reported as refused (as root, met by nobody).
TEST_F(FileFaultTest, FolderWithoutWriteAccessRefusesNewScripts) {
    TTempDir temp;
    dir = temp.Path();
    temp.Write("ArpList.ini", "198.18.0.5|02:00:00:00:00:05\r\n");
    if (geteuid() == 0) {
        ASSERT_EQ(chown(temp.File("ArpList.ini").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    const auto save = [this] {
        TAddressTable own(rows);
        own.SetDirectory(dir);
        own.SetLocalIPSource([] { return std::string("198.18.0.1"); });
        if (own.LoadArpList() != TLoadStatus::Loaded) return 1;
        rows.Append(Ip(6), Mac(6));
        const TSaveReport report = own.SaveAll();
        if (!report.List) return 2;
        if (report.Arp.Fault != TFileFault::NoAccess || report.Dhcp.Fault != TFileFault::NoAccess)
            return 3;
        return Names(dir) == std::vector<std::string>{"ArpList.ini"} ? 0 : 4;
    };
    // 1: not loaded; 2: the list not rewritten; 3: the scripts' fault; 4: other files
    EXPECT_EQ(geteuid() == 0 ? AsNobody(save) : save(), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    EXPECT_NE(ReadFile(dir + "/ArpList.ini").find(Ip(6) + "|" + Mac(6)), std::string::npos);
}

// A file system mounted read-only keeps all three files (tmpfs; needs root).
TEST_F(FileFaultTest, ReadOnlyDiskKeepsAllThreeFiles) {
    TTmpfs tmpfs(1 << 20);
    if (!tmpfs.Error().empty()) QUORVEL_SKIP_ROOT_ONLY() << tmpfs.Error();
    Open(tmpfs.Path(), 20);
    ASSERT_TRUE(tmpfs.SetReadOnly(true));
    FindMore(20, 5);
    EXPECT_EQ(table.SaveAll().List.Fault, TFileFault::ReadOnlyDisk);
    ExpectUnchanged({"ArpList.ini", "BindArp.bat", "BindDhcp.bat"});
    ASSERT_TRUE(tmpfs.SetReadOnly(false));
    ExpectEverythingStoredAfterwards(25);
}

// Both ways of making the temporary file: unnamed (O_TMPFILE) and, as on a file system without
// those, named at once; either is removed when the save fails.
class TemporaryFileKinds : public FileFaultTest, public testing::WithParamInterface<bool> {
  protected:
    void SetUp() override { TemporaryFiles.Unnamed = GetParam(); }
    void TearDown() override { TemporaryFiles = TTemporaryFiles{}; }
};
INSTANTIATE_TEST_SUITE_P(FileFaultTest, TemporaryFileKinds, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) {
                             return std::string(i.param ? "Unnamed" : "Named");
                         });

TEST_P(TemporaryFileKinds, FullDiskKeepsAllThreeFiles) {
    TTmpfs tmpfs(256 * 1024);
    if (!tmpfs.Error().empty()) QUORVEL_SKIP_ROOT_ONLY() << tmpfs.Error();
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

// Whatever another user plants at the names the writer picks for its temporary files: a link to
// a file of root's, a file of their own, a folder. The names are taken from a script here (they
// cannot be guessed otherwise): the first three are the plants. The save goes on under the next
// name, and none of them is followed, written, given the new text or handed the script.
TEST_P(TemporaryFileKinds, PlantsAtTemporaryNamesAreNeverUsed) {
    TTempDir temp;
    TTempDir elsewhere;
    Open(temp.Path(), 20);
    int picked = 0;
    TemporaryFiles.NameFor = [&picked](const std::string& name) {
        return name + ".tmp-" + std::to_string(picked++);
    };
    const std::string victim = elsewhere.File("victim");
    elsewhere.Write("victim", "root only");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    const std::string planted = dir + "/ArpList.ini.tmp-1";
    { std::ofstream(planted) << ""; }
    ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
    struct stat plantedSt {};
    ASSERT_EQ(stat(planted.c_str(), &plantedSt), 0);
    fs::create_symlink(victim, dir + "/ArpList.ini.tmp-0");
    ASSERT_TRUE(fs::create_directory(dir + "/ArpList.ini.tmp-2"));

    FindMore(20, 5);
    EXPECT_TRUE(table.SaveArpList());
    EXPECT_EQ(picked, 4) << "the writer took the name after the three plants";
    EXPECT_EQ(elsewhere.Read("victim"), "root only");
    struct stat st {};
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadFile(planted), "");
    ASSERT_EQ(stat((dir + "/ArpList.ini").c_str(), &st), 0);
    EXPECT_NE(st.st_ino, plantedSt.st_ino);
    EXPECT_TRUE(fs::is_symlink(dir + "/ArpList.ini.tmp-0"));
    EXPECT_TRUE(fs::is_directory(dir + "/ArpList.ini.tmp-2"));
    EXPECT_FALSE(fs::exists(dir + "/ArpList.ini.tmp-3"));
    for (const char* name : {"/ArpList.ini.tmp-0", "/ArpList.ini.tmp-1", "/ArpList.ini.tmp-2"}) {
        fs::remove(dir + name);
    }
    TemporaryFiles.NameFor = nullptr;
    ExpectEverythingStoredAfterwards(25);
}

// A new file gets the mode a plain creation gives it (0666 less the umask), not the temporary
// file's 0600.
TEST_P(TemporaryFileKinds, NewFilesTakeTheModeOfAPlainCreation) {
    rows.Append(Ip(1), Mac(1));
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
        SCOPED_TRACE(mask);
        TTempDir temp;
        const mode_t oldMask = umask(mask);
        table.SetDirectory(temp.Path());
        table.SetLocalIPSource([] { return std::string("198.18.0.1"); });
        const bool saved = static_cast<bool>(table.SaveAll());
        umask(oldMask);
        ASSERT_TRUE(saved);
        for (const char* name : {"ArpList.ini", "BindArp.bat", "BindDhcp.bat"}) {
            EXPECT_EQ(Stat(temp.File(name)).st_mode & 07777, 0666 & ~mask) << name;
        }
    }
}

// Rewritten where it stands (a folder this user may not write), a list that gets shorter loses
// the old tail: the file holds the new text and nothing after it.
TEST_F(FileFaultTest, InPlaceRewriteThatShortensCutsTheOldTail) {
    TTempDir temp;
    Open(temp.Path(), 40);
    if (geteuid() == 0) {
        ASSERT_EQ(chown((dir + "/ArpList.ini").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    TMemoryRows fewer;
    fewer.Append(Ip(7), Mac(7, 1));
    fewer.Append(Ip(9), Mac(9, 1));
    const auto save = [&] {
        TAddressTable shorter(fewer);
        shorter.SetDirectory(dir);
        return shorter.SaveArpList() ? 0 : 1;
    };
    const ino_t inode = Stat(dir + "/ArpList.ini").st_ino;
    EXPECT_EQ(geteuid() == 0 ? AsNobody(save) : save(), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    EXPECT_EQ(Stat(dir + "/ArpList.ini").st_ino, inode) << "rewritten where it stands";
    EXPECT_EQ(ReadFile(dir + "/ArpList.ini"), JoinLines(BuildArpList(fewer, true)));
}

// A list another user owns and only they may write, in a folder anybody may write: the save must
// not replace it behind its owner's back. Runs as nobody in a child process; needs root.
TEST(ReadOnlyForThisUser, ListOfAnotherUserStays) {
    if (geteuid() != 0)
        QUORVEL_SKIP_ROOT_ONLY() << "needs root to own a file another user then meets";
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

// Root saves a user's list: the user keeps it (owner, group, permissions; set-ID and sticky bits
// are never carried over) and saves it again afterwards.
TEST(Ownership, RootSavingAUsersListLeavesItTheirs) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to save a file another user owns";
    TTempDir dir;
    dir.Write("ArpList.ini", "198.18.0.5|02:00:00:00:00:05\r\n");
    const std::string list = dir.File("ArpList.ini");
    ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(list.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(list.c_str(), 07764), 0);
    TMemoryRows rows;
    TAddressTable table(rows);
    table.SetDirectory(dir.Path());
    ASSERT_EQ(table.LoadArpList(), TLoadStatus::Loaded);
    rows.Append("198.18.0.6", "02:00:00:00:00:06");
    ASSERT_TRUE(table.SaveArpList());
    struct stat st = Stat(list);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0764u);
    EXPECT_NE(dir.Read("ArpList.ini").find("198.18.0.6|"), std::string::npos);
    EXPECT_EQ(NobodyAddsARow(dir.Path()), 0);
    EXPECT_NE(dir.Read("ArpList.ini").find("198.18.0.99|"), std::string::npos);
}

// A list the user may write in a folder where they may not create files: rewritten in place.
// And a list another user owns but lets the user's group write: the user may save it, and it
// stays the owner's (rewritten in place too, since a new file could not be given that owner).
TEST(Ownership, ListWritableWithoutANewFile) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to act as another user";
    struct Case {
        const char* name;
        uid_t owner;
        mode_t mode;
        mode_t folderMode;
    };
    for (Case c : {Case{"folder takes no new file", 65534, 0644, 0755},
                   Case{"writable through the group", 0, 0464, 0777}}) {
        SCOPED_TRACE(c.name);
        TTempDir dir;
        dir.Write("ArpList.ini", "198.18.0.5|02:00:00:00:00:05\r\n");
        const std::string list = dir.File("ArpList.ini");
        ASSERT_EQ(chmod(dir.Path().c_str(), c.folderMode), 0);
        ASSERT_EQ(chown(list.c_str(), c.owner, 65534), 0);
        ASSERT_EQ(chmod(list.c_str(), c.mode), 0);
        const struct stat before = Stat(list);
        EXPECT_EQ(NobodyAddsARow(dir.Path()), 0) << "11: not loaded, 12: not saved";
        EXPECT_EQ(NobodyAddsARow(dir.Path()), 0) << "a second save";
        const struct stat after = Stat(list);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, c.owner);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        const std::string text = dir.Read("ArpList.ini");
        EXPECT_EQ(text.find(";Generated by Quorvel."), 0u);
        EXPECT_NE(text.find("198.18.0.5|02:00:00:00:00:05\r\n198.18.0.99|"), std::string::npos);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1);
    }
}

// Rewritten in place on a full disk: the room for the new text is taken before a byte of the old
// one is overwritten, so the list stays whole.
TEST(Ownership, InPlaceRewriteOnAFullDiskKeepsTheList) {
    if (geteuid() != 0)
        QUORVEL_SKIP_ROOT_ONLY() << "needs root to mount a tmpfs and act as another user";
    TTmpfs tmpfs(256 * 1024);
    if (!tmpfs.Error().empty()) QUORVEL_SKIP_ROOT_ONLY() << tmpfs.Error();
    const std::string list = tmpfs.Path() + "/ArpList.ini";
    std::string before;
    for (int i = 0; i < 100; ++i) before += Ip(i) + "|" + Mac(i) + "\r\n";
    std::ofstream(list, std::ios::binary) << before;
    ASSERT_EQ(chown(list.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(tmpfs.Path().c_str(), 0755), 0);  // nobody may write the list, not the folder
    {
        std::ofstream filler(tmpfs.Path() + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    const int code = AsNobody([&tmpfs] {
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(tmpfs.Path());
        if (table.LoadArpList() != TLoadStatus::Loaded) return 11;
        for (int i = 100; i < 3000; ++i) rows.Append(Ip(i), Mac(i));
        return table.SaveArpList().Fault == TFileFault::DiskFull ? 0 : 12;
    });
    EXPECT_EQ(code, 0) << "11: not loaded, 12: not refused for a full disk";
    EXPECT_EQ(ReadFile(list), before);
}

// A link to the list or its folder, and who owns the link and the folder it leads into: as
// root, only a link and folder of its own are followed.
struct TLinkCase {
    const char* name;
    uid_t linkOwner;
    uid_t folderOwner;
    bool allowed;
};

std::vector<TLinkCase> LinkCases() {
    return {{"own link and folder", geteuid(), geteuid(), true},
            {"link of another user", 65534, 0, false},
            {"into another user's folder", 0, 65534, false}};
}

// A list kept elsewhere through a link: the link stays and the file it leads to is read and
// replaced. Running as root, a link another user owns, or one into another user's folder, is
// refused: the list is unreadable, and a save that never loaded it writes nothing either.
TEST(LinkedList, TheLinksTargetIsReplaced) {
    for (const TLinkCase& c : LinkCases()) {
        SCOPED_TRACE(c.name);
        if (c.linkOwner != geteuid() || c.folderOwner != geteuid()) {
            if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to give away: " << c.name;
        }
        TTempDir dir;
        ASSERT_TRUE(fs::create_directory(dir.File("kept")));
        const std::string before = "198.18.0.5|02:00:00:00:00:05\r\n";
        dir.Write("kept/real.ini", before);
        const std::string link = dir.File("ArpList.ini");
        fs::create_symlink("kept/real.ini", link);
        ASSERT_EQ(lchown(link.c_str(), c.linkOwner, static_cast<gid_t>(-1)), 0);
        ASSERT_EQ(chown(dir.File("kept").c_str(), c.folderOwner, static_cast<gid_t>(-1)), 0);

        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(dir.Path());
        EXPECT_EQ(table.LoadArpList(), c.allowed ? TLoadStatus::Loaded : TLoadStatus::Unreadable);
        EXPECT_EQ(rows.Count(), c.allowed ? 1 : 0);
        TMemoryRows unloaded;
        TAddressTable saver(c.allowed ? rows : unloaded);
        saver.SetDirectory(dir.Path());
        saver.Rows().Append("198.18.0.6", "02:00:00:00:00:06");
        TFileResult saved = saver.SaveArpList();
        EXPECT_EQ(saved.Fault, c.allowed ? TFileFault::None : TFileFault::LinkRefused);
        EXPECT_TRUE(fs::is_symlink(link));
        const std::string text = dir.Read("kept/real.ini");
        if (c.allowed) {
            EXPECT_NE(text.find("198.18.0.6|02:00:00:00:00:06\r\n"), std::string::npos);
        } else {
            EXPECT_EQ(text, before);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("kept")), {}), 1);
    }
}

// The files' folder opened once through a link, by the same rules; afterwards its name is
// swapped for a link to another folder, and the save still goes into the folder opened.
TEST(LinkedList, AFolderOpenedOnceKeepsTheFilesWhateverBecomesOfItsName) {
    for (const TLinkCase& c : LinkCases()) {
        SCOPED_TRACE(c.name);
        if (c.linkOwner != geteuid() || c.folderOwner != geteuid()) {
            if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to give away: " << c.name;
        }
        TTempDir dir;
        ASSERT_TRUE(fs::create_directory(dir.File("real")));
        ASSERT_TRUE(fs::create_directory(dir.File("other")));
        fs::create_symlink("real", dir.File("lan"));
        ASSERT_EQ(lchown(dir.File("lan").c_str(), c.linkOwner, static_cast<gid_t>(-1)), 0);
        ASSERT_EQ(chown(dir.File("real").c_str(), c.folderOwner, static_cast<gid_t>(-1)), 0);
        TFolder folder;
        TFileResult opened = OpenFolder(dir.File("lan"), folder);
        EXPECT_EQ(opened.Fault, c.allowed ? TFileFault::None : TFileFault::LinkRefused);
        if (!opened) continue;
        fs::remove(dir.File("lan"));
        fs::create_symlink("other", dir.File("lan"));
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetFolder(folder.Fd());
        EXPECT_EQ(table.LoadArpList(), TLoadStatus::Missing);
        rows.Append("198.18.0.6", "02:00:00:00:00:06");
        EXPECT_TRUE(table.SaveAll());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("real")), {}), 3);
        EXPECT_TRUE(fs::is_empty(dir.File("other")));
    }
}

// In a folder all may write (sticky, as /tmp), a link planted by a stranger would aim the user's
// load and save at the user's own files: both refuse it, as the kernel refuses to open through
// it.
TEST(LinkedList, StrangersLinkInASharedFolderIsRefused) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to act as two other users";
    TTempDir shared;
    TTempDir own;
    own.Write("notes.txt", "the user's own file\n");
    ASSERT_EQ(chown(own.Path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(own.File("notes.txt").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(shared.Path().c_str(), 01777), 0);
    const std::string link = shared.File("ArpList.ini");
    fs::create_symlink(own.File("notes.txt"), link);
    ASSERT_EQ(lchown(link.c_str(), 1, 1), 0);  // a stranger's
    const int code = AsNobody([&shared] {
        TMemoryRows loaded;
        TAddressTable reader(loaded);
        reader.SetDirectory(shared.Path());
        if (reader.LoadArpList() != TLoadStatus::Unreadable) return 11;
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(shared.Path());
        rows.Append("198.18.0.6", "02:00:00:00:00:06");
        return table.SaveArpList().Fault == TFileFault::LinkRefused ? 0 : 12;
    });
    EXPECT_EQ(code, 0) << "11: read through the link, 12: saved through the link";
    EXPECT_EQ(own.Read("notes.txt"), "the user's own file\n");
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
        {"link to an endless device",
         [](const std::string& p) { fs::create_symlink("/dev/zero", p); }},
        // Sparse: no disk space, but far more than the reader may take into memory.
        {"sparse 1 TiB", [](const std::string& p) { MakeSparse(p, off_t{1} << 40); }},
        {"just over 256 MiB", [](const std::string& p) { MakeSparse(p, (off_t{256} << 20) + 1); }},
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
        TPeakMemory memory;
        EXPECT_EQ(table.LoadArpList(), TLoadStatus::Unreadable);
        EXPECT_LT(memory.GrowthKb(), 16 * 1024);
        EXPECT_EQ(rows.Count(), 0);
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

// A pipe swapped in at the list's name between the checks and the reading must not hang the
// load: a child loads again and again while the name changes between a file and a pipe.
TEST(UnreadableList, PipeSwappedInWhileLoadingNeverHangs) {
    TTempDir dir;
    dir.Write("file", "198.18.0.5|02:00:00:00:00:05\r\n");
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0644), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            const std::string list = dir.File("ArpList.ini");
            while (!stop) {
                for (const char* name : {"file", "pipe"}) {
                    rename(dir.File(name).c_str(), list.c_str());
                    rename(list.c_str(), dir.File(name).c_str());
                }
            }
        });
        for (int i = 0; i < 3000; ++i) {
            TMemoryRows rows;
            TAddressTable table(rows);
            table.SetDirectory(dir.Path());
            table.LoadArpList();
        }
        stop = true;
        swapper.join();
        _exit(0);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 600 && done == 0; ++i) {
        done = waitpid(child, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "a load hung on the pipe";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// This process's address space in KiB (VmSize of /proc/self/status), 0 when unknown; not used
// under the sanitizers, whose shadow memory does not fit under a capped address space.
[[maybe_unused]] long VmSizeKb() {
    std::ifstream status("/proc/self/status");
    long kb = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmSize:", 0) == 0) kb = std::stol(line.substr(7));
    }
    return kb;
}

// Memory runs out while a large list loads: the list is unreadable, and the program goes on. The
// load runs in a child process whose address space is capped a little above what it uses.
TEST(UnreadableList, MemoryRunningOutWhileLoading) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under a capped address space";
#else
    TTempDir dir;
    {
        std::ofstream out(dir.File("ArpList.ini"), std::ios::binary);
        for (int i = 0; i < 400000; ++i) out << Ip(i) << "|" << Mac(i) << "\r\n";
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const long kb = VmSizeKb();
        const rlim_t cap = static_cast<rlim_t>(kb + 24 * 1024) * 1024;
        struct rlimit limit {
            cap, cap
        };
        if (kb == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(10);
        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(dir.Path());
        const TLoadStatus loaded = table.LoadArpList();
        const bool withheld = table.ListWithheld() && !table.SaveArpList();
        _exit(loaded == TLoadStatus::Unreadable && withheld ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the load ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no cap, 11: loaded or not withheld";
#endif
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

// A child saves four different tables over and over, reporting each completed save through a
// pipe, and is killed at a random moment of a save after one to four reports: the list on disk
// is always one whole table, never a mix, a truncated text or an empty file.
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
    ASSERT_TRUE(save(0));

    std::mt19937 rng(20261208);
    std::set<std::string> seen;
    int leftovers = 0;
    for (int round = 0; round < 100; ++round) {
        int reports[2];
        ASSERT_EQ(pipe(reports), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(reports[0]);
            for (int g = 1;; g = (g + 1) % 4) {
                if (save(g) && write(reports[1], "s", 1) != 1) _exit(1);
            }
        }
        close(reports[1]);
        // The time between the last two reports is that of one save at this moment.
        const int wanted = std::uniform_int_distribution<int>(2, 5)(rng);
        auto last = std::chrono::steady_clock::now();
        std::chrono::steady_clock::duration oneSave{};
        char report = 0;
        for (int i = 0; i < wanted; ++i) {
            ASSERT_EQ(read(reports[0], &report, 1), 1) << "the child stopped saving";
            const auto now = std::chrono::steady_clock::now();
            oneSave = now - last;
            last = now;
        }
        std::uniform_int_distribution<long long> pause(0, oneSave.count());
        std::this_thread::sleep_for(std::chrono::steady_clock::duration(pause(rng)));
        kill(child, SIGKILL);
        close(reports[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        std::string text = dir.Read("ArpList.ini");
        ASSERT_EQ(texts.count(text), 1u) << "round " << round << ": " << text.size() << " bytes";
        seen.insert(text);
        // The killed writer's temporary file has no name while it is written; only a kill in
        // the instant between naming it and the rename leaves it behind, never under the
        // list's name.
        bool leftover = false;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            if (entry.path().filename() == "ArpList.ini") continue;
            fs::remove(entry.path());
            leftover = true;
        }
        leftovers += leftover;
    }
    // After two or more reports tables 1 and 2 have each been stored whole at least once.
    EXPECT_GE(seen.size(), 2u);
    EXPECT_LE(leftovers, 10) << "temporary files left by killed saves, in 100 rounds";
}

// Running as root in a folder of another user, who has made the list a link: to a file only root
// may read (its rows would go into that user's next file) or to a pipe (whose blocked writer an
// open would release). The list is unreadable, the target is never opened, nothing is written.
TEST(LinkedList, RootReadsNothingThroughAnotherUsersLink) {
    if (geteuid() != 0) QUORVEL_SKIP_ROOT_ONLY() << "needs root to meet another user's link";
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
    };
    const Case cases[] = {
        {"file only root may read",
         [](const std::string& p) { std::ofstream(p) << "198.18.9.9|02:00:00:00:09:09\r\n"; }},
        {"named pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TTempDir secret;
        TTempDir users;
        ASSERT_EQ(chmod(secret.Path().c_str(), 0700), 0);
        const std::string target = secret.File("target");
        c.make(target);
        ASSERT_EQ(chmod(target.c_str(), 0600), 0);
        ASSERT_EQ(chown(users.Path().c_str(), 65534, 65534), 0);
        const std::string link = users.File("ArpList.ini");
        fs::create_symlink(target, link);
        ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
        const struct stat before = Stat(target);
        const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(opens, 0);
        ASSERT_GE(inotify_add_watch(opens, target.c_str(), IN_OPEN), 0);

        TMemoryRows rows;
        TAddressTable table(rows);
        table.SetDirectory(users.Path());
        EXPECT_EQ(table.LoadArpList(), TLoadStatus::Unreadable);
        EXPECT_EQ(rows.Count(), 0);
        rows.Append("198.18.0.6", "02:00:00:00:00:06");
        EXPECT_FALSE(table.SaveAll());
        char event[sizeof(inotify_event) + NAME_MAX + 1];
        EXPECT_LT(read(opens, event, sizeof event), 0) << "the target was opened";
        close(opens);
        const struct stat after = Stat(target);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(Names(users.Path()), (std::vector<std::string>{"ArpList.ini"}));
    }
}

// A list of 6.7 million tiny rows ("a|b", 32 MiB) would take some 850 MiB as a table: it is
// unreadable, found by counting before any row is built. The load runs in a child process
// whose address space is capped at five times the file's size and a little more.
TEST(UnreadableList, TooManyRowsAreCountedBeforeAnyIsBuilt) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit under a capped address space";
#else
    TTempDir dir;
    const std::size_t size = std::size_t{32} << 20;
    {
        std::string rows;
        while (rows.size() + 5 <= size) rows += "a|b\r\n";
        dir.Write("ArpList.ini", rows);
    }
    ASSERT_GT(fs::file_size(dir.File("ArpList.ini")) / 5, kMaxListRows * 6);
    // Rows that must never be built: the child ends at the first.
    class TNoRows : public TMemoryRows {
        void Append(const std::string&, const std::string&) override { _exit(12); }
        void Reserve(int) override { _exit(12); }
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const long kb = VmSizeKb();
        const rlim_t cap = static_cast<rlim_t>(kb) * 1024 + 5 * size + (rlim_t{16} << 20);
        struct rlimit limit {
            cap, cap
        };
        if (kb == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(10);
        TNoRows rows;
        TAddressTable table(rows);
        table.SetDirectory(dir.Path());
        TPeakMemory memory;
        const TLoadStatus loaded = table.LoadArpList();
        if (memory.GrowthKb() > 16 * 1024) _exit(13);
        const bool withheld = table.ListWithheld() && !table.SaveArpList();
        _exit(loaded == TLoadStatus::Unreadable && withheld ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the load ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10: no cap, 11: loaded or not withheld, 12: a row was built, 13: memory grew";
#endif
}

}  // namespace
