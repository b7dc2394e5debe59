#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The dotted text of one local IPv4 address (the last one the system lists, loopback passed
// over), or "" when there is none.
std::string GetLocalIP();

// The choice GetLocalIP makes among wire-order addresses in the system's order.
std::string ChooseLocalIP(const std::vector<std::uint32_t>& wireAddresses);
