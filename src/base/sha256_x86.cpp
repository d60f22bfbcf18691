// The SHA-256 block engine for x86-64 processors with AVX2, BMI and BMI2 but
// without the SHA extensions, built like the SHA-512 one (sha512_x86.cpp):
// the rounds stay scalar, with BMI2's rorx and BMI's andn, and AVX2 expands
// the message of two blocks at a time, four words of each in one 256-bit
// register (block x in the low lane, block y in the high one), while the
// rounds of the two blocks before run.
//
// A step makes words t to t + 3 (t a multiple of 4) of both blocks:
//
//     W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]
//
// W[t-16], W[t-15], W[t-7] are whole words of earlier steps, joined by
// alignr; s1 needs W[t-2] and W[t-1] for the first two words and the step's
// own first two words for the last two, so it is taken twice, on two words
// each time.  For those two words each is doubled into a 64-bit lane, where
// a 64-bit shift right is a 32-bit rotation of its low half.
//
// The rounds are bound by their scalar operations, and the code is written
// in assembly so that there are no more of them than the round needs (22
// and two moves).  Only for ELF x86-64 (System V calls); elsewhere the
// portable engine does the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha256_blocks_avx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                       const std::uint32_t* stepConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*       the words sha_x86_asm.h lays out
//   WK0, WK1  W + K of two pairs of blocks: the words of step j (words 4j
//             to 4j + 3 of block x, then of block y) at 32 j; the rounds
//             read block x's W[t] + K[t] at 32 (t / 4) + 4 (t % 4), block
//             y's 16 bytes further
//   WS        the expanded words of the pair in the making, without K,
//             step j at 32 j
//
// Registers while the rounds run:
//   eax, ebx, ecx, edx, r8d, r9d, r10d, r11d   a to h, rotating through
//            the round macro's arguments
//   r12d     the round's temporary; r13d and edi b ^ c and a ^ b, changing
//            places every round
//   rsi      this block's W + K (advances 8 rounds at a time)
//   r14      32 j, j the next expansion step;  r15 the W + K buffer being
//            filled;  rbp the round constants by step, each group of four
//            twice (32 j: the constants of step j for both lanes)
//   ymm9-12  the expansion's temporaries; ymm15 the last expanded group;
//            ymm14 the byte order shuffle
__asm__(R"ASM(
    .pushsection .rodata
    .p2align 5
.Lqor_sha256v_byteswap:
    .byte 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12
    .byte 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12
    .popsection

    .pushsection .text
    .intel_syntax noprefix

    .equ QOR_S256V_WK0, 64
    .equ QOR_S256V_WK1, 576
    .equ QOR_S256V_WS, 1088
    .equ QOR_S256V_FRAME, 1600

# One round.  h + W + K + Ch(e, f, g) + S1(e) is T1, d + T1 the new e, and
# T1 + Maj(a, b, c) + S0(a) the new a, left in h's register.  Ch is
# (e & f) + (~e & g) (the two halves have no bit in common); Maj is
# ((a ^ b) & (b ^ c)) ^ b, with b ^ c the a ^ b of the round before.
.macro QOR_S256V_ROUND a, b, c, d, e, f, g, h, wk, bc, ab
    add \h, [rsi + \wk]
    mov \ab, \f
    and \ab, \e
    andn r12d, \e, \g
    add \h, \ab
    rorx \ab, \e, 6
    add \h, r12d
    rorx r12d, \e, 11
    xor \ab, r12d
    rorx r12d, \e, 25
    xor \ab, r12d
    add \h, \ab
    mov \ab, \a
    xor \ab, \b
    add \d, \h
    and \bc, \ab
    xor \bc, \b
    add \h, \bc
    rorx \bc, \a, 2
    rorx r12d, \a, 13
    xor \bc, r12d
    rorx r12d, \a, 22
    xor \bc, r12d
    add \h, \bc
.endm

# Rounds t..t+3 with the variables where a block starts them (A) and rounds
# t+4..t+7 (B); rsi at W + K of the group of rounds t - wk / 8.
.macro QOR_S256V_ROUNDS4A wk
    QOR_S256V_ROUND eax, ebx, ecx, edx, r8d, r9d, r10d, r11d, \wk, r13d, edi
    QOR_S256V_ROUND r11d, eax, ebx, ecx, edx, r8d, r9d, r10d, \wk + 4, edi, r13d
    QOR_S256V_ROUND r10d, r11d, eax, ebx, ecx, edx, r8d, r9d, \wk + 8, r13d, edi
    QOR_S256V_ROUND r9d, r10d, r11d, eax, ebx, ecx, edx, r8d, \wk + 12, edi, r13d
.endm
.macro QOR_S256V_ROUNDS4B wk
    QOR_S256V_ROUND r8d, r9d, r10d, r11d, eax, ebx, ecx, edx, \wk, r13d, edi
    QOR_S256V_ROUND edx, r8d, r9d, r10d, r11d, eax, ebx, ecx, \wk + 4, edi, r13d
    QOR_S256V_ROUND ecx, edx, r8d, r9d, r10d, r11d, eax, ebx, \wk + 8, r13d, edi
    QOR_S256V_ROUND ebx, ecx, edx, r8d, r9d, r10d, r11d, eax, \wk + 12, edi, r13d
.endm

# Expansion step j (r14 = 32 j, 4 <= j < 16): words t = 4j to t + 3 of both
# blocks.  vpalignr joins the last three words of one group with the first
# of the next, lane by lane: W[t-15] to W[t-12] and W[t-7] to W[t-4].
# s0(x) is x ror 7, x ror 18 and x >> 3, each rotation two shifts.  s1 is
# taken on two words at a time, each doubled into a 64-bit lane (both halves
# the same word), where x ror 17, x ror 19 and x >> 10 land in the low
# halves: first W[t-2] and W[t-1], whose s1 go to places 0 and 1 (the step's
# first two words), then those two words, for places 2 and 3.
#
# The step is cut into eight parts that the rounds take one at a time
# (QOR_S256V_ROUNDS8_STEP), so that the vector work is spread among the
# scalar instructions instead of coming as one run of some thirty that
# takes the ports from the rounds.
.macro QOR_S256V_STEP0
    vmovdqa ymm9, [rsp + r14 + QOR_S256V_WS - 3*32]
    vpalignr ymm9, ymm9, [rsp + r14 + QOR_S256V_WS - 4*32], 4
    vpsrld ymm11, ymm9, 7
    vpslld ymm12, ymm9, 25
.endm
.macro QOR_S256V_STEP1
    vpxor ymm11, ymm11, ymm12
    vpsrld ymm12, ymm9, 18
    vpxor ymm11, ymm11, ymm12
    vpslld ymm12, ymm9, 14
.endm
.macro QOR_S256V_STEP2
    vpxor ymm11, ymm11, ymm12
    vpsrld ymm9, ymm9, 3
    vpxor ymm9, ymm9, ymm11
    vpaddd ymm9, ymm9, [rsp + r14 + QOR_S256V_WS - 4*32]
.endm
.macro QOR_S256V_STEP3
    vpalignr ymm10, ymm15, [rsp + r14 + QOR_S256V_WS - 2*32], 4
    vpaddd ymm9, ymm9, ymm10
    vpshufd ymm10, ymm15, 0xFA
    vpsrld ymm11, ymm10, 10
.endm
.macro QOR_S256V_STEP4
    vpsrlq ymm12, ymm10, 17
    vpxor ymm11, ymm11, ymm12
    vpsrlq ymm12, ymm10, 19
    vpxor ymm11, ymm11, ymm12
    vpshufd ymm11, ymm11, 0x88
.endm
.macro QOR_S256V_STEP5
    vpaddd ymm15, ymm9, ymm11
    vpshufd ymm10, ymm15, 0x50
    vpsrld ymm11, ymm10, 10
    vpsrlq ymm12, ymm10, 17
.endm
.macro QOR_S256V_STEP6
    vpxor ymm11, ymm11, ymm12
    vpsrlq ymm12, ymm10, 19
    vpxor ymm11, ymm11, ymm12
    vpshufd ymm11, ymm11, 0x80
    vpaddd ymm9, ymm9, ymm11
.endm
.macro QOR_S256V_STEP7
    vpblendd ymm15, ymm15, ymm9, 0xCC
    vmovdqa [rsp + r14 + QOR_S256V_WS], ymm15
    vpaddd ymm9, ymm15, [rbp + r14]
    vmovdqa [r15 + r14], ymm9
    add r14, 32
.endm
.macro QOR_S256V_STEP
    QOR_S256V_STEP0
    QOR_S256V_STEP1
    QOR_S256V_STEP2
    QOR_S256V_STEP3
    QOR_S256V_STEP4
    QOR_S256V_STEP5
    QOR_S256V_STEP6
    QOR_S256V_STEP7
.endm

# Four rounds on the variables in ra to rh (rsi at their W + K, wk past
# it), each followed by the step part named p0 to p3.
.macro QOR_S256V_ROUNDS4_PARTS ra, rb, rc, rd, re, rf, rg, rh, wk, p0, p1, p2, p3
    QOR_S256V_ROUND \ra, \rb, \rc, \rd, \re, \rf, \rg, \rh, \wk, r13d, edi
    QOR_S256V_STEP\p0
    QOR_S256V_ROUND \rh, \ra, \rb, \rc, \rd, \re, \rf, \rg, \wk + 4, edi, r13d
    QOR_S256V_STEP\p1
    QOR_S256V_ROUND \rg, \rh, \ra, \rb, \rc, \rd, \re, \rf, \wk + 8, r13d, edi
    QOR_S256V_STEP\p2
    QOR_S256V_ROUND \rf, \rg, \rh, \ra, \rb, \rc, \rd, \re, \wk + 12, edi, r13d
    QOR_S256V_STEP\p3
.endm

# Eight rounds (rsi at their W + K) with the parts of one expansion step
# between them.
.macro QOR_S256V_ROUNDS8_STEP
    QOR_S256V_ROUNDS4_PARTS eax, ebx, ecx, edx, r8d, r9d, r10d, r11d, 0, 0, 1, 2, 3
    QOR_S256V_ROUNDS4_PARTS r8d, r9d, r10d, r11d, eax, ebx, ecx, edx, 32, 4, 5, 6, 7
.endm

# Steps 0 to 3: the first sixteen words of block x (r12) and block y (r13)
# as they are, turned from big-endian; leaves group 3 in ymm15 and r14 at
# step 4.
.macro QOR_S256V_LOAD j
    vmovdqu xmm15, [r12 + 16*\j]
    vinserti128 ymm15, ymm15, [r13 + 16*\j], 1
    vpshufb ymm15, ymm15, ymm14
    vmovdqa [rsp + QOR_S256V_WS + 32*\j], ymm15
    vpaddd ymm9, ymm15, [rbp + 32*\j]
    vmovdqa [r15 + 32*\j], ymm9
.endm
.macro QOR_S256V_LOADS
    QOR_S256V_LOAD 0
    QOR_S256V_LOAD 1
    QOR_S256V_LOAD 2
    QOR_S256V_LOAD 3
    mov r14d, 128
.endm


# The start of a block: b ^ c for its first round.
.macro QOR_S256V_BLOCK_START
    mov r13d, ebx
    xor r13d, ecx
.endm


    QOR_SHAV_ENTER qor_sha256_blocks_avx2, QOR_S256V_FRAME, .Lqor_s256v_return
    vmovdqa ymm14, [rip + .Lqor_sha256v_byteswap]

    # The first pair is expanded before any round.
    QOR_SHAV_TAKE_PAIR 6, r12, r13, rdi, r14
    lea r15, [rsp + QOR_S256V_WK0]
    QOR_S256V_LOADS
.Lqor_s256v_first_steps:
    QOR_S256V_STEP
    cmp r14d, 512
    jne .Lqor_s256v_first_steps
    lea rsi, [rsp + QOR_S256V_WK0]
    lea r15, [rsp + QOR_S256V_WK1]

    QOR_SHAV_LOAD_STATE r12, 4, eax, ebx, ecx, edx, r8d, r9d, r10d, r11d

.Lqor_s256v_pair:
    # rsi: this pair's W + K (expanded); r15: the other buffer.
    cmp qword ptr [rsp + QOR_SHAV_V_COUNT], 0
    je .Lqor_s256v_last_pair
    # A pair of blocks, and more after them: the next pair is expanded
    # during these rounds, steps 4 to 11 in block x, 12 to 15 in block y.
    QOR_SHAV_TAKE_PAIR 6, r12, r13, rdi, r14
    QOR_S256V_LOADS
    QOR_S256V_BLOCK_START
    .p2align 5
.Lqor_s256v_x_steps:
    QOR_S256V_ROUNDS8_STEP
    add rsi, 64
    cmp r14d, 384
    jne .Lqor_s256v_x_steps
    QOR_SHAV_ADD_STATE r12, 4, eax, ebx, ecx, edx, r8d, r9d, r10d, r11d
    sub rsi, 512 - 16
    QOR_S256V_BLOCK_START
    .p2align 5
.Lqor_s256v_y_steps:
    QOR_S256V_ROUNDS8_STEP
    add rsi, 64
    cmp r14d, 512
    jne .Lqor_s256v_y_steps
    lea r12, [rsi + 4*64]
    mov [rsp + QOR_SHAV_V_END], r12
    .p2align 5
.Lqor_s256v_y_rest:
    QOR_S256V_ROUNDS4A 0
    QOR_S256V_ROUNDS4B 32
    add rsi, 64
    cmp rsi, [rsp + QOR_SHAV_V_END]
    jne .Lqor_s256v_y_rest
    QOR_SHAV_ADD_STATE r12, 4, eax, ebx, ecx, edx, r8d, r9d, r10d, r11d
    # The buffers change places.
    lea r12, [rsi - 512 - 16]
    mov rsi, r15
    mov r15, r12
    jmp .Lqor_s256v_pair

.Lqor_s256v_last_pair:
    # The last one or two blocks, nothing left to expand.
.Lqor_s256v_last_block:
    lea r12, [rsi + 512]
    mov [rsp + QOR_SHAV_V_END], r12
    QOR_S256V_BLOCK_START
    .p2align 5
.Lqor_s256v_last_rounds:
    QOR_S256V_ROUNDS4A 0
    QOR_S256V_ROUNDS4B 32
    add rsi, 64
    cmp rsi, [rsp + QOR_SHAV_V_END]
    jne .Lqor_s256v_last_rounds
    QOR_SHAV_ADD_STATE r12, 4, eax, ebx, ecx, edx, r8d, r9d, r10d, r11d
    sub rsi, 512 - 16
    dec qword ptr [rsp + QOR_SHAV_V_PAIR]
    jnz .Lqor_s256v_last_block

    QOR_SHAV_LEAVE qor_sha256_blocks_avx2, .Lqor_s256v_return

    .att_syntax prefix
    .popsection
)ASM");

namespace {

// The round constants as the expansion adds them: those of step j (K[4j] to
// K[4j + 3]) once for each lane.
struct sStepConstants {
    alignas(64) std::uint32_t k[128];
};

const std::uint32_t* stepConstants() {
    static const sStepConstants table = [] {
        sStepConstants t{};
        const std::uint32_t* k = qor_sha::sha256RoundConstants.data();
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 4; ++i) t.k[8 * j + i] = t.k[8 * j + 4 + i] = k[4 * j + i];
        return t;
    }();
    return table.k;
}

void sha256BlocksAvx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha256_blocks_avx2(state, blocks, count, stepConstants());
}

}  // namespace

namespace qor_sha {

BlockEngine32 sha256VectorEngine() {
    static const BlockEngine32 engine = qor_sha_x86::hasAvx2AndBmi() ? &sha256BlocksAvx2 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha256VectorEngine() { return nullptr; }

}  // namespace qor_sha

#endif
