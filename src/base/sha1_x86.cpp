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
// this pair, its sixteen steps between them, one every ten rounds; the last
// eight groups of four words stay in registers, which the steps take in
// turn.
//
// The rounds are bound by their scalar operations, and the code is written
// in assembly so that there are no more of them than the round needs.  b is
// needed by its round only: the round takes rol30(b), the next c, into a
// sixth register with rorx and then makes the function of b, c and d in
// b's own register, which saves the copy a three-operand function would
// take.  The six registers so move round by round through the roles of a
// to e and the free one, coming back every six rounds; after 80 the words
// are moved home.  Only for ELF x86-64 (System V calls); elsewhere the
// portable engine does the work.
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
//
// Registers while the rounds run:
//   eax, ebx, ecx, edx, r8d, r14d   a to e and a free one, rotating
//            through the round macro's arguments (a to e in the first five
//            when a block starts and ends); r9d, r10d the round's
//            temporaries
//   rsi      this block's W + K;  r15 the W + K buffer being filled;  rbp
//            the round constants by step, eight copies each
//   ymm0-7   the words of the pair being expanded, group j in ymm(j mod 8)
//            until group j + 8 takes its place
//   ymm9-11  the expansion's temporaries;  ymm14 the byte order shuffle
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
    .equ QOR_S1V_FRAME, 1344

# Rounds 0-19: e += W + K + Ch(b, c, d) + rol5(a), and the next c, rol30(b),
# into s.  Ch is (b & c) + (~b & d), the two halves having no bit in
# common.  The rounds' chain runs from a to the next a, and rol5(a) is added
# last: everything else (W + K, and the function of b, c and d, which are
# older) is in e by the time a arrives, and a round then waits two
# operations on the last.
.macro QOR_S1V_CH a, b, c, d, e, s, wk
    add \e, [rsi + \wk]
    andn r10d, \b, \d
    rorx \s, \b, 2
    and \b, \c
    add \e, r10d
    rorx r10d, \a, 27
    add \e, \b
    add \e, r10d
.endm

# Rounds 20-39 and 60-79: the parity b ^ c ^ d.
.macro QOR_S1V_PARITY a, b, c, d, e, s, wk
    add \e, [rsi + \wk]
    rorx \s, \b, 2
    xor \b, \c
    xor \b, \d
    add \e, \b
    rorx r10d, \a, 27
    add \e, r10d
.endm

# Rounds 40-59: Maj(b, c, d), which is (b & (c ^ d)) + (c & d): where c and
# d agree they are the majority, elsewhere b is.  c & d is taken as
# ~(c ^ d) & d.
.macro QOR_S1V_MAJ a, b, c, d, e, s, wk
    add \e, [rsi + \wk]
    mov r9d, \c
    xor r9d, \d
    rorx \s, \b, 2
    andn r10d, r9d, \d
    and \b, r9d
    add \e, r10d
    add \e, \b
    rorx r10d, \a, 27
    add \e, r10d
.endm

# Round t of a block: its kind, the registers that hold a to e and the free
# one (the new a goes to e's, the next c to the free one, and b's becomes
# free), and where its W + K is: 32 (t / 4) + 4 (t % 4) from rsi.
.macro QOR_S1V_ROUND_OF kind, t
    .if ((\t) % 6) == 0
    QOR_S1V_\kind eax, ebx, ecx, edx, r8d, r14d, ((((\t) >> 2) << 5) + (((\t) & 3) << 2))
    .elseif ((\t) % 6) == 1
    QOR_S1V_\kind r8d, eax, r14d, ecx, edx, ebx, ((((\t) >> 2) << 5) + (((\t) & 3) << 2))
    .elseif ((\t) % 6) == 2
    QOR_S1V_\kind edx, r8d, ebx, r14d, ecx, eax, ((((\t) >> 2) << 5) + (((\t) & 3) << 2))
    .elseif ((\t) % 6) == 3
    QOR_S1V_\kind ecx, edx, eax, ebx, r14d, r8d, ((((\t) >> 2) << 5) + (((\t) & 3) << 2))
    .elseif ((\t) % 6) == 4
    QOR_S1V_\kind r14d, ecx, r8d, eax, ebx, edx, ((((\t) >> 2) << 5) + (((\t) & 3) << 2))
    .else
    QOR_S1V_\kind ebx, r14d, edx, r8d, eax, ecx, ((((\t) >> 2) << 5) + (((\t) & 3) << 2))
    .endif
.endm
.macro QOR_S1V_ROUND t
    .if (\t) < 20
    QOR_S1V_ROUND_OF CH, \t
    .elseif (\t) < 40
    QOR_S1V_ROUND_OF PARITY, \t
    .elseif (\t) < 60
    QOR_S1V_ROUND_OF MAJ, \t
    .else
    QOR_S1V_ROUND_OF PARITY, \t
    .endif
