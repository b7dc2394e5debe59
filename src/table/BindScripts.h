// "BindArp.bat" (static ARP entries) and "BindDhcp.bat" (DHCP reservations through netsh).
#pragma once

#include <string>
#include <vector>

#include "Rows.h"

// The DHCP scope of a local address: its /24 network ("0.0.0.0" for "").
std::string DhcpScope(const std::string& localIP);

// Each fails (false, lines unspecified, the row's index in badRow) when a row's MAC text cannot
// be read or its IP text is not four dotted decimal numbers 0..255: such a cell must never
// reach the command interpreter. Addresses are written in their plain form (192.168.1.10 for
// 192.168.001.010).
bool BuildBindArp(const TRows& rows, std::vector<std::string>& lines, int* badRow = nullptr);
bool BuildBindDhcp(const TRows& rows, const std::string& localIP, std::vector<std::string>& lines,
                   int* badRow = nullptr);
