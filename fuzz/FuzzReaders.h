#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// What reading a workbook held in memory came to: read to its end (its rows
// counted), or a failure with its description.
struct ReadOutcome
{
    bool read = false;
    QString failure;
    size_t rows = 0;
};

// Reads a workbook held in memory the way the program reads one: its first
// sheet's column names, then every cell of every row as text. Malformed data
// must end in a described failure, never in a crash, a hang or a huge
// allocation.
ReadOutcome readXlsx(const uint8_t *data, size_t size);
ReadOutcome readXls(const uint8_t *data, size_t size);
ReadOutcome readCsv(const uint8_t *data, size_t size);

// The libFuzzer entry points: the readings above, always 0.
int fuzzXlsx(const uint8_t *data, size_t size);
int fuzzXls(const uint8_t *data, size_t size);
int fuzzCsv(const uint8_t *data, size_t size);
