#include "Start.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "Privilege.h"
#include "RawSocket.h"

extern char** environ;
#endif

namespace {

struct TCodeOption {
    std::string_view Name;
    bool TakesValue;
};

constexpr std::array<TCodeOption, 7> CodeOptions{{{"plugin", true},
                                                  {"platformpluginpath", true},
                                                  {"platformtheme", true},
                                                  {"style", true},
                                                  {"stylesheet", true},
                                                  {"testability", false},
                                                  {"qmljsdebugger", false}}};

// How many arguments from argv[i] on form one code-loading option: 0, 1 or 2.
int CodeOptionLength(int argc, char** argv, int i) {
    std::string_view arg = argv[i];
    if (arg.size() < 2 || arg[0] != '-') return 0;
    arg.remove_prefix(arg[1] == '-' ? 2 : 1);
    const std::size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    for (const TCodeOption& o : CodeOptions) {
        if (name != o.Name) continue;
        return o.TakesValue && eq == std::string_view::npos && i + 1 < argc ? 2 : 1;
    }
    return 0;
}

#ifndef _WIN32
void ScrubEnvironment() {
    std::vector<std::string> names;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string_view entry = *e;
        std::string_view name = entry.substr(0, entry.find('='));
        if (!KeptInSecureMode(name)) names.emplace_back(name);
    }
    for (const std::string& name : names) unsetenv(name.c_str());
}

bool OnlyRootMayWrite(const struct stat& st) {
    return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool OnlyRootMayWrite(const std::filesystem::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && OnlyRootMayWrite(st);
}

// The entries of a folder; false when it cannot be read to the end.
bool ReadFolder(const std::filesystem::path& folder, std::vector<std::filesystem::path>& entries) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        entries.push_back(it->path());
    }
    return !ec;
}

// The toolkit loads plugins from the program's own folder too (FOLDER/KIND/PLUGIN), and takes
// its plugin folder from a qt.conf there, which no variable or option turns off: that folder,
// every entry in it (files included, links followed), and what lies in its subfolders must be
// root's alone.
bool ProgramFolderIsRootsAlone() {
    std::error_code ec;
    const std::filesystem::path folder =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    struct stat top {};
    if (ec || folder.empty() || stat(folder.c_str(), &top) != 0 || !OnlyRootMayWrite(top))
        return false;
    std::vector<std::filesystem::path> entries;
    if (!ReadFolder(folder, entries)) return false;
    for (const std::filesystem::path& entry : entries) {
        struct stat st {};
        if (stat(entry.c_str(), &st) != 0 || !OnlyRootMayWrite(st)) return false;
        // A link back to the folder holds nothing new.
        if (!S_ISDIR(st.st_mode) || (st.st_dev == top.st_dev && st.st_ino == top.st_ino)) continue;
        std::vector<std::filesystem::path> plugins;
        if (!ReadFolder(entry, plugins)) return false;
        for (const std::filesystem::path& plugin : plugins) {
            if (!OnlyRootMayWrite(plugin)) return false;
        }
    }
    return true;
}
#endif

}  // namespace

bool KeptInSecureMode(std::string_view variable) {
    constexpr std::string_view kept[] = {"DISPLAY",
                                         "XAUTHORITY",
                                         "WAYLAND_DISPLAY",
                                         "XDG_RUNTIME_DIR",
                                         "XDG_SESSION_TYPE",
                                         "HOME",
                                         "USER",
                                         "LOGNAME",
                                         "PATH",
                                         "LANG",
                                         "LANGUAGE",
                                         "TZ",
                                         "TERM",
                                         "QT_QPA_PLATFORM"};
    if (variable.starts_with("LC_")) return true;
    for (std::string_view k : kept) {
        if (variable == k) return true;
    }
    return false;
}

int DropCodeLoadingArguments(int argc, char** argv) {
    int out = argc > 0 ? 1 : 0;
    for (int i = out; i < argc;) {
        const int skip = CodeOptionLength(argc, argv, i);
        if (skip == 0) argv[out++] = argv[i++];
        i += skip;
    }
    if (out < argc) argv[out] = nullptr;
    return out;
}

void OpenStandardStreams() {
#ifndef _WIN32
    // A descriptor the program opens must never take the number of a closed standard stream,
    // where a find line or a report would be written into it.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null == -1) std::abort();  // the lowest free number is fd: nothing else is safe
    }
#endif
}

bool StartUnprivileged(int& argc, char** argv) {
    OpenStandardStreams();
#ifndef _WIN32
    // Opened before the rights go, and the only thing they were needed for.
    std::string unheld;
    if (!HoldRawArpSocket(&unheld) && !unheld.empty()) {
        std::fprintf(stderr,
                     "Quorvel：原始套接字的过滤器无法锁定（%s），本次不使用原始套接字，"
                     "改用较慢的内核邻居探测。\n",
                     unheld.c_str());
    }
    const TDropPlan plan = PlanDrop(ReadStartRights());
    const std::string error = DropPrivileges(plan);
    if (!error.empty()) {
        std::fprintf(stderr, "Quorvel：无法放弃启动时的特权（%s），程序不运行。\n", error.c_str());
        return false;
    }
    // Whoever gave this start its rights (a file capability, set-ID, a sudo rule, root) gave
    // them to this program, not to code the environment or the command line names.
    if (plan.Mode != TDropMode::None) {
        if (!ProgramFolderIsRootsAlone()) {
            ReleaseRawArpSocket();
            std::fprintf(stderr,
                         "Quorvel：程序所在的文件夹并非只有 root 可写，其中的插件可能被加载；"
                         "本次不使用原始套接字，改用较慢的内核邻居探测。\n");
        }
        ScrubEnvironment();
        argc = DropCodeLoadingArguments(argc, argv);
    }
#else
    (void)argc;
    (void)argv;
#endif
    return true;
}