.endm

# After round 79 a to e are in edx, r8d, ebx, r14d and ecx (the registers
# of round 80 % 6 = 2): they go back to the first five.
.macro QOR_S1V_HOME
    mov eax, edx
    mov edx, r14d
    mov r14d, ebx
    mov ebx, r8d
    mov r8d, ecx
    mov ecx, r14d
.endm

# Groups 0 to 3: the sixteen words of block x (r12) and block y (r13) as
# they are, turned from big-endian, into x.
.macro QOR_S1V_LOAD j, x
    vmovdqu xmm\x, [r12 + 16*\j]
    vinserti128 ymm\x, ymm\x, [r13 + 16*\j], 1
    vpshufb ymm\x, ymm\x, ymm14
    vpaddd ymm9, ymm\x, [rbp + 32*\j]
    vmovdqa [r15 + 32*\j], ymm9
.endm

# Groups 4 to 7 by the definition, into x8 out of x4 to x1 (groups j - 4
# to j - 1; see QOR_SHAV_RING8).  vpalignr joins the upper half of group
# j - 4 with the lower half of group j - 3, lane by lane: words t - 14 to
# t - 11; vpsrldq gives t - 3 to t - 1 and 0.  The last word's correction
# is made from the first word, moved up.
.macro QOR_S1V_FIRST j, x8, x7, x6, x5, x4, x3, x2, x1
    vpalignr ymm9, \x3, \x4, 8
    vpxor ymm9, ymm9, \x4
    vpxor ymm9, ymm9, \x2
    vpsrldq ymm10, \x1, 4
    vpxor ymm9, ymm9, ymm10
    vpsrld ymm10, ymm9, 31
    vpaddd ymm9, ymm9, ymm9
    vpor ymm9, ymm9, ymm10
    vpslldq ymm10, ymm9, 12
    vpsrld ymm11, ymm10, 31
    vpaddd ymm10, ymm10, ymm10
    vpor ymm10, ymm10, ymm11
    vpxor \x8, ymm9, ymm10
    vpaddd ymm9, \x8, [rbp + 32*(\j)]
    vmovdqa [r15 + 32*(\j)], ymm9
.endm

# Groups 8 to 19 by the recurrence from word 32 on, into x8 (which holds
# group j - 8 until then) out of x7, x4, x2 and x1 (groups j - 7, j - 4,
# j - 2 and j - 1):
# words t - 6 to t - 3 are the upper half of group j - 2 and the lower half
# of group j - 1.
.macro QOR_S1V_STEP j, x8, x7, x6, x5, x4, x3, x2, x1
    vpalignr ymm9, \x1, \x2, 8
    vpxor ymm9, ymm9, \x4
    vpxor ymm9, ymm9, \x7
    vpxor ymm9, ymm9, \x8
    vpsrld ymm10, ymm9, 30
    vpslld ymm9, ymm9, 2
    vpor \x8, ymm9, ymm10
    vpaddd ymm9, \x8, [rbp + 32*(\j)]
    vmovdqa [r15 + 32*(\j)], ymm9
.endm

# Group j (4 to 19) with the registers that hold its groups.
.macro QOR_S1V_GROUP j
    QOR_SHAV_SHA1_GROUP \j, QOR_S1V_FIRST, QOR_S1V_STEP, ymm
.endm

# The loads of a pair, r15 its W + K buffer.
.macro QOR_S1V_BEGIN_PAIR
    QOR_S1V_LOAD 0, 0
    QOR_S1V_LOAD 1, 1
    QOR_S1V_LOAD 2, 2
    QOR_S1V_LOAD 3, 3
.endm

# The 80 rounds of one block (rsi at its W + K), with a group of the next
# pair's expansion after every ten rounds from round 5 on: none (`steps`
# 0), groups 4 to 11 (1, block x) or 12 to 19 (2, block y).
.macro QOR_S1V_BLOCK steps
    .set qor_s1v_t, 0
    .rept 80
    QOR_S1V_ROUND qor_s1v_t
    .if (\steps != 0) && ((qor_s1v_t % 10) == 4)
    QOR_S1V_GROUP (qor_s1v_t/10)+8*\steps-4
    .endif
    .set qor_s1v_t, qor_s1v_t + 1
    .endr
    QOR_S1V_HOME
.endm

    QOR_SHAV_ENTER qor_sha1_blocks_avx2, QOR_S1V_FRAME, .Lqor_s1v_return
    vmovdqa ymm14, [rip + .Lqor_sha1v_byteswap]

    # The first pair is expanded before any round.
    QOR_SHAV_TAKE_PAIR 6, r12, r13, rdi, r11
    lea r15, [rsp + QOR_S1V_WK0]
    QOR_S1V_BEGIN_PAIR
    .irp j, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19
    QOR_S1V_GROUP \j
    .endr
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
