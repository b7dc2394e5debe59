// Conversions between IPv4 values, MAC addresses and their text forms.
//
// Host order: first octet in the most significant byte (ranges are counted in it).
// Wire order: first octet in the least significant byte (the text forms and the probe use it).
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The conversion error: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(std::string_view text);
};

using TMacAddr = std::array<std::uint8_t, 6>;

std::uint32_t HostToNet(std::uint32_t v);
std::uint32_t NetToHost(std::uint32_t v);

// The integer reading rule: leading blanks, an optional sign, decimal digits or hexadecimal
// digits after "$", "x", "X", "0x" or "0X"; signed 32-bit. TryStrToInt reports failure,
// StrToInt raises EConvertError.
bool TryStrToInt(std::string_view text, std::int32_t& value);
std::int32_t StrToInt(std::string_view text);

std::int32_t HexToInt(std::string_view text);

std::string IPToStr(std::uint32_t wire);
std::uint32_t StrToIP(std::string_view text);  // 0 when the text cannot be read

// sep == 0: no separator (bare form).
std::string MacToStr(const std::uint8_t* mac, char sep);
std::string MacToColonStr(const std::uint8_t* mac);
// Reads the pairs at positions 1, 4, 7, 10, 13, 16; each byte is stored as soon as it is read,
// so the bytes before a bad pair are already in mac when EConvertError is raised.
void StrToMac(std::string_view text, std::uint8_t* mac);
TMacAddr StrToMac(std::string_view text);
