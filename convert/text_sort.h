// Sorting a written text file into order: records compared byte by byte.
//
// A text written from a chart with yyyymmdd dates in the first column is
// put in date order by a plain byte comparison of its lines.  The sort is
// O(n log n) and keeps every line's bytes: lines are whole records of any
// length (a later line may be longer than the first), so nothing depends on
// all lines having the first line's width.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Byte-wise comparison of two records (unsigned bytes; a record that is a
// prefix of another sorts first).
int compare_records(const std::string& a, const std::string& b);

// Sorts records into byte order; equal records keep their order.
void sort_records(std::vector<std::string>& records);

// Record access by index in a stream of fixed-size records.  1 when the
// whole record was read or written.
int bsgetone(std::FILE* stream, std::size_t size, long index, void* buffer);
int bssetone(std::FILE* stream, std::size_t size, long index, const void* data);

// Sorts `count` records of `size` bytes that fill `stream` from its start,
// in place, with compare(a, b, size) < 0, == 0, > 0.  Equal records keep
// their order.  1 on success, 0 when a record could not be read or written
// (the stream may then hold a partly sorted permutation of the records).
using RecordCompare = int (*)(const void* a, const void* b, std::size_t size);
int bsortf(std::FILE* stream, long count, std::size_t size, RecordCompare compare);
