// The instruction-set extensions the vector kernels choose by, read once.
//
// QOR_CPU_DISABLE names extensions to treat as absent (comma-separated:
// avx512, avx2, fsrm), so that tests and benchmarks run the narrower kernels on a
// processor that has the wide ones:
//
//   QOR_CPU_DISABLE=avx512,avx2 ctest -R Picture
//
// Disabling AVX2 disables AVX-512 as well: no kernel here uses the one
// without the other.
#pragma once

namespace qor_cpu {

bool hasAvx2();
// AVX-512 F and BW: 512-bit vectors of bytes.
bool hasAvx512bw();
// AVX-512 F, BW and VL: also the 128- and 256-bit forms, which reach
// registers 16 to 31; masked with the rest of AVX-512.
bool hasAvx512vl();
// AVX-512 F, BW and VNNI (byte dot products); masked with the rest of AVX-512.
bool hasAvx512Vnni();
// An Intel processor whose string move (rep movsb) is fast from its first
// bytes on (ERMS and FSRM).  Intel only: AMD's reports the same bits, but
// there its speed depends on how source and destination lie against each
// other.  QOR_CPU_DISABLE=fsrm masks it.
bool hasFastStringMove();

}  // namespace qor_cpu
