// "BindArp.bat" (static ARP entries) and "BindDhcp.bat" (DHCP reservations through netsh).
#pragma once

#include <string>
#include <vector>

#include "Rows.h"

// The DHCP scope of a local address: its /24 network ("0.0.0.0" for "").
std::string DhcpScope(const std::string& localIP);

// Each fails (false, lines unspecified) when a row's MAC text cannot be read or its IP text holds
// anything but digits and dots: such a cell must never reach the command interpreter.
bool BuildBindArp(const TRows& rows, std::vector<std::string>& lines);
bool BuildBindDhcp(const TRows& rows, const std::string& localIP, std::vector<std::string>& lines);
