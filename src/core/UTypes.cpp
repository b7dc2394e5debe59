#include "UTypes.h"

#include <cstdio>

EConvertError::EConvertError(std::string_view text)
    : std::runtime_error("'" + std::string(text) + "' is not a valid integer value") {}

std::uint32_t HostToNet(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

std::uint32_t NetToHost(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadHex(std::string_view s, std::uint32_t& out) {
    if (s.empty()) return false;
    std::uint32_t v = 0;
    int significant = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        if (significant > 0 || d != 0) ++significant;
        if (significant > 8) return false;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    out = v;
    return true;
}

bool ReadDecimal(std::string_view s, bool negative, std::uint32_t& out) {
    if (s.empty()) return false;
    const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (v > limit) return false;
    }
    out = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) {
    std::string_view s = text;
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint32_t magnitude = 0;
    bool ok;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        ok = ReadHex(s.substr(2), magnitude);
    } else if (!s.empty() && (s.front() == '$' || s.front() == 'x' || s.front() == 'X')) {
        ok = ReadHex(s.substr(1), magnitude);
    } else {
        ok = ReadDecimal(s, negative, magnitude);
    }
    if (!ok) return false;
    // Two's complement negation on the 32-bit pattern.
    value = static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
    return true;
}

std::int32_t StrToInt(std::string_view text) {
    std::int32_t v = 0;
    if (!TryStrToInt(text, v)) throw EConvertError(text);
    return v;
}

std::int32_t HexToInt(std::string_view text) { return StrToInt("$" + std::string(text)); }

std::string IPToStr(std::uint32_t wire) {
    return std::to_string(wire & 0xFF) + '.' + std::to_string((wire >> 8) & 0xFF) + '.' +
           std::to_string((wire >> 16) & 0xFF) + '.' + std::to_string(wire >> 24);
}

std::uint32_t StrToIP(std::string_view text) {
    std::uint32_t result = 0;
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) return 0;
        std::int32_t piece = 0;
        if (!TryStrToInt(text.substr(start, dot - start), piece)) return 0;
        result += static_cast<std::uint32_t>(piece) << (8 * i);
        start = dot + 1;
    }
    std::int32_t last = 0;
    if (!TryStrToInt(text.substr(start), last)) return 0;
    return result + (static_cast<std::uint32_t>(last) << 24);
}

std::string MacToStr(const std::uint8_t* mac, char sep) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(17);
    for (int k = 0; k < 6; ++k) {
        if (k > 0 && sep != 0) s += sep;
        s += kHex[mac[k] >> 4];
        s += kHex[mac[k] & 0x0F];
    }
    return s;
}

std::string MacToColonStr(const std::uint8_t* mac) { return MacToStr(mac, ':'); }

void StrToMac(std::string_view text, std::uint8_t* mac) {
    for (std::size_t k = 0; k < 6; ++k) {
        std::size_t pos = 3 * k;
        std::string_view pair = pos < text.size() ? text.substr(pos, 2) : std::string_view();
        mac[k] = static_cast<std::uint8_t>(HexToInt(pair));
    }
}

TMacAddr StrToMac(std::string_view text) {
    TMacAddr mac{};
    StrToMac(text, mac.data());
    return mac;
}
