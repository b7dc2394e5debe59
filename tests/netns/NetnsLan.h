// Test fixture: the namespace LAN of lan.sh, built for the lifetime of one object, and a guard
// that moves the calling thread into one of its namespaces. Needs root.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "UTypes.h"

struct TLanHost {
    std::string Namespace;
    std::uint32_t HostIP = 0;  // host order
    TMacAddr Mac{};
};

class TNetnsLan {
  public:
    // options as lan.sh takes them, e.g. "--shared-mac" or "--bits 16 --span 1024". The
    // namespaces are named PREFIX.PID-...: test programs of several build trees running at the
    // same time never share (or tear down) each other's LAN, and the LANs of killed ones are
    // removed by the next run.
    TNetnsLan(const std::string& prefix, int hosts, const std::string& options = "")
        : prefix_(prefix + "." + std::to_string(getpid())) {
        if (geteuid() != 0) {
            error_ = "needs root to build network namespaces";
            return;
        }
        SweepDead(prefix);
        std::string cmd = std::string(QUORVEL_LAN_SH) + " up " + prefix_ + " " +
                          std::to_string(hosts) + " " + options + " 2>&1";
        std::FILE* out = popen(cmd.c_str(), "r");
        if (out == nullptr) {
            error_ = "cannot run lan.sh";
            return;
        }
        std::string text;
        char buf[512];
        while (std::fgets(buf, sizeof buf, out) != nullptr) text += buf;
        int status = pclose(out);
        up_ = true;
        if (status != 0) {
            error_ = "lan.sh up failed: " + text;
            return;
        }
        Parse(text);
    }
    ~TNetnsLan() {
        if (up_) Run(std::string(QUORVEL_LAN_SH) + " down " + prefix_);
    }
    TNetnsLan(const TNetnsLan&) = delete;
    TNetnsLan& operator=(const TNetnsLan&) = delete;

    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    // Runs a shell command line inside the scanner's namespace; its exit status.
    int ExecScanner(const std::string& command) const {
        return Run("ip netns exec " + ScannerNamespace + " " + command);
    }

    // Empties every station's neighbour table, so that a case sharing the LAN meets nothing an
    // earlier one left: not even a host asking the scanner again, on its own, for its address.
    void ForgetNeighbours() const {
        std::string cmd = "ip -n " + ScannerNamespace + " neigh flush dev " + ScannerIface;
        for (const TLanHost& h : Hosts) cmd += "; ip -n " + h.Namespace + " neigh flush dev eth0";
        Run("sh -c '" + cmd + "' >/dev/null 2>&1");
    }

    std::string ScannerNamespace, ScannerIface;
    std::uint32_t ScannerIP = 0;  // host order
    TMacAddr ScannerMac{};
    std::vector<TLanHost> Hosts;
    std::vector<std::uint32_t> Silent;  // host order

  private:
    // Removes the LANs that test programs of this prefix left behind when they were killed.
    static void SweepDead(const std::string& prefix) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator("/run/netns", ec)) {
            std::string name = e.path().filename().string();
            if (name.compare(0, prefix.size() + 1, prefix + ".") != 0) continue;
            std::size_t dash = name.find('-', prefix.size());
            std::string pid = name.substr(prefix.size() + 1, dash - prefix.size() - 1);
            if (dash == std::string::npos || pid.empty() ||
                pid.find_first_not_of("0123456789") != std::string::npos)
                continue;
            if (kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH)
                Run(std::string(QUORVEL_LAN_SH) + " down " + prefix + "." + pid);
        }
    }
    static int Run(const std::string& command) {
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Parse(const std::string& text) {
        std::istringstream lines(text);
        std::string kind, ns, iface, ip, mac;
        while (lines >> kind) {
            if (kind == "scanner" && lines >> ns >> iface >> ip >> mac) {
                ScannerNamespace = ns;
                ScannerIface = iface;
                ScannerIP = NetToHost(StrToIP(ip));
                ScannerMac = StrToMac(mac);
            } else if (kind == "host" && lines >> ns >> ip >> mac) {
                Hosts.push_back({ns, NetToHost(StrToIP(ip)), StrToMac(mac)});
            } else if (kind == "silent" && lines >> ip) {
                Silent.push_back(NetToHost(StrToIP(ip)));
            }
        }
        if (ScannerNamespace.empty() || Hosts.empty()) error_ = "lan.sh said: " + text;
    }

    std::string prefix_;
    std::string error_;
    bool up_ = false;
};

// Moves the calling thread into a named network namespace and back when destroyed. Sockets
// and threads created meanwhile belong to that namespace.
class TNetnsEnter {
  public:
    explicit TNetnsEnter(const std::string& ns) {
        old_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        ok_ = old_ >= 0 && fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) close(fd);
    }
    ~TNetnsEnter() {
        if (ok_) setns(old_, CLONE_NEWNET);
        if (old_ >= 0) close(old_);
    }
    TNetnsEnter(const TNetnsEnter&) = delete;
    TNetnsEnter& operator=(const TNetnsEnter&) = delete;
    bool Ok() const { return ok_; }

  private:
    int old_ = -1;
    bool ok_ = false;
};
