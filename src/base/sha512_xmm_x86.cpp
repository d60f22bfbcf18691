// The SHA-512 block engines for x86-64 processors with AVX, or with SSSE3,
// but without AVX2 and BMI2, built like the SHA-256 ones
// (sha256_xmm_x86.cpp): the rounds in general registers with plain
// rotations, and the message of one block at a time expanded in 128-bit
// registers, two words in each, while the block's own rounds run.  One text
// makes both engines, in VEX encoding for AVX and in SSE encoding for SSSE3
// (sha_x86_asm.h).
//
// A step makes words t and t + 1 (t even):
//
//     W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]
//
// with the sixteen words before it in eight registers, oldest first; every
// term is at least two words back, so a step needs none of its own words.
// W[t-15] and W[t-7] are joined from two registers by palignr; a 64-bit
// rotation is two shifts, but for s0's rotation by 8, a byte shuffle.
// Step j runs during rounds 2j - 16 and 2j - 15, and its words go to the
// frame with the round constants added, where the rounds read them with one
// memory operand.
//
// S1(e) and S0(a) take their rotations from copies, two levels deep: e is
// on the chain from one e to the next, a on the one from a to the next a.
// Folding S0's rotations into one another, ((a ror 5 ^ a) ror 6 ^ a) ror
// 28, saves a move but takes five levels, which made the a chain the
// longest and the engine some 2% slower on an Intel Emerald Rapids core.
//
// Only for ELF x86-64 (System V calls); elsewhere the portable engine does
// the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha512_blocks_avx(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count,
                                      const std::uint64_t* roundConstants) __attribute__((visibility("hidden")));
