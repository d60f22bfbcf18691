// Checksums over a caller's memory and over streams.
//
// crc32c    CRC-32C (Castagnoli, iSCSI), continuing a running value
// pcrc32    the checksum of the POSIX cksum utility
// adler32   Adler-32 of RFC 1950 (zlib's trailer)
// crc32w    CRC-32/BZIP2, most significant bit first, computed bit by bit
// crc32     the raw reflected CRC-32 register (initial 0, no final inversion)
// crc32n    the CRC-32 of ISO 3309 / ITU-T V.42, as zlib and PNG use it
// crc64     the raw reflected CRC-64 register over crc64_tab
// crc64n    the same CRC-64 with initial value and final inversion all ones
// sum32_8   sum of the bytes, modulo 2^32
// sum32_16  sum of whole 16-bit words in host order, modulo 2^32
// sum32_32  sum of whole 32-bit words in host order, modulo 2^32
//
// The buffer forms keep no state, allocate nothing and may run on any thread.
// A null pointer, a length of 0 or a negative length is empty input; what an
// empty input gives is what the checksum defines for it: 0 for the CRCs and
// sums, 1 for Adler-32, 0xFFFFFFFF for cksum, and the complement of the
// running value for crc32c (so that chaining through an empty piece is
// neutral).
//
// The stream forms take the same checksum of everything a stream yields from
// its current position to its end (the stream is not rewound first), read in
// pieces.  They return false, leaving `out` alone, when the stream is null or
// a read fails.
#pragma once

#include <array>
#include <cstdint>

class cFileIOTarget;

// The lookup tables, 256 entries each, indexed by one byte.  Reflected tables
// shift right (entry 128 is the polynomial); p_crctab shifts left (entry 1 is
// the polynomial).
extern const std::array<std::uint32_t, 256> crc32CTable;  // 0x82F63B78, reflected
extern const std::array<std::uint32_t, 256> p_crctab;     // 0x04C11DB7, most significant bit first
extern const std::array<std::uint32_t, 256> crc32_tab;    // 0xEDB88320, reflected
extern const std::array<std::uint64_t, 256> crc64_tab;    // 0xA17870F5D4F51B49, reflected

// The register starts at `crc` as given and the complement of the register is
// returned: a whole CRC-32C starts from 0xFFFFFFFF, and the next piece of the
// same data is continued with the complement of the previous result.
std::uint32_t crc32c(std::uint32_t crc, const void* buf, long long len);
std::uint32_t pcrc32(const void* buf, long long len);
std::uint32_t adler32(const void* buf, long long len);
std::uint32_t crc32w(const void* buf, long long len);
std::uint32_t crc32(const void* buf, long long len);
std::uint32_t crc32n(const void* buf, long long len);
std::uint64_t crc64(const void* buf, long long len);
std::uint64_t crc64n(const void* buf, long long len);
std::uint32_t sum32_8(const void* buf, long long len);
std::uint32_t sum32_16(const void* buf, long long len);
std::uint32_t sum32_32(const void* buf, long long len);

// Stream forms.  crc32c starts its register at `crc` as the buffer form does.
// The word sums carry a word that straddles two reads over to the next one
// and ignore the bytes after the last whole word at the end of the stream.
bool crc32c(std::uint32_t crc, cFileIOTarget* src, std::uint32_t& out);
bool pcrc32(cFileIOTarget* src, std::uint32_t& out);
bool adler32(cFileIOTarget* src, std::uint32_t& out);
bool crc32w(cFileIOTarget* src, std::uint32_t& out);
bool crc32(cFileIOTarget* src, std::uint32_t& out);
bool crc32n(cFileIOTarget* src, std::uint32_t& out);
bool crc64(cFileIOTarget* src, std::uint64_t& out);
bool crc64n(cFileIOTarget* src, std::uint64_t& out);
bool sum32_8(cFileIOTarget* src, std::uint32_t& out);
bool sum32_16(cFileIOTarget* src, std::uint32_t& out);
bool sum32_32(cFileIOTarget* src, std::uint32_t& out);

namespace qor_checksum {

// The raw reflected CRC-32 (0xEDB88320) register after the bytes, starting
// from `reg`: crc32 is update(0, ...), crc32n is ~update(~0u, ...).  Picks the
// widest carry-less-multiply engine the CPU has; the engines below are
// exposed so that tests and benchmarks can hold them against each other.
std::uint32_t crc32Update(std::uint32_t reg, const unsigned char* p, std::uint64_t n);
std::uint32_t crc32UpdateTable(std::uint32_t reg, const unsigned char* p, std::uint64_t n);
// Null when the CPU has no PCLMULQDQ.
using Crc32Engine = std::uint32_t (*)(std::uint32_t, const unsigned char*, std::uint64_t);
Crc32Engine crc32FoldingEngine();
// The same folding on 256-bit registers; null when the CPU has no AVX2 and
// VPCLMULQDQ.
Crc32Engine crc32WideFoldingEngine();

// The CRC-32C register the same way, with the SSE 4.2 instruction when the CPU
// has it; the table engine is the fallback.
std::uint32_t crc32cUpdate(std::uint32_t reg, const unsigned char* p, std::uint64_t n);
std::uint32_t crc32cUpdateTable(std::uint32_t reg, const unsigned char* p, std::uint64_t n);
Crc32Engine crc32cHardwareEngine();

// Adler-32 continuing from `adler` (1 starts one) over the bytes, with the
// widest vector engine the CPU has; the engines behind it are exposed for
// tests and benchmarks.  The portable engine uses SSE2 where there is SSE2.
using AdlerEngine = std::uint32_t (*)(std::uint32_t, const unsigned char*, std::uint64_t);
std::uint32_t adler32Update(std::uint32_t adler, const unsigned char* p, std::uint64_t n);
std::uint32_t adler32UpdatePortable(std::uint32_t adler, const unsigned char* p, std::uint64_t n);
// Null when the CPU has no AVX2.
AdlerEngine adler32Avx2Engine();
// Null when the CPU has no AVX-512 F, BW and VNNI.
AdlerEngine adler32Avx512Engine();

}  // namespace qor_checksum
