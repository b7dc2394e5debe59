// The address order of the table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Rows.h"

// Compares IP texts by their host-order value; text that is no address counts as 0.0.0.0.
int CompareIP(const std::string& a, const std::string& b);
// The comparison of two rows; 0 when either is missing.
int ListSortProc(const TRow* a, const TRow* b);
// The sort key CompareIP compares by.
std::uint32_t IPSortKey(const std::string& ip);

// Orders the rows by ListSortProc; rows with equal addresses keep their relative order.
void SortRows(TRows& rows);