extern "C" void qor_sha512_blocks_ssse3(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count,
                                        const std::uint64_t* roundConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*   the words sha_x86_asm.h lays out (V_BLOCKS the next block, V_COUNT
//         the blocks left, this one included)
//   WK    W[t] + K[t] of the block, t = 0 to 79, at 8 t
//
// Registers while the rounds run:
//   rax, rbx, rcx, rdx, r8, r9, r10, r11   a to h, rotating through the
//            round macro's arguments
//   r12, r13   the round's temporaries; r14 and rdi b ^ c and a ^ b,
//            changing places every round
//   r15      128 i: the rounds of this pass are 16 i to 16 i + 15, and
//            they read the frame and the constants (rbp, on 16 bytes) from
//            128 i
//   xmm0-7   the last sixteen words, rotating through the step macro's
//            arguments;  xmm9-11 the step's temporaries;  xmm8 the byte
//            order shuffle, xmm12 the shuffle that rotates a word by 8
__asm__(R"ASM(
    .pushsection .rodata
    .p2align 4
.Lqor_sha512a_byteswap:
    .byte 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8
.Lqor_sha512a_ror8:
    .byte 1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8
    .popsection

    .pushsection .text
    .intel_syntax noprefix

    .equ QOR_S512A_WK, 64
    .equ QOR_S512A_FRAME, 704

# One round.  h + W + K + Ch(e, f, g) + S1(e) is T1, d + T1 the new e, and
# T1 + Maj(a, b, c) + S0(a) the new a, left in h's register.  Ch is
# ((f ^ g) & e) ^ g; Maj is ((a ^ b) & (b ^ c)) ^ b, with b ^ c the a ^ b
# of the round before.  S1(e) is e ror 14, e ror 18 and e ror 41.
.macro QOR_S512A_ROUND a, b, c, d, e, f, g, h, wk, bc, ab
    add \h, [rsp + r15 + QOR_S512A_WK + \wk]
    mov r12, \f
    xor r12, \g
    and r12, \e
    xor r12, \g
    add \h, r12
    mov r12, \e
    ror r12, 14
    mov r13, \e
    ror r13, 18
    xor r12, r13
    ror r13, 23
    xor r12, r13
    add \h, r12
    mov \ab, \a
    xor \ab, \b
    add \d, \h
    and \bc, \ab
    xor \bc, \b
    add \h, \bc
    mov r12, \a
    ror r12, 28
    mov r13, \a
    ror r13, 34
    xor r12, r13
    ror r13, 5
    xor r12, r13
    add \h, r12
.endm

# Rounds 16 i + g and 16 i + g + 1 (wk = 8 g), the variables rotated by g
# places from where a block starts them (`turn` = g mod 8).
.macro QOR_S512A_ROUNDS2 turn, wk
    .if \turn == 0
    QOR_S512A_ROUND rax, rbx, rcx, rdx, r8, r9, r10, r11, \wk, r14, rdi
    QOR_S512A_ROUND r11, rax, rbx, rcx, rdx, r8, r9, r10, \wk + 8, rdi, r14
    .elseif \turn == 2
    QOR_S512A_ROUND r10, r11, rax, rbx, rcx, rdx, r8, r9, \wk, r14, rdi
    QOR_S512A_ROUND r9, r10, r11, rax, rbx, rcx, rdx, r8, \wk + 8, rdi, r14
    .elseif \turn == 4
    QOR_S512A_ROUND r8, r9, r10, r11, rax, rbx, rcx, rdx, \wk, r14, rdi
    QOR_S512A_ROUND rdx, r8, r9, r10, r11, rax, rbx, rcx, \wk + 8, rdi, r14
    .else
    QOR_S512A_ROUND rcx, rdx, r8, r9, r10, r11, rax, rbx, \wk, r14, rdi
    QOR_S512A_ROUND rbx, rcx, rdx, r8, r9, r10, r11, rax, \wk + 8, rdi, r14
    .endif
.endm

# The step that makes the words at `at` (bytes from 128 i) out of the last
# sixteen, x0 (the oldest two, replaced by the new ones) to x7.  s0(x) is
# x ror 1, x ror 8 and x >> 7; s1(x) is x ror 19, x ror 61 and x >> 6.
.macro QOR_S512A_STEP x0, x1, x2, x3, x4, x5, x6, x7, at
    QOR_SHAV_V3 palignr, xmm9, \x1, \x0, 8
    QOR_SHAV_V3 psrlq, xmm10, xmm9, 1
    QOR_SHAV_V3 psllq, xmm11, xmm9, 63
    QOR_SHAV_V3 pxor, xmm10, xmm10, xmm11
    QOR_SHAV_V3 pshufb, xmm11, xmm9, xmm12
    QOR_SHAV_V3 pxor, xmm10, xmm10, xmm11
    QOR_SHAV_V3 psrlq, xmm9, xmm9, 7
    QOR_SHAV_V3 pxor, xmm9, xmm9, xmm10
    QOR_SHAV_V3 paddq, \x0, \x0, xmm9
    QOR_SHAV_V3 palignr, xmm9, \x5, \x4, 8
    QOR_SHAV_V3 paddq, \x0, \x0, xmm9
    QOR_SHAV_V3 psrlq, xmm10, \x7, 19
    QOR_SHAV_V3 psllq, xmm11, \x7, 45
    QOR_SHAV_V3 pxor, xmm10, xmm10, xmm11
    QOR_SHAV_V3 psrlq, xmm11, \x7, 61
    QOR_SHAV_V3 pxor, xmm10, xmm10, xmm11
    QOR_SHAV_V3 psllq, xmm11, \x7, 3
    QOR_SHAV_V3 pxor, xmm10, xmm10, xmm11
    QOR_SHAV_V3 psrlq, xmm11, \x7, 6
    QOR_SHAV_V3 pxor, xmm10, xmm10, xmm11
    QOR_SHAV_V3 paddq, \x0, \x0, xmm10
    QOR_SHAV_V3 paddq, xmm9, \x0, [rbp+r15+\at]
    QOR_SHAV_V movdqa, [rsp+r15+QOR_S512A_WK+\at], xmm9
.endm

# Words 2j and 2j + 1 of the block (rsi) as they are, turned from
# big-endian, into x.
.macro QOR_S512A_LOAD x, j
    QOR_SHAV_V movdqu, \x, [rsi+16*\j]
    QOR_SHAV_V3 pshufb, \x, \x, xmm8
    QOR_SHAV_V3 paddq, xmm9, \x, [rbp+16*\j]
    QOR_SHAV_V movdqa, [rsp+QOR_S512A_WK+16*\j], xmm9
.endm

# Sixteen rounds, with the eight steps of the words sixteen places on when
# `steps` is 1.
.macro QOR_S512A_STEP_AT steps, regs:vararg
    .if \steps
    QOR_S512A_STEP \regs
    .endif
.endm
.macro QOR_S512A_PASS steps
    QOR_S512A_ROUNDS2 0, 0
    QOR_S512A_STEP_AT \steps, xmm0, xmm1, xmm2, xmm3, xmm4, xmm5, xmm6, xmm7, 128
    QOR_S512A_ROUNDS2 2, 16
    QOR_S512A_STEP_AT \steps, xmm1, xmm2, xmm3, xmm4, xmm5, xmm6, xmm7, xmm0, 144
    QOR_S512A_ROUNDS2 4, 32
    QOR_S512A_STEP_AT \steps, xmm2, xmm3, xmm4, xmm5, xmm6, xmm7, xmm0, xmm1, 160
    QOR_S512A_ROUNDS2 6, 48
    QOR_S512A_STEP_AT \steps, xmm3, xmm4, xmm5, xmm6, xmm7, xmm0, xmm1, xmm2, 176
    QOR_S512A_ROUNDS2 0, 64
    QOR_S512A_STEP_AT \steps, xmm4, xmm5, xmm6, xmm7, xmm0, xmm1, xmm2, xmm3, 192
    QOR_S512A_ROUNDS2 2, 80
    QOR_S512A_STEP_AT \steps, xmm5, xmm6, xmm7, xmm0, xmm1, xmm2, xmm3, xmm4, 208
    QOR_S512A_ROUNDS2 4, 96
    QOR_S512A_STEP_AT \steps, xmm6, xmm7, xmm0, xmm1, xmm2, xmm3, xmm4, xmm5, 224
    QOR_S512A_ROUNDS2 6, 112
    QOR_S512A_STEP_AT \steps, xmm7, xmm0, xmm1, xmm2, xmm3, xmm4, xmm5, xmm6, 240
.endm

# The engine `name`, in the encoding qor_shav_vex chooses.
.macro QOR_S512A_ENGINE name
    QOR_SHAV_ENTER \name, QOR_S512A_FRAME, .L\name\()_return
    QOR_SHAV_V movdqa, xmm8, [rip+.Lqor_sha512a_byteswap]
    QOR_SHAV_V movdqa, xmm12, [rip+.Lqor_sha512a_ror8]
    QOR_SHAV_LOAD_STATE rsi, 8, rax, rbx, rcx, rdx, r8, r9, r10, r11

.L\name\()_block:
    mov rsi, [rsp + QOR_SHAV_V_BLOCKS]
    QOR_SHA_PREFETCH rsi, 2
    QOR_S512A_LOAD xmm0, 0
    QOR_S512A_LOAD xmm1, 1
    QOR_S512A_LOAD xmm2, 2
    QOR_S512A_LOAD xmm3, 3
    QOR_S512A_LOAD xmm4, 4
    QOR_S512A_LOAD xmm5, 5
    QOR_S512A_LOAD xmm6, 6
    QOR_S512A_LOAD xmm7, 7
    sub rsi, -128
    mov [rsp + QOR_SHAV_V_BLOCKS], rsi
    xor r15d, r15d
    mov r14, rbx
    xor r14, rcx

    # Rounds 0 to 63, with the steps of words 16 to 79.
    .p2align 5
.L\name\()_steps:
    QOR_S512A_PASS 1
    sub r15, -128
    cmp r15d, 512
    jne .L\name\()_steps

    # Rounds 64 to 79.
    QOR_S512A_PASS 0
    QOR_SHAV_ADD_STATE rsi, 8, rax, rbx, rcx, rdx, r8, r9, r10, r11
    dec qword ptr [rsp + QOR_SHAV_V_COUNT]
    jnz .L\name\()_block

    QOR_SHAV_LEAVE \name, .L\name\()_return, qor_shav_vex
.endm

    .set qor_shav_vex, 1
    QOR_S512A_ENGINE qor_sha512_blocks_avx
    .set qor_shav_vex, 0
    QOR_S512A_ENGINE qor_sha512_blocks_ssse3

    .att_syntax prefix
    .popsection
)ASM");

namespace {

void sha512BlocksAvx(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha512_blocks_avx(state, blocks, count, qor_sha::sha512RoundConstants.data());
}

void sha512BlocksSsse3(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha512_blocks_ssse3(state, blocks, count, qor_sha::sha512RoundConstants.data());
}

}  // namespace

namespace qor_sha {

BlockEngine64 sha512AvxEngine() {
    static const BlockEngine64 engine = qor_sha_x86::hasAvx() ? &sha512BlocksAvx : nullptr;
    return engine;
}

BlockEngine64 sha512Ssse3Engine() {
    static const BlockEngine64 engine = qor_sha_x86::hasSsse3() ? &sha512BlocksSsse3 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine64 sha512AvxEngine() { return nullptr; }
BlockEngine64 sha512Ssse3Engine() { return nullptr; }

}  // namespace qor_sha

#endif
