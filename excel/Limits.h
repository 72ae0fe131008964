#pragma once

#include <cstdint>

// Bounds on what a workbook may make the readers do. Sizes written in a file
// are never trusted beyond these.
namespace excel::limits {
constexpr std::int64_t sheetPartBytes = std::int64_t(1) << 30;   // inflated sheet XML
constexpr std::int64_t otherPartBytes = std::int64_t(256) << 20; // strings, styles, workbook
constexpr std::int64_t maxInflationRatio = 1000;
// Small parts may legitimately compress better than the ratio allows.
constexpr std::int64_t ratioCheckFloorBytes = std::int64_t(1) << 20;
constexpr int maxXmlDepth = 256;
constexpr std::int64_t maxCellTextBytes = std::int64_t(1) << 20;
constexpr int maxColumns = 16384;
constexpr int maxZipEntries = 100000;
} // namespace excel::limits
