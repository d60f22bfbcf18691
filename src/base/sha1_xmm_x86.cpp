// The SHA-1 block engines for x86-64 processors with AVX, or with SSSE3,
// but without AVX2 and BMI2 (nor the SHA extensions), built like the AVX2
// one (sha1_x86.cpp) for one block at a time: scalar rounds with plain
// rotations, and the message of the next block expanded with 128-bit
// vectors, four words in a register, while the rounds of this one run,
// stored with the round constants added so that a round reads its W + K
// with one memory operand.  One text makes both engines, in VEX encoding
// for AVX and in SSE encoding for SSSE3 (sha_x86_asm.h).
//
// A step makes words t to t + 3 (t a multiple of 4).  The first four steps
// after the loaded words use the definition,
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
// needs no correction.  The loads of the next block run before the rounds
// of this one, its sixteen steps among them, each spread over five rounds
// (sha_x86_asm.h, QOR_SHAV_STEP_BEGIN: 1% faster than whole steps).  The
// last eight groups of four words stay in registers, which the steps take
// in turn, so that a step neither stores its words for the steps after it
// nor reads them back.
//
// Only for ELF x86-64 (System V calls); elsewhere the portable engine does
// the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha1_blocks_avx(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                    const std::uint32_t* stepConstants) __attribute__((visibility("hidden")));
extern "C" void qor_sha1_blocks_ssse3(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                      const std::uint32_t* stepConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*       the words sha_x86_asm.h lays out (V_BLOCKS the next block not
//             yet taken, V_COUNT the blocks not yet taken)
//   WK0, WK1  W + K of two blocks, word t at 4 t
//
// Registers while the rounds run:
//   eax, ebx, ecx, edx, r8d   a to e, rotating through the round macro's
//            arguments (a rotated left by 5 once its round has added
//            it); r11d, r13d the copies of b, taking turns; r9d the
//            round's temporary
//   rsi      this block's W + K;  r12 the block being expanded;  r15 the
//            W + K buffer being filled;  rbp the round constants by step,
//            four copies each
//   xmm0-7   the words of the block being expanded, group j (words 4 j to
//            4 j + 3) in xmm(j mod 8) until group j + 8 takes its place
//   xmm9-11  the expansion's temporaries;  xmm14 the byte order shuffle
__asm__(R"ASM(
    .pushsection .rodata
    .p2align 4
.Lqor_sha1a_byteswap:
    .byte 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12
    .popsection

    .pushsection .text
    .intel_syntax noprefix

    .equ QOR_S1A_WK0, 64
    .equ QOR_S1A_WK1, 384
    .equ QOR_S1A_FRAME, 704

# The rounds keep a in its register rotated left by 5 where the round adds
# it (rol5(a) is then had without a copy), so b comes to a round as rol5(b)
# and turns into the next c by a rotation right by 7 instead of 2, but for
# the first round of a block, where b is as the state has it (`rb` 2).  b
# as it is, which the round function needs, is a copy the round before took
# of its a: `t0` here, and this round's copy of a goes to `t1` (the two
# take turns).  The chain from a to the next a is rol5(a) and one add:
# everything else (W + K, and the function of b, c and d, which are older)
# is in e by the time a arrives.
#
# After every fourth instruction of a round, the next of the pending
# group's (QOR_S1A_PART).
#
# Rounds 0-19: Ch is ((c ^ d) & b) ^ d.
.macro QOR_S1A_CH a, b, c, d, e, wk, t0, t1, rb
    add \e, [rsi + \wk]
    mov r9d, \c
    xor r9d, \d
    and r9d, \t0
    QOR_S1A_PART
    xor r9d, \d
    mov \t1, \a
    rol \a, 5
    add \e, r9d
    QOR_S1A_PART
    ror \b, \rb
    add \e, \a
.endm

# Rounds 20-39 and 60-79: the parity b ^ c ^ d, made in the copy of b.
.macro QOR_S1A_PARITY a, b, c, d, e, wk, t0, t1, rb
    add \e, [rsi + \wk]
    xor \t0, \c
    xor \t0, \d
    mov \t1, \a
    QOR_S1A_PART
    rol \a, 5
    add \e, \t0
    ror \b, \rb
    add \e, \a
    QOR_S1A_PART
.endm

# Rounds 40-59: Maj(b, c, d), which is (b & c) + ((b ^ c) & d): where b and
# c agree they are the majority, elsewhere d is, and the two halves have no
# bit in common.
.macro QOR_S1A_MAJ a, b, c, d, e, wk, t0, t1, rb
    add \e, [rsi + \wk]
    mov r9d, \t0
    and \t0, \c
    xor r9d, \c
    QOR_S1A_PART
    add \e, \t0
    and r9d, \d
    mov \t1, \a
    rol \a, 5
    QOR_S1A_PART
    add \e, r9d
    ror \b, \rb
    add \e, \a
.endm

# Rounds t..t+4 of one kind, the variables where a block starts them; the
# copy of b in `t0` at the first of them.
.macro QOR_S1A_ROUNDS5 kind, t, t0, t1
    .if \t
    QOR_S1A_\kind eax, ebx, ecx, edx, r8d, 4*(\t), \t0, \t1, 7
    .else
    QOR_S1A_\kind eax, ebx, ecx, edx, r8d, 4*(\t), \t0, \t1, 2
    .endif
    QOR_S1A_\kind r8d, eax, ebx, ecx, edx, 4*(\t + 1), \t1, \t0, 7
    QOR_S1A_\kind edx, r8d, eax, ebx, ecx, 4*(\t + 2), \t0, \t1, 7
    QOR_S1A_\kind ecx, edx, r8d, eax, ebx, 4*(\t + 3), \t1, \t0, 7
    QOR_S1A_\kind ebx, ecx, edx, r8d, eax, 4*(\t + 4), \t0, \t1, 7
.endm

# Groups 0 to 3: the sixteen words of the block (r12) as they are, turned
# from big-endian, into x.
.macro QOR_S1A_LOAD j, x
    QOR_SHAV_V movdqu, \x, [r12+16*\j]
    QOR_SHAV_V3 pshufb, \x, \x, xmm14
    QOR_SHAV_V3 paddd, xmm9, \x, [rbp+16*\j]
    QOR_SHAV_V movdqa, [r15+16*\j], xmm9
.endm

# Groups 4 to 7 by the definition, into x8 out of x4 to x1 (groups j - 4
# to j - 1; see QOR_SHAV_RING8).  palignr joins the upper half of group
# j - 4 with the lower half of group j - 3: words t - 14 to t - 11; psrldq
# gives t - 3 to t - 1 and 0.  The last word's correction is made from the
# first word, moved up.
.macro QOR_S1A_FIRST j, x8, x7, x6, x5, x4, x3, x2, x1
    QOR_SHAV_AT 0, QOR_SHAV_V3 palignr, xmm9, \x3, \x4, 8
    QOR_SHAV_AT 1, QOR_SHAV_V3 pxor, xmm9, xmm9, \x4
    QOR_SHAV_AT 2, QOR_SHAV_V3 pxor, xmm9, xmm9, \x2
    QOR_SHAV_AT 3, QOR_SHAV_V3 psrldq, xmm10, \x1, 4
    QOR_SHAV_AT 4, QOR_SHAV_V3 pxor, xmm9, xmm9, xmm10
    QOR_SHAV_AT 5, QOR_SHAV_V3 psrld, xmm10, xmm9, 31
    QOR_SHAV_AT 6, QOR_SHAV_V3 paddd, xmm9, xmm9, xmm9
    QOR_SHAV_AT 7, QOR_SHAV_V3 por, xmm9, xmm9, xmm10
    QOR_SHAV_AT 8, QOR_SHAV_V3 pslldq, xmm10, xmm9, 12
    QOR_SHAV_AT 9, QOR_SHAV_V3 psrld, xmm11, xmm10, 31
    QOR_SHAV_AT 10, QOR_SHAV_V3 paddd, xmm10, xmm10, xmm10
    QOR_SHAV_AT 11, QOR_SHAV_V3 por, xmm10, xmm10, xmm11
    QOR_SHAV_AT 12, QOR_SHAV_V3 pxor, \x8, xmm9, xmm10
    QOR_SHAV_AT 13, QOR_SHAV_V3 paddd, xmm9, \x8, [rbp+16*(\j)]
    QOR_SHAV_AT 14, QOR_SHAV_V movdqa, [r15+16*(\j)], xmm9
.endm
    .equ QOR_S1A_FIRST_LENGTH, 15

# Groups 8 to 19 by the recurrence from word 32 on, into x8 (which holds
# group j - 8 until then) out of x7, x4, x2 and x1 (groups j - 7, j - 4,
# j - 2 and j - 1):
# words t - 6 to t - 3 are the upper half of group j - 2 and the lower half
# of group j - 1.
.macro QOR_S1A_STEP j, x8, x7, x6, x5, x4, x3, x2, x1
    QOR_SHAV_AT 0, QOR_SHAV_V3 palignr, xmm9, \x1, \x2, 8
    QOR_SHAV_AT 1, QOR_SHAV_V3 pxor, xmm9, xmm9, \x4
    QOR_SHAV_AT 2, QOR_SHAV_V3 pxor, xmm9, xmm9, \x7
    QOR_SHAV_AT 3, QOR_SHAV_V3 pxor, \x8, \x8, xmm9
    QOR_SHAV_AT 4, QOR_SHAV_V3 psrld, xmm9, \x8, 30
    QOR_SHAV_AT 5, QOR_SHAV_V3 pslld, \x8, \x8, 2
    QOR_SHAV_AT 6, QOR_SHAV_V3 por, \x8, \x8, xmm9
    QOR_SHAV_AT 7, QOR_SHAV_V3 paddd, xmm9, \x8, [rbp+16*(\j)]
    QOR_SHAV_AT 8, QOR_SHAV_V movdqa, [r15+16*(\j)], xmm9
.endm
    .equ QOR_S1A_STEP_LENGTH, 9

# Group j (4 to 19), of either kind, begun for the rounds after it to write
# in parts (QOR_S1A_PART) and ended (the rest of it), or whole.
.macro QOR_S1A_GROUP_PARTS j, x8, x7, x6, x5, x4, x3, x2, x1
    .if (\j) < 8
    QOR_S1A_FIRST \j, \x8, \x7, \x6, \x5, \x4, \x3, \x2, \x1
    .else
    QOR_S1A_STEP \j, \x8, \x7, \x6, \x5, \x4, \x3, \x2, \x1
    .endif
.endm
.macro QOR_S1A_GROUP_BEGIN j
    .if (\j) < 8
    QOR_SHAV_STEP_BEGIN \j, QOR_S1A_FIRST_LENGTH
    .else
    QOR_SHAV_STEP_BEGIN \j, QOR_S1A_STEP_LENGTH
    .endif
.endm
.macro QOR_S1A_PART
    QOR_SHAV_PART QOR_S1A_GROUP_PARTS, xmm
.endm
.macro QOR_S1A_GROUP_END
    QOR_SHAV_STEP_END QOR_S1A_GROUP_PARTS, xmm
.endm
.macro QOR_S1A_GROUP j
    QOR_S1A_GROUP_BEGIN \j
    QOR_S1A_GROUP_END
.endm

# Takes the next block (into r12) and loads its groups 0 to 3.
.macro QOR_S1A_BEGIN_BLOCK
    mov r12, [rsp + QOR_SHAV_V_BLOCKS]
    QOR_SHA_PREFETCH r12
    lea r9, [r12 + 64]
    mov [rsp + QOR_SHAV_V_BLOCKS], r9
    dec qword ptr [rsp + QOR_SHAV_V_COUNT]
    QOR_S1A_LOAD 0, xmm0
    QOR_S1A_LOAD 1, xmm1
    QOR_S1A_LOAD 2, xmm2
    QOR_S1A_LOAD 3, xmm3
.endm

# The 80 rounds of one block (rsi at its W + K), with a group of the next
# block's expansion spread over every five rounds when `steps` is 1.
.macro QOR_S1A_BLOCK steps
    mov r13d, ebx
    .set qor_s1a_slot, 0
    .irp kind, CH, CH, CH, CH, PARITY, PARITY, PARITY, PARITY, MAJ, MAJ, MAJ, MAJ, PARITY, PARITY, PARITY, PARITY
    .if \steps
    QOR_S1A_GROUP_BEGIN qor_s1a_slot+4
    .endif
    .if qor_s1a_slot & 1
    QOR_S1A_ROUNDS5 \kind, 5*qor_s1a_slot, r11d, r13d
    .else
    QOR_S1A_ROUNDS5 \kind, 5*qor_s1a_slot, r13d, r11d
    .endif
    QOR_S1A_GROUP_END
    .set qor_s1a_slot, qor_s1a_slot + 1
    .endr
    # b as the state has it.
    ror ebx, 5
.endm


# The engine `name`, in the encoding qor_shav_vex chooses.
.macro QOR_S1A_ENGINE name
    QOR_SHAV_ENTER \name, QOR_S1A_FRAME, .L\name\()_return
    QOR_SHAV_V movdqa, xmm14, [rip+.Lqor_sha1a_byteswap]

    # The first block is expanded before any round.
    lea r15, [rsp + QOR_S1A_WK0]
    QOR_S1A_BEGIN_BLOCK
    .irp j, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19
    QOR_S1A_GROUP \j
    .endr
    lea rsi, [rsp + QOR_S1A_WK0]
    lea r15, [rsp + QOR_S1A_WK1]

    QOR_SHAV_LOAD_STATE r11, 4, eax, ebx, ecx, edx, r8d

.L\name\()_block:
    # rsi: this block's W + K (expanded); r15: the other buffer.
    cmp qword ptr [rsp + QOR_SHAV_V_COUNT], 0
    je .L\name\()_last_block
    QOR_S1A_BEGIN_BLOCK
    QOR_S1A_BLOCK 1
    QOR_SHAV_ADD_STATE r11, 4, eax, ebx, ecx, edx, r8d
    # The buffers change places.
    xchg rsi, r15
    jmp .L\name\()_block

.L\name\()_last_block:
    QOR_S1A_BLOCK 0
    QOR_SHAV_ADD_STATE r11, 4, eax, ebx, ecx, edx, r8d

    QOR_SHAV_LEAVE \name, .L\name\()_return, qor_shav_vex
.endm

    .set qor_shav_vex, 1
    QOR_S1A_ENGINE qor_sha1_blocks_avx
    .set qor_shav_vex, 0
    QOR_S1A_ENGINE qor_sha1_blocks_ssse3

    .att_syntax prefix
    .popsection
)ASM");

namespace {

// The round constant of each step's four words (words 0-19, 20-39, 40-59
// and 60-79 have one each), once for every word.
struct sStepConstants {
    alignas(64) std::uint32_t k[80];
};

const std::uint32_t* stepConstants() {
    static const sStepConstants table = [] {
        constexpr std::uint32_t kRound[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};
        sStepConstants t{};
        for (int i = 0; i < 80; ++i) t.k[i] = kRound[i / 20];
        return t;
    }();
    return table.k;
}

void sha1BlocksAvx(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha1_blocks_avx(state, blocks, count, stepConstants());
}

void sha1BlocksSsse3(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha1_blocks_ssse3(state, blocks, count, stepConstants());
}

}  // namespace

namespace qor_sha {

BlockEngine32 sha1AvxEngine() {
    static const BlockEngine32 engine = qor_sha_x86::hasAvx() ? &sha1BlocksAvx : nullptr;
    return engine;
}

BlockEngine32 sha1Ssse3Engine() {
    static const BlockEngine32 engine = qor_sha_x86::hasSsse3() ? &sha1BlocksSsse3 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha1AvxEngine() { return nullptr; }
BlockEngine32 sha1Ssse3Engine() { return nullptr; }

}  // namespace qor_sha

#endif
