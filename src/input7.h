// The binary model file (option -b): the whole model read from a text model
// file, stored right after reading, and restored instead of the text in a
// later run; with option -Z the options of the writing run come along.
//
// The file holds, in this order: a header (magic number, the signature of
// the program's compile-time feature set, the format revision, a check
// value and the program version), the options block, the seven entity
// counts, the identifier tables of the seven kinds, the records of every
// kind (references to other entities by identifier, control points once
// each and then by index), the model-wide flags of the reader, and an
// FNV-1a checksum of everything before it.  Integers are little-endian,
// floating-point values IEEE binary64 (binary32 for the single-precision
// fields of the records).
//
// Reading is defensive: the header is checked first, then the checksum of
// the whole file, and then every count, identifier, index and order is
// checked against the bytes left and the records already read before it is
// used.  A truncated, damaged or foreign file ends the run with a binary
// input error (status 35) before anything of the model is built.
#ifndef MGN_INPUT7_H
#define MGN_INPUT7_H

#include <cstddef>
#include <cstdint>

// Writes the model to mgn_set.binary_file_name ("Binary data stored").
// Opening and closing failures are file manipulation errors, failed writes
// binary output errors.
void mgn_write_model_to_file();
// Restores the model (and, when the file holds them, the options) from
// mgn_set.binary_file_name ("Binary data restored").
void mgn_read_model_from_file();

// The checksum of the file: FNV-1a over the bytes, continued from state
// (start with mgn_binary_checksum_start).  Exported for the tests and the
// fuzzer, which forge files with valid checksums.
constexpr uint64_t mgn_binary_checksum_start = 14695981039346656037ull;
uint64_t mgn_binary_checksum(uint64_t state, const unsigned char* bytes, std::size_t count);

#endif  // MGN_INPUT7_H
