#pragma once

#include <cstddef>
#include <cstdint>

// Record ids and fixed values of the Excel 97-2003 binary file format (BIFF5
// and BIFF8), named once so the reader reads as what it means.
namespace excel::biff {

namespace record {
constexpr std::uint16_t formula = 0x0006;
// FORMULA under its Excel 4.0 id, which some writers use in later files.
constexpr std::uint16_t formulaBiff4 = 0x0406;
constexpr std::uint16_t endOfFile = 0x000A;
constexpr std::uint16_t dateMode = 0x0022;
constexpr std::uint16_t filePass = 0x002F;
constexpr std::uint16_t continuation = 0x003C;
constexpr std::uint16_t codePage = 0x0042;
constexpr std::uint16_t boundSheet = 0x0085;
constexpr std::uint16_t mulRk = 0x00BD;
constexpr std::uint16_t richString = 0x00D6;
constexpr std::uint16_t xf = 0x00E0;
constexpr std::uint16_t sst = 0x00FC;
constexpr std::uint16_t labelSst = 0x00FD;
constexpr std::uint16_t dimensions = 0x0200;
constexpr std::uint16_t number = 0x0203;
constexpr std::uint16_t label = 0x0204;
constexpr std::uint16_t boolErr = 0x0205;
constexpr std::uint16_t string = 0x0207;
constexpr std::uint16_t array = 0x0221;
constexpr std::uint16_t table = 0x0236;
constexpr std::uint16_t rk = 0x027E;
constexpr std::uint16_t format = 0x041E;
constexpr std::uint16_t sharedFormula = 0x04BC;
constexpr std::uint16_t bof = 0x0809;
// The beginning-of-file records of Excel 2.x, 3.0 and 4.0 files.
constexpr std::uint16_t bofBiff2 = 0x0009;
constexpr std::uint16_t bofBiff3 = 0x0209;
constexpr std::uint16_t bofBiff4 = 0x0409;
} // namespace record

// The version field of a BOF record.
namespace version {
constexpr std::uint16_t biff5 = 0x0500; // Excel 5.0 and 95
constexpr std::uint16_t biff8 = 0x0600; // Excel 97 and later
} // namespace version

// A record header: two bytes of id, two of length. The length field bounds a
// record's data.
constexpr std::size_t recordHeaderBytes = 4;
constexpr std::size_t maxRecordBytes = 0xFFFF;
// The smallest BOF record that still holds its version field.
constexpr std::size_t minBofBytes = 4;

// Flags of a BIFF8 string's option byte.
namespace stringFlag {
constexpr std::uint8_t wide = 0x01;     // two bytes per character, else one
constexpr std::uint8_t phonetic = 0x04; // a size of phonetic data follows
constexpr std::uint8_t rich = 0x08;     // a count of formatting runs follows
} // namespace stringFlag
// Bytes of one formatting run in a rich string.
constexpr std::size_t richRunBytes = 4;
// The smallest shared string: a two-byte count and the option byte.
constexpr std::size_t minSharedStringBytes = 3;

// Code pages a CODEPAGE record may name that are not an 8-bit code page for
// BIFF5 text: UTF-16 (BIFF8 writes it), Windows-1252 itself and its old Apple
// alias.
namespace codePage {
constexpr std::uint16_t utf16 = 1200;
constexpr std::uint16_t windows1252 = 1252;
constexpr std::uint16_t windows1252Alias = 32769;
} // namespace codePage

// Bytes of the row and column fields of a DIMENSIONS record: BIFF8 counts rows
// in four bytes, BIFF5 in two.
constexpr std::size_t dimensionRowsBiff8 = 8;
constexpr std::size_t dimensionRowsBiff5 = 4;
constexpr int columnsBiff8 = 256;

// A BOUNDSHEET entry's sheet type: a worksheet (charts, macro sheets and
// modules are not tables).
constexpr std::uint8_t sheetTypeWorksheet = 0x00;

// An RK number: flag bits in its two lowest bits.
namespace rkFlag {
constexpr std::uint32_t dividedBy100 = 0x01;
constexpr std::uint32_t integer = 0x02;
} // namespace rkFlag
// A MULRK record's entries: style and RK value; the record ends with the last
// column's number.
constexpr std::size_t mulRkEntryBytes = 6;
constexpr std::size_t mulRkTailBytes = 2;

// A FORMULA record's cached result: eight bytes that hold a number, unless its
// last two bytes are 0xFFFF; then its first byte says what it holds instead.
constexpr std::size_t formulaResultBytes = 8;
constexpr std::uint16_t formulaResultNotNumber = 0xFFFF;
namespace formulaResult {
constexpr std::uint8_t string = 0; // the text follows in a STRING record
constexpr std::uint8_t boolean = 1;
constexpr std::uint8_t error = 2;
constexpr std::uint8_t emptyString = 3;
} // namespace formulaResult

} // namespace excel::biff
