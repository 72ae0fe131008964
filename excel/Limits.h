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
// Namespace declarations in force at once (documents use a dozen or two).
constexpr int maxXmlNamespaces = 1024;
constexpr std::int64_t maxCellTextBytes = std::int64_t(1) << 20;
// A CSV file's line (a record, quoted line breaks and all), in characters:
// room for a cell's largest text and more.
constexpr std::int64_t maxCsvRecordCharacters = std::int64_t(4) << 20;
constexpr int maxColumns = 16384;
constexpr int maxRows = 1048576;
constexpr int maxZipEntries = 100000;
// Rows are read as the file stores them. Before the first row is handed out,
// this many cells are read ahead to see whether a row comes back after a
// later one: an Excel 97-2003 sheet has at most 65536 rows, so one written
// column by column shows it within them.
constexpr std::int64_t orderCheckCells = 65536;
// A sheet whose rows come out of order is sorted in memory, up to this many
// bytes of cells (estimated); past it the sheet is refused.
constexpr std::int64_t sortedSheetBytes = std::int64_t(64) << 20;
} // namespace excel::limits
