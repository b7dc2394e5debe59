#include "ScanRange.h"

#include "UTypes.h"

namespace {

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::optional<std::uint32_t> ReadOrSay(std::string_view text, std::string& error) {
    std::optional<std::uint32_t> ip = ReadIPAddress(text);
    if (!ip) error = Quoted(text) + " is not an IPv4 address";
    return ip;
}

std::optional<TScanRange> ReadBlock(std::string_view text, std::string& error) {
    const std::size_t slash = text.find('/');
    const std::optional<std::uint32_t> base = ReadOrSay(text.substr(0, slash), error);
    if (!base) return std::nullopt;
    std::int32_t bits = -1;
    if (!TryStrToInt(text.substr(slash + 1), bits) || bits < 0 || bits > 32) {
        error = Quoted(text.substr(slash + 1)) + " is not a prefix length (0 to 32)";
        return std::nullopt;
    }
    const std::uint32_t hostBits = bits == 0 ? 0xFFFFFFFFu : (1u << (32 - bits)) - 1;
    return TScanRange{*base & ~hostBits, *base | hostBits};
}

std::optional<TScanRange> ReadEnds(std::string_view first, std::string_view last,
                                   std::string& error) {
    const std::optional<std::uint32_t> a = ReadOrSay(first, error);
    if (!a) return std::nullopt;
    const std::optional<std::uint32_t> b = ReadOrSay(last, error);
    if (!b) return std::nullopt;
    if (*b < *a) {
        error =
            "the range ends at " + std::string(last) + ", below its start " + std::string(first);
        return std::nullopt;
    }
    return TScanRange{*a, *b};
}

}  // namespace

std::optional<std::uint32_t> ReadIPAddress(std::string_view text) {
    std::uint32_t ip = 0;
    for (int k = 0; k < 4; ++k) {
        const std::size_t dot = k < 3 ? text.find('.') : text.size();
        std::int32_t octet = -1;
        if (dot == std::string_view::npos || !TryStrToInt(text.substr(0, dot), octet) ||
            octet < 0 || octet > 255)
            return std::nullopt;
        ip = (ip << 8) | static_cast<std::uint32_t>(octet);
        text.remove_prefix(k < 3 ? dot + 1 : dot);
    }
    return ip;
}

std::optional<TScanRange> ReadScanRange(const std::vector<std::string>& args, std::string& error) {
    if (args.size() == 2) return ReadEnds(args[0], args[1], error);
    if (args.size() != 1) {
        error = "RANGE is FIRST-LAST, FIRST LAST or a block such as 198.18.0.0/24";
        return std::nullopt;
    }
    const std::string_view arg = args[0];
    if (arg.find('/') != std::string_view::npos) return ReadBlock(arg, error);
    // A sign is no part of an address's numbers: the first dash parts the two ends.
    const std::size_t dash = arg.find('-');
    if (dash == std::string_view::npos) return ReadEnds(arg, arg, error);
    return ReadEnds(arg.substr(0, dash), arg.substr(dash + 1), error);
}

std::optional<TScanRange> ProposedRange(std::string_view localIP) {
    const std::optional<std::uint32_t> ip = ReadIPAddress(localIP);
    if (!ip) return std::nullopt;
    return TScanRange{(*ip & 0xFFFFFF00u) | 1u, (*ip & 0xFFFFFF00u) | 255u};
}
