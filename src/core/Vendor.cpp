#include "Vendor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <numeric>
#include <optional>
#include <sstream>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Larger than any of the registry's files by far: anything bigger is not one.
constexpr std::uintmax_t kMaxFileBytes = 32u << 20;
constexpr char kCompactHeading[] = "#quorvel-vendors";

// The first three fields of the CSV record at pos (RFC 4180: quoted fields may hold commas,
// doubled quotes and line breaks); pos moves past the record. A quoted field that needs no
// unescaping stays a view of the text; a name that does is unescaped into scratch.
std::size_t NextRecord(std::string_view text, std::size_t& pos, std::string_view (&fields)[3],
                       std::string& scratch) {
    std::size_t count = 0;
    for (;;) {
        std::string_view field;
        const bool quoted = pos < text.size() && text[pos] == '"';
        if (quoted) {
            const std::size_t start = ++pos;
            bool doubled = false;
            for (;;) {
                pos = text.find('"', pos);
                if (pos == std::string_view::npos) pos = text.size();
                if (pos + 1 < text.size() && text[pos + 1] == '"') {
                    doubled = true;
                    pos += 2;
                    continue;
                }
                break;
            }
            field = text.substr(start, pos - start);
            if (pos < text.size()) ++pos;  // the closing quote
            if (doubled && count == 2) {
                scratch.clear();
                for (std::size_t i = 0; i < field.size(); ++i) {
                    scratch += field[i];
                    if (field[i] == '"') ++i;
                }
                field = scratch;
            }
        }
        const std::size_t end = text.find_first_of(",\n", pos);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        if (!quoted) field = text.substr(pos, stop - pos);
        if (!field.empty() && field.back() == '\r') field.remove_suffix(1);
        if (count < 3) fields[count] = field;
        ++count;
        pos = stop + 1;
        if (stop == text.size() || text[stop] == '\n') return count;
    }
}

bool IsHex(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
}

// A name on one line, without blanks at its ends.
std::string CleanName(std::string_view name) {
    std::string clean(name);
    std::replace_if(
        clean.begin(), clean.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; },
        ' ');
    const std::size_t first = clean.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

int BitsOfHex(std::size_t digits) {
    switch (digits) {
        case 6:
            return 24;
        case 7:
            return 28;
        case 9:
            return 36;
        default:
            return 0;
    }
}

std::uint64_t HexValue(std::string_view hex) {
    std::uint64_t v = 0;
    for (const char c : hex)
        v = (v << 4) | static_cast<std::uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    return v;
}

std::uint64_t Mac48(const std::uint8_t* mac) {
    std::uint64_t v = 0;
    for (int i = 0; i < 6; ++i) v = (v << 8) | mac[i];
    return v;
}

// The whole file, or nothing when it is missing, unreadable or too large.
std::optional<std::string> ReadWhole(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(size));
    if (in.gcount() != static_cast<std::streamsize>(size)) return std::nullopt;
    return text;
}

std::string DateOf(std::chrono::sys_seconds when) {
    const std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(when)};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

// When ieee-data last fetched the folder's files: its .lastupdate (seconds since 1970), else
// the time oui.csv was written.
std::optional<std::chrono::sys_seconds> FolderStamp(const std::filesystem::path& dir) {
    if (const std::optional<std::string> text = ReadWhole(dir / ".lastupdate")) {
        long long seconds = 0;
        std::istringstream in(*text);
        if (in >> seconds && seconds > 0)
            return std::chrono::sys_seconds{std::chrono::seconds{seconds}};
    }
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(dir / "oui.csv", ec);
    if (ec) return std::nullopt;
    return std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(written));
}

#ifdef _WIN32
std::filesystem::path ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return std::filesystem::path(path).parent_path();
}
#endif

}  // namespace

std::uint32_t TVendorRegistry::AppendName(std::string_view name) {
    if (starts_.empty()) starts_.push_back(0);
    names_ += name;
    starts_.push_back(static_cast<std::uint32_t>(names_.size()));
    return static_cast<std::uint32_t>(starts_.size() - 2);
}

std::string_view TVendorRegistry::Name(std::uint32_t number) const {
    return std::string_view(names_).substr(starts_[number], starts_[number + 1] - starts_[number]);
}

void TVendorRegistry::Add(std::string_view hex, std::string_view name) {
    const int bits = BitsOfHex(hex.size());
    const auto table = std::find_if(tables_.begin(), tables_.end(),
                                    [bits](const TTable& t) { return t.Bits == bits; });
    table->Keys.push_back(HexValue(hex));
    table->Names.push_back(AppendName(name));
}

std::size_t TVendorRegistry::AddCsv(std::string_view text) {
    std::size_t pos = 0;
    std::size_t bad = 0;
    std::string_view fields[3];
    std::string scratch;
    if (text.substr(0, 9) == "Registry,") pos = std::min(text.find('\n'), text.size() - 1) + 1;
    while (pos < text.size()) {
        const std::size_t count = NextRecord(text, pos, fields, scratch);
        if (count == 1 && fields[0].empty()) continue;  // a blank line
        const std::string name = count >= 3 ? CleanName(fields[2]) : std::string();
        if (count < 3 || !IsHex(fields[1]) || BitsOfHex(fields[1].size()) == 0 || name.empty()) {
            ++bad;
            continue;
        }
        Add(fields[1], name);
    }
    return bad;
}

