// The SHA-256 block engines for x86-64 processors with AVX, or with SSSE3,
// but without AVX2 and BMI2 (nor the SHA extensions): the rounds in general
// registers with plain rotations, and the message of one block at a time
// expanded with 128-bit vectors, four words in a register, while the
// block's own rounds run.  One text makes both engines, in VEX encoding for
// AVX and in SSE encoding for SSSE3 (sha_x86_asm.h).
//
// A step makes words t to t + 3 (t a multiple of 4):
//
//     W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]
//
// with the sixteen words before it in four registers, oldest first.
// W[t-15] and W[t-7] are joined from two registers by vpalignr; s1 needs
// W[t-2] and W[t-1] for the first two words and the step's own first two
// words for the last two, so it is taken twice, on two words each time, each
// word doubled into a 64-bit lane, where a 64-bit shift right is a 32-bit
// rotation of its low half.  Step j runs during rounds 4j - 16 to 4j - 13,
// and its words go to the frame with the round constants added, where the
// rounds read them with one memory operand.
//
// Without rorx, S1(e) and S0(a) take their three rotations from copies:
// two levels deep, as each is on a chain from one round to the next (e to
// the next e through S1; a to the next a through S0, one add after it).
// Folding the rotations into one another, ((a ror 9 ^ a) ror 11 ^ a) ror 2,
// takes a move fewer but five levels, which made the a chain the longest
// and the engine some 4% slower on an Intel Raptor Cove core.
//
// Only for ELF x86-64 (System V calls); elsewhere the portable engine does
// the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha256_blocks_avx(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                      const std::uint32_t* roundConstants) __attribute__((visibility("hidden")));
extern "C" void qor_sha256_blocks_ssse3(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                        const std::uint32_t* roundConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*   the words sha_x86_asm.h lays out (V_BLOCKS the next block, V_COUNT
//         the blocks left, this one included)
//   WK    W[t] + K[t] of the block, t = 0 to 63, at 4 t
//
// Registers while the rounds run:
//   eax, ebx, ecx, edx, r8d, r9d, r10d, r11d   a to h, rotating through
//            the round macro's arguments
//   r12d, r13d   the round's temporaries; r14d and edi b ^ c and a ^ b,
//            changing places every round
//   r15      64 i: the rounds of this pass are 16 i to 16 i + 15, and
//            they read the frame and the constants (rbp, on 16 bytes) from
//            64 i
//   xmm0-3   the last sixteen words, rotating through the step macro's
//            arguments;  xmm4-7 the step's temporaries;  xmm8 the byte
//            order shuffle;  xmm9, xmm10 s1's placing shuffles
__asm__(R"ASM(
    .pushsection .rodata
    .p2align 4
.Lqor_sha256a_byteswap:
    .byte 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12
# Words 0 and 2 to places 0 and 1, 0 in places 2 and 3; and to places 2
# and 3, 0 in 0 and 1.
.Lqor_sha256a_low:
    .byte 0, 1, 2, 3, 8, 9, 10, 11, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80
.Lqor_sha256a_high:
    .byte 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0, 1, 2, 3, 8, 9, 10, 11
    .popsection

    .pushsection .text
    .intel_syntax noprefix

    .equ QOR_S256A_WK, 64
    .equ QOR_S256A_FRAME, 320

# One round.  h + W + K + Ch(e, f, g) + S1(e) is T1, d + T1 the new e, and
# T1 + Maj(a, b, c) + S0(a) the new a, left in h's register.  Ch is
# ((f ^ g) & e) ^ g; Maj is ((a ^ b) & (b ^ c)) ^ b, with b ^ c the a ^ b
# of the round before.
.macro QOR_S256A_ROUND a, b, c, d, e, f, g, h, wk, bc, ab
    add \h, [rsp + r15 + QOR_S256A_WK + \wk]
    mov r12d, \f
    xor r12d, \g
    and r12d, \e
    xor r12d, \g
    add \h, r12d
    mov r12d, \e
    ror r12d, 6
    mov r13d, \e
    ror r13d, 11
    xor r12d, r13d
    ror r13d, 14
    xor r12d, r13d
    add \h, r12d
    mov \ab, \a
    xor \ab, \b
    add \d, \h
    and \bc, \ab
    xor \bc, \b
    add \h, \bc
    mov r12d, \a
    ror r12d, 2
    mov r13d, \a
    ror r13d, 13
    xor r12d, r13d
    ror r13d, 9
    xor r12d, r13d
    add \h, r12d
.endm

# Rounds 16 i + g to 16 i + g + 3 (wk = 4 g): with the variables where a
# block starts them (A, g = 0 or 8) or four rounds on (B, g = 4 or 12).
.macro QOR_S256A_ROUNDS4A wk
    QOR_S256A_ROUND eax, ebx, ecx, edx, r8d, r9d, r10d, r11d, \wk, r14d, edi
    QOR_S256A_ROUND r11d, eax, ebx, ecx, edx, r8d, r9d, r10d, \wk + 4, edi, r14d
    QOR_S256A_ROUND r10d, r11d, eax, ebx, ecx, edx, r8d, r9d, \wk + 8, r14d, edi
    QOR_S256A_ROUND r9d, r10d, r11d, eax, ebx, ecx, edx, r8d, \wk + 12, edi, r14d
.endm
.macro QOR_S256A_ROUNDS4B wk
    QOR_S256A_ROUND r8d, r9d, r10d, r11d, eax, ebx, ecx, edx, \wk, r14d, edi
    QOR_S256A_ROUND edx, r8d, r9d, r10d, r11d, eax, ebx, ecx, \wk + 4, edi, r14d
    QOR_S256A_ROUND ecx, edx, r8d, r9d, r10d, r11d, eax, ebx, \wk + 8, r14d, edi
    QOR_S256A_ROUND ebx, ecx, edx, r8d, r9d, r10d, r11d, eax, \wk + 12, edi, r14d
.endm

# s1 of the two words doubled into the 64-bit lanes of xmm6 (x ror 17,
# x ror 19 and x >> 10), into words 0 and 2 of xmm5.
.macro QOR_S256A_SIGMA1_PAIR
    QOR_SHAV_V3 psrld, xmm5, xmm6, 10
    QOR_SHAV_V3 psrlq, xmm7, xmm6, 17
    QOR_SHAV_V3 pxor, xmm5, xmm5, xmm7
    QOR_SHAV_V3 psrlq, xmm7, xmm6, 19
    QOR_SHAV_V3 pxor, xmm5, xmm5, xmm7
.endm

# The step that makes the words at `at` (bytes from 64 i) out of the last
# sixteen, x0 (the oldest four, replaced by the new ones) to x3.  s0(x) is
# x ror 7, x ror 18 and x >> 3, each rotation two shifts.  The step comes in
# four parts, one after each of the four rounds that take it.
.macro QOR_S256A_STEP0 x0, x1, x2, x3, at
    QOR_SHAV_V3 palignr, xmm4, \x1, \x0, 4
    QOR_SHAV_V3 psrld, xmm5, xmm4, 7
    QOR_SHAV_V3 pslld, xmm6, xmm4, 25
    QOR_SHAV_V3 pxor, xmm5, xmm5, xmm6
    QOR_SHAV_V3 psrld, xmm6, xmm4, 18
    QOR_SHAV_V3 pxor, xmm5, xmm5, xmm6
    QOR_SHAV_V3 pslld, xmm6, xmm4, 14
.endm
.macro QOR_S256A_STEP1 x0, x1, x2, x3, at
    QOR_SHAV_V3 pxor, xmm5, xmm5, xmm6
    QOR_SHAV_V3 psrld, xmm4, xmm4, 3
    QOR_SHAV_V3 pxor, xmm4, xmm4, xmm5
    QOR_SHAV_V3 paddd, \x0, \x0, xmm4
    QOR_SHAV_V3 palignr, xmm4, \x3, \x2, 4
    QOR_SHAV_V3 paddd, \x0, \x0, xmm4
    QOR_SHAV_V pshufd, xmm6, \x3, 0xFA
.endm
.macro QOR_S256A_STEP2 x0, x1, x2, x3, at
    QOR_S256A_SIGMA1_PAIR
    QOR_SHAV_V3 pshufb, xmm5, xmm5, xmm9
    QOR_SHAV_V3 paddd, \x0, \x0, xmm5
    QOR_SHAV_V pshufd, xmm6, \x0, 0x50
.endm
.macro QOR_S256A_STEP3 x0, x1, x2, x3, at
    QOR_S256A_SIGMA1_PAIR
    QOR_SHAV_V3 pshufb, xmm5, xmm5, xmm10
    QOR_SHAV_V3 paddd, \x0, \x0, xmm5
    QOR_SHAV_V3 paddd, xmm4, \x0, [rbp+r15+\at]
    QOR_SHAV_V movdqa, [rsp+r15+QOR_S256A_WK+\at], xmm4
.endm

# Four rounds on the variables in ra to rh, with the four parts of the step
# for `x0` to `x3` and `at` between them, so that its vector work is spread
# among the scalar instructions instead of coming as one run.
.macro QOR_S256A_ROUNDS4_STEP ra, rb, rc, rd, re, rf, rg, rh, wk, x0, x1, x2, x3, at
    QOR_S256A_ROUND \ra, \rb, \rc, \rd, \re, \rf, \rg, \rh, \wk, r14d, edi
    QOR_S256A_STEP0 \x0, \x1, \x2, \x3, \at
    QOR_S256A_ROUND \rh, \ra, \rb, \rc, \rd, \re, \rf, \rg, \wk + 4, edi, r14d
    QOR_S256A_STEP1 \x0, \x1, \x2, \x3, \at
    QOR_S256A_ROUND \rg, \rh, \ra, \rb, \rc, \rd, \re, \rf, \wk + 8, r14d, edi
    QOR_S256A_STEP2 \x0, \x1, \x2, \x3, \at
    QOR_S256A_ROUND \rf, \rg, \rh, \ra, \rb, \rc, \rd, \re, \wk + 12, edi, r14d
    QOR_S256A_STEP3 \x0, \x1, \x2, \x3, \at
.endm
# A: the variables where a block starts; B: four rounds on.
.macro QOR_S256A_ROUNDS4A_STEP wk, x0, x1, x2, x3, at
    QOR_S256A_ROUNDS4_STEP eax, ebx, ecx, edx, r8d, r9d, r10d, r11d, \wk, \x0, \x1, \x2, \x3, \at
.endm
.macro QOR_S256A_ROUNDS4B_STEP wk, x0, x1, x2, x3, at
    QOR_S256A_ROUNDS4_STEP r8d, r9d, r10d, r11d, eax, ebx, ecx, edx, \wk, \x0, \x1, \x2, \x3, \at
.endm

# Words 4j to 4j + 3 of the block (rsi) as they are, turned from
# big-endian, into x.
.macro QOR_S256A_LOAD x, j
    QOR_SHAV_V movdqu, \x, [rsi+16*\j]
    QOR_SHAV_V3 pshufb, \x, \x, xmm8
    QOR_SHAV_V3 paddd, xmm4, \x, [rbp+16*\j]
    QOR_SHAV_V movdqa, [rsp+QOR_S256A_WK+16*\j], xmm4
.endm

# The engine `name`, in the encoding qor_shav_vex chooses.
.macro QOR_S256A_ENGINE name
    QOR_SHAV_ENTER \name, QOR_S256A_FRAME, .L\name\()_return
    QOR_SHAV_V movdqa, xmm8, [rip+.Lqor_sha256a_byteswap]
    QOR_SHAV_V movdqa, xmm9, [rip+.Lqor_sha256a_low]
    QOR_SHAV_V movdqa, xmm10, [rip+.Lqor_sha256a_high]
    QOR_SHAV_LOAD_STATE rsi, 4, eax, ebx, ecx, edx, r8d, r9d, r10d, r11d

.L\name\()_block:
    mov rsi, [rsp + QOR_SHAV_V_BLOCKS]
    QOR_SHA_PREFETCH rsi
    QOR_S256A_LOAD xmm0, 0
    QOR_S256A_LOAD xmm1, 1
    QOR_S256A_LOAD xmm2, 2
    QOR_S256A_LOAD xmm3, 3
    add rsi, 64
    mov [rsp + QOR_SHAV_V_BLOCKS], rsi
    xor r15d, r15d
    mov r14d, ebx
    xor r14d, ecx

    # Rounds 0 to 47, with the steps of words 16 to 63.
    .p2align 5
.L\name\()_steps:
    QOR_S256A_ROUNDS4A_STEP 0, xmm0, xmm1, xmm2, xmm3, 64
    QOR_S256A_ROUNDS4B_STEP 16, xmm1, xmm2, xmm3, xmm0, 80
    QOR_S256A_ROUNDS4A_STEP 32, xmm2, xmm3, xmm0, xmm1, 96
    QOR_S256A_ROUNDS4B_STEP 48, xmm3, xmm0, xmm1, xmm2, 112
    add r15, 64
    cmp r15d, 192
    jne .L\name\()_steps

    # Rounds 48 to 63.
    QOR_S256A_ROUNDS4A 0
    QOR_S256A_ROUNDS4B 16
    QOR_S256A_ROUNDS4A 32
    QOR_S256A_ROUNDS4B 48
    QOR_SHAV_ADD_STATE rsi, 4, eax, ebx, ecx, edx, r8d, r9d, r10d, r11d
    dec qword ptr [rsp + QOR_SHAV_V_COUNT]
    jnz .L\name\()_block

    QOR_SHAV_LEAVE \name, .L\name\()_return, qor_shav_vex
.endm

    .set qor_shav_vex, 1
    QOR_S256A_ENGINE qor_sha256_blocks_avx
    .set qor_shav_vex, 0
    QOR_S256A_ENGINE qor_sha256_blocks_ssse3

    .att_syntax prefix
    .popsection
)ASM");

namespace {

// The round constants on 16 bytes, as the SSE forms read them.
struct sRoundConstants {
    alignas(64) std::uint32_t k[64];
};

const std::uint32_t* roundConstants() {
    static const sRoundConstants table = [] {
        sRoundConstants t{};
        for (int i = 0; i < 64; ++i) t.k[i] = qor_sha::sha256RoundConstants[static_cast<std::size_t>(i)];
        return t;
    }();
    return table.k;
}

void sha256BlocksAvx(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha256_blocks_avx(state, blocks, count, roundConstants());
}

void sha256BlocksSsse3(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha256_blocks_ssse3(state, blocks, count, roundConstants());
}

}  // namespace

namespace qor_sha {

BlockEngine32 sha256AvxEngine() {
    static const BlockEngine32 engine = qor_sha_x86::hasAvx() ? &sha256BlocksAvx : nullptr;
    return engine;
}

BlockEngine32 sha256Ssse3Engine() {
    static const BlockEngine32 engine = qor_sha_x86::hasSsse3() ? &sha256BlocksSsse3 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha256AvxEngine() { return nullptr; }
BlockEngine32 sha256Ssse3Engine() { return nullptr; }

}  // namespace qor_sha

#endif
