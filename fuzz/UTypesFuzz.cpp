// The integer reading rule, HexToInt, StrToIP and StrToMac on arbitrary text, each checked
// against a plain reading of the rule, and the text forms read back to the values they came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "UTypes.h"

namespace {

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Digits of the given kind, at most maxSignificant of them after leading zeros, as a number.
std::optional<std::uint64_t> Digits(std::string_view s, int base, std::size_t maxSignificant) {
    if (s.empty()) return std::nullopt;
    for (char c : s) {
        if (base == 16 ? !IsHex(c) : (c < '0' || c > '9')) return std::nullopt;
    }
    std::size_t first = s.find_first_not_of('0');
    std::string_view significant = first == std::string_view::npos ? "" : s.substr(first);
    if (significant.size() > maxSignificant) return std::nullopt;
    return std::strtoull(std::string(s).c_str(), nullptr, base);
}

// The integer reading rule as written down for administrators: blanks, sign, then decimal
// digits or a hexadecimal marker and at most eight significant digits.
std::optional<std::int32_t> ReadInteger(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    bool negative = !s.empty() && s.front() == '-';
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
    std::size_t marker = s.starts_with("0x") || s.starts_with("0X")                         ? 2
                         : (s.starts_with('$') || s.starts_with('x') || s.starts_with('X')) ? 1
                                                                                            : 0;
    if (marker > 0) {
        auto v = Digits(s.substr(marker), 16, 8);
        if (!v) return std::nullopt;
        std::uint32_t bits = static_cast<std::uint32_t>(*v);
        return static_cast<std::int32_t>(negative ? 0u - bits : bits);
    }
    auto v = Digits(s, 10, 10);
    if (!v || *v > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
    return static_cast<std::int32_t>(negative ? 0u - static_cast<std::uint32_t>(*v)
                                              : static_cast<std::uint32_t>(*v));
}

void CheckInteger(std::string_view text) {
    std::optional<std::int32_t> expected = ReadInteger(text);
    std::int32_t value = 0;
    bool ok = TryStrToInt(text, value);
    if (ok != expected.has_value() || (ok && value != *expected)) std::abort();
    try {
        if (StrToInt(text) != value || !ok) std::abort();
    } catch (const EConvertError&) {
        if (ok) std::abort();
    }
}

void CheckHex(std::string_view text) {
    // HexToInt: only hexadecimal digits, up to eight significant ones.
    auto expected = Digits(text, 16, 8);
    try {
        std::int32_t v = HexToInt(text);
        if (!expected || static_cast<std::uint32_t>(v) != *expected) std::abort();
    } catch (const EConvertError&) {
        if (expected) std::abort();
    }
}

void CheckMac(std::string_view text) {
    std::uint8_t mac[6] = {};
    bool expectOk = true;
    for (std::size_t k = 0; k < 6 && expectOk; ++k) {
        std::string_view pair = 3 * k < text.size() ? text.substr(3 * k, 2) : "";
        expectOk = Digits(pair, 16, 8).has_value();
    }
    try {
        StrToMac(text, mac);
        if (!expectOk) std::abort();
        for (std::size_t k = 0; k < 6; ++k) {
            if (mac[k] != *Digits(text.substr(3 * k, 2), 16, 8)) std::abort();
        }
    } catch (const EConvertError&) {
        if (expectOk) std::abort();
    }
}

void CheckIP(std::string_view text) {
    // StrToIP never raises; a value it gives is the sum of its four pieces.
    std::uint32_t wire = StrToIP(text);
    std::uint32_t sum = 0;
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = i < 3 ? text.find('.', start) : text.size();
        if (dot == std::string_view::npos) {
            if (wire != 0) std::abort();
            return;
        }
        std::optional<std::int32_t> piece = ReadInteger(text.substr(start, dot - start));
        if (!piece) {
            if (wire != 0) std::abort();
            return;
        }
        sum += static_cast<std::uint32_t>(*piece) << (8 * i);
        start = dot + 1;
    }
    if (wire != sum) std::abort();
}

void CheckRoundTrips(const std::uint8_t* data, std::size_t size) {
    if (size >= 4) {
        std::uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) |
                          (static_cast<std::uint32_t>(data[3]) << 24);
        if (StrToIP(IPToStr(v)) != v || NetToHost(HostToNet(v)) != v) std::abort();
    }
    if (size >= 6) {
        for (char sep : {':', '-'}) {
            if (StrToMac(MacToStr(data, sep)) != StrToMac(MacToColonStr(data))) std::abort();
            TMacAddr back = StrToMac(MacToStr(data, sep));
            for (int k = 0; k < 6; ++k) {
                if (back[static_cast<std::size_t>(k)] != data[k]) std::abort();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckInteger(text);
    CheckHex(text);
    CheckMac(text);
    CheckIP(text);
    CheckRoundTrips(data, size);
    return 0;
}
