#pragma once

#include <cstddef>
#include <cstdint>

// Reads a workbook held in memory the way the program reads one: its first
// sheet's column names, then every cell of every row as text. Malformed data
// must end in an error, never in a crash, a hang or a huge allocation.
int fuzzXlsx(const uint8_t *data, size_t size);
int fuzzXls(const uint8_t *data, size_t size);
int fuzzCsv(const uint8_t *data, size_t size);