bool TVendorRegistry::ReadCompact(std::string_view text) {
    *this = TVendorRegistry();
    const std::size_t firstEnd = text.find('\n');
    const std::string_view first = text.substr(0, firstEnd);
    if (first.substr(0, sizeof kCompactHeading - 1) != kCompactHeading ||
        firstEnd == std::string_view::npos)
        return false;
    date_ = CleanName(first.substr(sizeof kCompactHeading - 1));
    std::size_t pos = firstEnd + 1;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos || !IsHex(line.substr(0, tab)) || BitsOfHex(tab) == 0 ||
            tab + 1 == line.size()) {
            *this = TVendorRegistry();
            return false;
        }
        Add(line.substr(0, tab), line.substr(tab + 1));
    }
    Finish();
    return true;
}

void TVendorRegistry::Finish() {
    for (TTable& t : tables_) {
        std::vector<std::uint32_t> order(t.Keys.size());
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(),
                         [&t](std::uint32_t a, std::uint32_t b) { return t.Keys[a] < t.Keys[b]; });
        std::vector<std::uint64_t> keys;
        std::vector<std::uint32_t> names;
        keys.reserve(order.size());
        names.reserve(order.size());
        for (const std::uint32_t k : order) {
            if (!keys.empty() && keys.back() == t.Keys[k]) continue;
            keys.push_back(t.Keys[k]);
            names.push_back(t.Names[k]);
        }
        t.Keys = std::move(keys);
        t.Names = std::move(names);
    }
    names_.shrink_to_fit();
    starts_.shrink_to_fit();
}

std::string_view TVendorRegistry::Find(const std::uint8_t* mac) const {
    const std::uint64_t v = Mac48(mac);
    for (const TTable& t : tables_) {
        const std::uint64_t key = v >> (48 - t.Bits);
        const auto it = std::lower_bound(t.Keys.begin(), t.Keys.end(), key);
        if (it != t.Keys.end() && *it == key) return Name(t.Names[it - t.Keys.begin()]);
    }
    return {};
}

std::size_t TVendorRegistry::Prefixes() const {
    std::size_t n = 0;
    for (const TTable& t : tables_) n += t.Keys.size();
    return n;
}

std::size_t TVendorRegistry::Bytes() const {
    std::size_t n = names_.capacity() + starts_.capacity() * sizeof(std::uint32_t);
    for (const TTable& t : tables_)
        n += t.Keys.capacity() * sizeof(std::uint64_t) + t.Names.capacity() * sizeof(std::uint32_t);
    return n;
}

std::string TVendorRegistry::Compact() const {
    std::string text = std::string(kCompactHeading) + " " + date_ + "\n";
    for (const TTable& t : tables_) {
        const int digits = t.Bits / 4;
        for (std::size_t i = 0; i < t.Keys.size(); ++i) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%0*llX\t", digits,
                          static_cast<unsigned long long>(t.Keys[i]));
            text += hex;
            text += Name(t.Names[i]);
            text += '\n';
        }
    }
    return text;
}

std::string VendorOf(const TVendorRegistry* registry, const std::uint8_t* mac) {
    if ((mac[0] & 0x02) != 0) return kLocallyAdministeredText;
    if (registry == nullptr) return {};
    return std::string(registry->Find(mac));
}

TVendorRegistry ReadIeeeFolder(const std::string& folder) {
    const std::filesystem::path dir(folder);
    TVendorRegistry registry;
    bool any = false;
    for (const char* file : kIeeeCsvFiles) {
        if (const std::optional<std::string> text = ReadWhole(dir / file)) {
            registry.AddCsv(*text);
            any = true;
        }
    }
    registry.Finish();
    if (const auto stamp = FolderStamp(dir); any && stamp) registry.SetDate(DateOf(*stamp));
    return registry;
}

TVendorRegistry LoadSystemVendors() {
    TVendorRegistry registry;
#ifdef _WIN32
    if (const std::optional<std::string> text = ReadWhole(ProgramFolder() / kCompactVendorFile))
        registry.ReadCompact(*text);
#else
    // update-ieee-data keeps a newer copy in /var/lib; the package's own is in /usr/share.
    std::filesystem::path dir = "/usr/share/ieee-data";
    const std::filesystem::path updated = "/var/lib/ieee-data";
    const auto stamp = FolderStamp(dir);
    if (const auto newer = FolderStamp(updated); newer && (!stamp || *newer > *stamp))
        dir = updated;
    registry = ReadIeeeFolder(dir.string());
#endif
    return registry;
}

namespace {

struct TSystemVendors {
    std::once_flag Started;
    std::shared_future<void> Done;
    TVendorRegistry Registry;
};

TSystemVendors& SystemVendors() {
    static TSystemVendors vendors;
    return vendors;
}

}  // namespace

void StartLoadingVendors() {
    TSystemVendors& v = SystemVendors();
    std::call_once(v.Started, [&v] {
        v.Done = std::async(std::launch::async, [&v] { v.Registry = LoadSystemVendors(); }).share();
    });
}

const TVendorRegistry* LoadedVendors() {
    StartLoadingVendors();
    TSystemVendors& v = SystemVendors();
    if (v.Done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return nullptr;
    return &v.Registry;
}

const TVendorRegistry& Vendors() {
    StartLoadingVendors();
    SystemVendors().Done.wait();
    return SystemVendors().Registry;
}
