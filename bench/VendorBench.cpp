// The vendor registry: time and memory of loading the system's registry, then of reading the
// compact file made from it, and the time of one lookup. Prints its figures.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Vendor.h"

namespace {

using TClock = std::chrono::steady_clock;

// The process's peak resident memory in kB (Linux); 0 elsewhere.
long PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

double Ms(TClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double CpuMs(std::clock_t since) { return 1000.0 * double(std::clock() - since) / CLOCKS_PER_SEC; }

}  // namespace

int main() {
    const long before = PeakKb();
    // Wall time counts the waits of a loaded machine too; processor time does not.
    TClock::time_point start = TClock::now();
    std::clock_t cpu = std::clock();
    const TVendorRegistry registry = LoadSystemVendors();
    const double loadMs = Ms(TClock::now() - start);
    std::printf(
        "system registry (%s): %zu prefixes, loaded in %.1f ms (%.1f ms of processor), kept %zu "
        "kB, peak grew %ld kB\n",
        registry.Date().c_str(), registry.Prefixes(), loadMs, CpuMs(cpu), registry.Bytes() / 1024,
        PeakKb() - before);

    const std::string compact = registry.Compact();
    start = TClock::now();
    cpu = std::clock();
    TVendorRegistry fromCompact;
    fromCompact.ReadCompact(compact);
    std::printf("compact file: %zu bytes, read in %.1f ms (%.1f ms of processor)\n", compact.size(),
                Ms(TClock::now() - start), CpuMs(cpu));

    // Random MACs with the local bit clear, half of them on an assigned prefix.
    std::mt19937_64 random(42);
    std::vector<std::uint8_t> macs(6 * 4096);
    for (std::size_t i = 0; i < macs.size(); i += 6) {
        const std::uint64_t v = random();
        for (int b = 0; b < 6; ++b) macs[i + b] = static_cast<std::uint8_t>(v >> (8 * b));
        macs[i] &= 0xFC;
        if (i % 12 == 0) macs[i] = 0x00, macs[i + 1] = 0x50, macs[i + 2] = 0xC2;
    }
    constexpr int kLookups = 4'000'000;
    std::size_t named = 0;
    start = TClock::now();
    for (int k = 0; k < kLookups; ++k)
        named += registry.Find(&macs[(static_cast<std::size_t>(k) % 4096) * 6]).empty() ? 0 : 1;
    const double ns = std::chrono::duration<double, std::nano>(TClock::now() - start).count();
    std::printf("lookup: %.0f ns each (%d lookups, %zu named)\n", ns / kLookups, kLookups, named);
}
