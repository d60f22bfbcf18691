// The SHA-1 block engine for x86-64 processors with AVX2, BMI and BMI2 but
// without the SHA extensions, built like the SHA-512 one (sha512_x86.cpp):
// scalar rounds with rorx and andn, and the message of two blocks at a time
// expanded with AVX2, four words of each in one 256-bit register (block x in
// the low lane, block y in the high one), stored with the round constants
// added so that a round reads its W + K with one memory operand.
//
// A step makes words t to t + 3 (t a multiple of 4) of both blocks.  The
// first four steps after the loaded words use the definition,
//
//     W[t] = rol1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]),
//
// where W[t+3] needs W[t] of the same step: the step is taken with 0 in its
// place and rol1(W[t]) xor-ed into the last word afterwards.  From word 32
// on the same recurrence applied to itself twice gives
//
//     W[t] = rol2(W[t-6] ^ W[t-16] ^ W[t-28] ^ W[t-32]),
//
// whose terms are all at least six words back: a step of four words then
// needs no correction.  The loads of the next pair run before the rounds of
// this pair, its sixteen steps between them, one every ten rounds.
//
// The rounds are bound by their scalar operations, and the code is written
// in assembly so that there are no more of them than the round needs.  Only
// for ELF x86-64 (System V calls); elsewhere the portable engine does the
// work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha1_blocks_avx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                     const std::uint32_t* stepConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*       the words sha_x86_asm.h lays out
//   WK0, WK1  W + K of two pairs of blocks: the words of step j (words 4j
//             to 4j + 3 of block x, then of block y) at 32 j; the rounds
//             read block x's W[t] + K at 32 (t / 4) + 4 (t % 4), block y's
//             16 bytes further
//   WS        the expanded words of the pair in the making, without K,
//             step j at 32 j
//
// Registers while the rounds run:
//   eax, ebx, ecx, edx, r8d   a to e, rotating through the round macro's
//            arguments; r9d, r10d the round's temporaries
//   rsi      this block's W + K
//   r14      32 j, j the next expansion step;  r15 the W + K buffer being
//            filled;  rbp the round constants by step, eight copies each
//   ymm9-11  the expansion's temporaries; ymm15 the last expanded group;
//            ymm14 the byte order shuffle
__asm__(R"ASM(
    .pushsection .rodata
    .p2align 5
.Lqor_sha1v_byteswap:
    .byte 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12
    .byte 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12
    .popsection

    .pushsection .text
    .intel_syntax noprefix

    .equ QOR_S1V_WK0, 64
    .equ QOR_S1V_WK1, 704
    .equ QOR_S1V_WS, 1344
    .equ QOR_S1V_FRAME, 1984

# Rounds 0-19: e += W + K + Ch(b, c, d) + rol5(a), b = rol30(b).  Ch is
# (b & c) + (~b & d), the two halves having no bit in common.  The rounds'
# chain runs from a to the next a, and rol5(a) is added last: everything
# else (W + K, and the function of b, c and d, which are older) is in e by
# the time a arrives, and a round then waits two operations on the last.
.macro QOR_S1V_CH a, b, c, d, e, wk
    add \e, [rsi + \wk]
    andn r10d, \b, \d
    mov r9d, \c
    and r9d, \b
    add \e, r10d
    rorx r10d, \a, 27
    add \e, r9d
    rorx \b, \b, 2
    add \e, r10d
.endm

# Rounds 20-39 and 60-79: the parity b ^ c ^ d.
.macro QOR_S1V_PARITY a, b, c, d, e, wk
    add \e, [rsi + \wk]
    mov r9d, \d
    xor r9d, \c
    xor r9d, \b
    add \e, r9d
    rorx r10d, \a, 27
    rorx \b, \b, 2
    add \e, r10d
.endm

# Rounds 40-59: Maj(b, c, d), which is Ch(c ^ d, b, d): where c and d agree
# they are the majority, elsewhere b is.
.macro QOR_S1V_MAJ a, b, c, d, e, wk
    add \e, [rsi + \wk]
    mov r9d, \c
    xor r9d, \d
    andn r10d, r9d, \d
    and r9d, \b
    add \e, r10d
    rorx r10d, \a, 27
    add \e, r9d
    rorx \b, \b, 2
    add \e, r10d
.endm

# Rounds t..t+4 of one kind, the variables where a block starts them;
# word t's W + K is at 32 (t / 4) + 4 (t % 4) from rsi.
.macro QOR_S1V_ROUNDS5 kind, t
    QOR_S1V_\kind eax, ebx, ecx, edx, r8d, ((((\t) >> 2) << 5) + (((\t) & 3) << 2))
    QOR_S1V_\kind r8d, eax, ebx, ecx, edx, ((((\t + 1) >> 2) << 5) + (((\t + 1) & 3) << 2))
    QOR_S1V_\kind edx, r8d, eax, ebx, ecx, ((((\t + 2) >> 2) << 5) + (((\t + 2) & 3) << 2))
    QOR_S1V_\kind ecx, edx, r8d, eax, ebx, ((((\t + 3) >> 2) << 5) + (((\t + 3) & 3) << 2))
    QOR_S1V_\kind ebx, ecx, edx, r8d, eax, ((((\t + 4) >> 2) << 5) + (((\t + 4) & 3) << 2))
.endm

# Steps 0 to 3: the sixteen words of block x (r12) and block y (r13) as
# they are, turned from big-endian.
.macro QOR_S1V_LOAD j
    vmovdqu xmm15, [r12 + 16*\j]
    vinserti128 ymm15, ymm15, [r13 + 16*\j], 1
    vpshufb ymm15, ymm15, ymm14
    vmovdqa [rsp + QOR_S1V_WS + 32*\j], ymm15
    vpaddd ymm9, ymm15, [rbp + 32*\j]
    vmovdqa [r15 + 32*\j], ymm9
.endm

# Steps 4 to 7 (r14 = 32 j) by the definition.  vpalignr joins the upper
# half of one group with the lower half of the next, lane by lane: words
# t - 14 to t - 11; vpsrldq gives t - 3 to t - 1 and 0.
.macro QOR_S1V_STEP_FIRST
    vmovdqa ymm9, [rsp + r14 + QOR_S1V_WS - 3*32]
    vpalignr ymm9, ymm9, [rsp + r14 + QOR_S1V_WS - 4*32], 8
    vpxor ymm9, ymm9, [rsp + r14 + QOR_S1V_WS - 4*32]
    vpxor ymm9, ymm9, [rsp + r14 + QOR_S1V_WS - 2*32]
    vpsrldq ymm10, ymm15, 4
    vpxor ymm9, ymm9, ymm10
    vpsrld ymm10, ymm9, 31
    vpaddd ymm9, ymm9, ymm9
    vpor ymm9, ymm9, ymm10
    vpslldq ymm10, ymm9, 12
    vpsrld ymm11, ymm10, 31
    vpaddd ymm10, ymm10, ymm10
    vpor ymm10, ymm10, ymm11
    vpxor ymm15, ymm9, ymm10
    vmovdqa [rsp + r14 + QOR_S1V_WS], ymm15
    vpaddd ymm9, ymm15, [rbp + r14]
    vmovdqa [r15 + r14], ymm9
    add r14, 32
.endm

# Steps 8 to 19 by the recurrence from word 32 on: words t - 6 to t - 3 are
# the upper half of group j - 2 and the lower half of group j - 1 (ymm15).
.macro QOR_S1V_STEP
    vpalignr ymm9, ymm15, [rsp + r14 + QOR_S1V_WS - 2*32], 8
    vpxor ymm9, ymm9, [rsp + r14 + QOR_S1V_WS - 4*32]
    vpxor ymm9, ymm9, [rsp + r14 + QOR_S1V_WS - 7*32]
    vpxor ymm9, ymm9, [rsp + r14 + QOR_S1V_WS - 8*32]
    vpsrld ymm10, ymm9, 30
    vpslld ymm9, ymm9, 2
    vpor ymm15, ymm9, ymm10
    vmovdqa [rsp + r14 + QOR_S1V_WS], ymm15
    vpaddd ymm9, ymm15, [rbp + r14]
    vmovdqa [r15 + r14], ymm9
    add r14, 32
.endm

# The loads of a pair, r15 its W + K buffer; leaves r14 at step 4.
.macro QOR_S1V_BEGIN_PAIR
    QOR_S1V_LOAD 0
    QOR_S1V_LOAD 1
    QOR_S1V_LOAD 2
    QOR_S1V_LOAD 3
    mov r14d, 128
.endm

# The 80 rounds of one block (rsi at its W + K), with a step of the next
# pair's expansion after every ten rounds from round 5 on: none (`steps`
# 0), the four first steps and four others (1, block x) or eight others
# (2, block y).
.macro QOR_S1V_STEP_AT steps, slot
    .if (\steps == 1) && (\slot < 4)
    QOR_S1V_STEP_FIRST
    .elseif \steps
    QOR_S1V_STEP
    .endif
.endm
.macro QOR_S1V_BLOCK steps
    QOR_S1V_ROUNDS5 CH, 0
    QOR_S1V_STEP_AT \steps, 0
    QOR_S1V_ROUNDS5 CH, 5
    QOR_S1V_ROUNDS5 CH, 10
    QOR_S1V_STEP_AT \steps, 1
    QOR_S1V_ROUNDS5 CH, 15
    QOR_S1V_ROUNDS5 PARITY, 20
    QOR_S1V_STEP_AT \steps, 2
    QOR_S1V_ROUNDS5 PARITY, 25
    QOR_S1V_ROUNDS5 PARITY, 30
    QOR_S1V_STEP_AT \steps, 3
    QOR_S1V_ROUNDS5 PARITY, 35
    QOR_S1V_ROUNDS5 MAJ, 40
    QOR_S1V_STEP_AT \steps, 4
    QOR_S1V_ROUNDS5 MAJ, 45
    QOR_S1V_ROUNDS5 MAJ, 50
    QOR_S1V_STEP_AT \steps, 5
    QOR_S1V_ROUNDS5 MAJ, 55
    QOR_S1V_ROUNDS5 PARITY, 60
    QOR_S1V_STEP_AT \steps, 6
    QOR_S1V_ROUNDS5 PARITY, 65
    QOR_S1V_ROUNDS5 PARITY, 70
    QOR_S1V_STEP_AT \steps, 7
    QOR_S1V_ROUNDS5 PARITY, 75
.endm



    QOR_SHAV_ENTER qor_sha1_blocks_avx2, QOR_S1V_FRAME, .Lqor_s1v_return
    vmovdqa ymm14, [rip + .Lqor_sha1v_byteswap]

    # The first pair is expanded before any round.
    QOR_SHAV_TAKE_PAIR 6, r12, r13, rdi, r11
    lea r15, [rsp + QOR_S1V_WK0]
    QOR_S1V_BEGIN_PAIR
    QOR_S1V_STEP_FIRST
    QOR_S1V_STEP_FIRST
    QOR_S1V_STEP_FIRST
    QOR_S1V_STEP_FIRST
.Lqor_s1v_first_steps:
    QOR_S1V_STEP
    cmp r14d, 640
    jne .Lqor_s1v_first_steps
    lea rsi, [rsp + QOR_S1V_WK0]
    lea r15, [rsp + QOR_S1V_WK1]

    QOR_SHAV_LOAD_STATE r11, 4, eax, ebx, ecx, edx, r8d

.Lqor_s1v_pair:
    # rsi: this pair's W + K (expanded); r15: the other buffer.
    cmp qword ptr [rsp + QOR_SHAV_V_COUNT], 0
    je .Lqor_s1v_last_pair
    # A pair of blocks, and more after them: the next pair is loaded now,
    # and its steps run between the rounds of both blocks.  (Its first four
    # steps all at once here, before the rounds, cost a tenth: the rounds
    # wait while they go through the front of the processor.)
    QOR_SHAV_TAKE_PAIR 6, r12, r13, rdi, r11
    QOR_S1V_BEGIN_PAIR
    QOR_S1V_BLOCK 1
    QOR_SHAV_ADD_STATE r11, 4, eax, ebx, ecx, edx, r8d
    add rsi, 16
    QOR_S1V_BLOCK 2
    QOR_SHAV_ADD_STATE r11, 4, eax, ebx, ecx, edx, r8d
    add rsi, 16
    # The buffers change places.
    lea r11, [rsi - 32]
    mov rsi, r15
    mov r15, r11
    jmp .Lqor_s1v_pair

.Lqor_s1v_last_pair:
    # The last one or two blocks, nothing left to expand.
    .p2align 5
.Lqor_s1v_last_block:
    QOR_S1V_BLOCK 0
    QOR_SHAV_ADD_STATE r11, 4, eax, ebx, ecx, edx, r8d
    add rsi, 16
    dec qword ptr [rsp + QOR_SHAV_V_PAIR]
    jnz .Lqor_s1v_last_block

    QOR_SHAV_LEAVE qor_sha1_blocks_avx2, .Lqor_s1v_return

    .att_syntax prefix
    .popsection
)ASM");

namespace {

// The round constant of each step's four words (words 0-19, 20-39, 40-59
// and 60-79 have one each), once for every word of both blocks.
struct sStepConstants {
    alignas(64) std::uint32_t k[160];
};

const std::uint32_t* stepConstants() {
    static const sStepConstants table = [] {
        constexpr std::uint32_t kRound[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};
        sStepConstants t{};
        for (int j = 0; j < 20; ++j)
            for (int i = 0; i < 8; ++i) t.k[8 * j + i] = kRound[4 * j / 20];
        return t;
    }();
    return table.k;
}

void sha1BlocksAvx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha1_blocks_avx2(state, blocks, count, stepConstants());
}

}  // namespace

namespace qor_sha {

BlockEngine32 sha1VectorEngine() {
    static const BlockEngine32 engine = qor_sha_x86::hasAvx2AndBmi() ? &sha1BlocksAvx2 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha1VectorEngine() { return nullptr; }

}  // namespace qor_sha

#endif
