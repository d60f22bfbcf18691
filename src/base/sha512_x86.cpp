// The SHA-512 block engine for x86-64 processors with AVX2, BMI and BMI2.
//
// There are no SHA-512 instructions to lean on, so the rounds stay scalar;
// what AVX2 takes over is the message schedule.  A quarter of the portable
// engine's work is expanding the 16 words of a block to 80,
//
//     W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16],
//
// and each pair W[t], W[t+1] depends only on words at least two places back,
// so a 128-bit lane computes a pair in one step.  A 256-bit register holds the
// same pair of two blocks, one in each lane: 40 vector steps expand two
// blocks and add the round constants, leaving the rounds of both blocks a
// single memory operand per round.  The steps of the next pair of blocks run
// between the rounds of this pair, one every four rounds, each spread over
// them (one vector instruction after every fourth scalar one): the vector
// unit works while the scalar rounds wait on their own chains.
//
// The rounds are what limits the speed, and they are bound by the number of
// scalar operations (on processors with four arithmetic units, and nearly as
// much on those with six) more than by their chains: the round below is 22
// of them and two moves, and nothing else runs in the general registers but
// one pointer increment per step and one per eight rounds.  It is written in
// assembly because compilers, left to themselves, add a few moves and
// reloads to each round and turn the steps' addressing into scalar work, and
// a few percent is the whole difference here.  Only for ELF x86-64 (System V
// calls); elsewhere the portable engine does the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha512_blocks_avx2(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count,
                                       const std::uint64_t* pairConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*       the words sha_x86_asm.h lays out
//   WK0, WK1  W + K of two pairs of blocks, 160 words each: the words of
//             step j (words 2j and 2j + 1 of block x, then of block y) at
//             32 j; the rounds read block x's W[t] + K[t] at
//             8 (4 (t / 2) + t % 2), block y's 16 bytes further
//
// Registers while the rounds run:
//   rax, rbx, rcx, rdx, r8, r9, r10, r11   a to h, rotating through the
//            round macro's arguments
//   r12      the round's temporary; r13 and rdi b ^ c and a ^ b, changing
//            places every round
//   rsi      this block's W + K (advances 8 rounds at a time)
//   r15      the W + K buffer being filled;  rbp the round constants, each
//            pair twice (32 j: the constants of step j for both lanes)
//   ymm0-7   the last sixteen words of the pair being expanded: the words
//            of step j in ymm(j mod 8) until step j + 8 takes its place
//   ymm9-12  the expansion's temporaries;  ymm13 the rotation by a byte,
//            ymm14 the byte order shuffle
__asm__(R"ASM(
    .pushsection .rodata
    .p2align 5
.Lqor_sha512v_byteswap:
    .byte 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8
    .byte 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8
.Lqor_sha512v_ror8:
    .byte 1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8
    .byte 1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8
    .popsection

    .pushsection .text
    .intel_syntax noprefix

    .equ QOR_S512V_WK0, 64
    .equ QOR_S512V_WK1, 1344
    .equ QOR_S512V_FRAME, 2624

# One round.  h + W + K + Ch(e, f, g) + S1(e) is T1, d + T1 the new e, and
# T1 + Maj(a, b, c) + S0(a) the new a, left in h's register.  Ch is
# (e & f) + (~e & g) (the two halves have no bit in common); Maj is
# ((a ^ b) & (b ^ c)) ^ b, with b ^ c the a ^ b of the round before.  After
# every fourth instruction, the next of the pending step's, if any.
.macro QOR_S512V_ROUND a, b, c, d, e, f, g, h, wk, bc, ab
    add \h, [rsi + \wk]
    mov \ab, \f
    and \ab, \e
    andn r12, \e, \g
    QOR_S512V_PART
    add \h, \ab
    rorx \ab, \e, 14
    add \h, r12
    rorx r12, \e, 18
    QOR_S512V_PART
    xor \ab, r12
    rorx r12, \e, 41
    xor \ab, r12
    add \h, \ab
    QOR_S512V_PART
    mov \ab, \a
    xor \ab, \b
    add \d, \h
    and \bc, \ab
    QOR_S512V_PART
    xor \bc, \b
    add \h, \bc
    rorx \bc, \a, 28
    rorx r12, \a, 34
    QOR_S512V_PART
    xor \bc, r12
    rorx r12, \a, 39
    xor \bc, r12
    add \h, \bc
    QOR_S512V_PART
.endm

# Rounds t..t+3 with the variables where a block starts them (A) and rounds
# t+4..t+7 (B); rsi at W + K of the pair of rounds t - wk / 4.
.macro QOR_S512V_ROUNDS4A wk
    QOR_S512V_ROUND rax, rbx, rcx, rdx, r8, r9, r10, r11, \wk, r13, rdi
    QOR_S512V_ROUND r11, rax, rbx, rcx, rdx, r8, r9, r10, \wk + 8, rdi, r13
    QOR_S512V_ROUND r10, r11, rax, rbx, rcx, rdx, r8, r9, \wk + 32, r13, rdi
    QOR_S512V_ROUND r9, r10, r11, rax, rbx, rcx, rdx, r8, \wk + 40, rdi, r13
.endm
.macro QOR_S512V_ROUNDS4B wk
    QOR_S512V_ROUND r8, r9, r10, r11, rax, rbx, rcx, rdx, \wk, r13, rdi
    QOR_S512V_ROUND rdx, r8, r9, r10, r11, rax, rbx, rcx, \wk + 8, rdi, r13
    QOR_S512V_ROUND rcx, rdx, r8, r9, r10, r11, rax, rbx, \wk + 32, r13, rdi
    QOR_S512V_ROUND rbx, rcx, rdx, r8, r9, r10, r11, rax, \wk + 40, rdi, r13
.endm

# Expansion step j (8 <= j < 40): words t = 2j and t + 1 of both blocks,
# into x8 (the register of step j - 8) out of x7, x4, x3 and x1, those of
# steps j - 7, j - 4, j - 3 and j - 1 (see QOR_SHAV_RING8).  vpalignr
# joins the high word of one pair with the low word of the next, lane by
# lane: W[t-15], W[t-14] and W[t-7], W[t-6].
# s0(x) is x ror 1, x ror 8 (a byte shuffle) and x >> 7; s1(x) is x ror 19,
# x ror 61 and x >> 6; AVX2 has no 64-bit rotation, so the others are two
# shifts each.
.macro QOR_S512V_STEP j, x8, x7, x6, x5, x4, x3, x2, x1
    QOR_SHAV_AT 0, vpalignr ymm9, \x7, \x8, 8
    QOR_SHAV_AT 1, vpalignr ymm10, \x3, \x4, 8
    QOR_SHAV_AT 2, vpsrlq ymm11, ymm9, 1
    QOR_SHAV_AT 3, vpsllq ymm12, ymm9, 63
    QOR_SHAV_AT 4, vpxor ymm11, ymm11, ymm12
    QOR_SHAV_AT 5, vpsrlq ymm12, ymm9, 7
    QOR_SHAV_AT 6, vpxor ymm11, ymm11, ymm12
    QOR_SHAV_AT 7, vpshufb ymm9, ymm9, ymm13
    QOR_SHAV_AT 8, vpxor ymm9, ymm9, ymm11
    QOR_SHAV_AT 9, vpsrlq ymm11, \x1, 6
    QOR_SHAV_AT 10, vpsrlq ymm12, \x1, 19
    QOR_SHAV_AT 11, vpxor ymm11, ymm11, ymm12
    QOR_SHAV_AT 12, vpsllq ymm12, \x1, 3
    QOR_SHAV_AT 13, vpxor ymm11, ymm11, ymm12
    QOR_SHAV_AT 14, vpsrlq ymm12, \x1, 61
    QOR_SHAV_AT 15, vpxor ymm11, ymm11, ymm12
    QOR_SHAV_AT 16, vpsllq ymm12, \x1, 45
    QOR_SHAV_AT 17, vpxor ymm11, ymm11, ymm12
    QOR_SHAV_AT 18, vpaddq ymm9, ymm9, \x8
    QOR_SHAV_AT 19, vpaddq ymm10, ymm10, ymm11
    QOR_SHAV_AT 20, vpaddq \x8, ymm9, ymm10
    QOR_SHAV_AT 21, vpaddq ymm9, \x8, [rbp+32*(\j)]
    QOR_SHAV_AT 22, vmovdqa [r15+32*(\j)], ymm9
.endm
    .equ QOR_S512V_STEP_LENGTH, 23

# Step j whole (QOR_SHAV_STEP_BEGIN), or begun for the rounds after it to
# write (QOR_S512V_PART), and the rest of it (QOR_S512V_STEP_END).
.macro QOR_S512V_STEP_J j
    QOR_SHAV_STEP_BEGIN \j, QOR_S512V_STEP_LENGTH
    QOR_S512V_STEP_END
.endm
.macro QOR_S512V_PART
    QOR_SHAV_PART QOR_S512V_STEP, ymm
.endm
.macro QOR_S512V_STEP_END
    QOR_SHAV_STEP_END QOR_S512V_STEP, ymm
.endm

# Steps 0 to 7: the first sixteen words of block x (r12) and block y (r13)
# as they are, turned from big-endian, pair j into ymm j.
.macro QOR_S512V_LOAD j
    vmovdqu xmm\j, [r12 + 16*\j]
    vinserti128 ymm\j, ymm\j, [r13 + 16*\j], 1
    vpshufb ymm\j, ymm\j, ymm14
    vpaddq ymm9, ymm\j, [rbp + 32*\j]
    vmovdqa [r15 + 32*\j], ymm9
.endm
.macro QOR_S512V_LOADS
    QOR_S512V_LOAD 0
    QOR_S512V_LOAD 1
    QOR_S512V_LOAD 2
    QOR_S512V_LOAD 3
    QOR_S512V_LOAD 4
    QOR_S512V_LOAD 5
    QOR_S512V_LOAD 6
    QOR_S512V_LOAD 7
.endm

# `count` times eight rounds with two steps between them, from step `from`.
.macro QOR_S512V_ROUNDS8_STEPS count, from
    .set qor_s512v_j, \from
    .rept \count
    QOR_SHAV_STEP_BEGIN qor_s512v_j, QOR_S512V_STEP_LENGTH
    QOR_S512V_ROUNDS4A 0
    QOR_S512V_STEP_END
    QOR_SHAV_STEP_BEGIN qor_s512v_j+1, QOR_S512V_STEP_LENGTH
    QOR_S512V_ROUNDS4B 64
    QOR_S512V_STEP_END
    add rsi, 128
    .set qor_s512v_j, qor_s512v_j + 2
    .endr
.endm


# The start of a block: b ^ c for its first round.
.macro QOR_S512V_BLOCK_START
    mov r13, rbx
    xor r13, rcx
.endm


    QOR_SHAV_ENTER qor_sha512_blocks_avx2, QOR_S512V_FRAME, .Lqor_s512v_return
    vmovdqa ymm13, [rip + .Lqor_sha512v_ror8]
    vmovdqa ymm14, [rip + .Lqor_sha512v_byteswap]

    # The first pair is expanded before any round.
    QOR_SHAV_TAKE_PAIR 7, r12, r13, rdi, r14
    lea r15, [rsp + QOR_S512V_WK0]
    QOR_S512V_LOADS
    .set qor_s512v_j, 8
    .rept 32
    QOR_S512V_STEP_J qor_s512v_j
    .set qor_s512v_j, qor_s512v_j + 1
    .endr
    lea rsi, [rsp + QOR_S512V_WK0]
    lea r15, [rsp + QOR_S512V_WK1]

    QOR_SHAV_LOAD_STATE r12, 8, rax, rbx, rcx, rdx, r8, r9, r10, r11

.Lqor_s512v_pair:
    # rsi: this pair's W + K (expanded); r15: the other buffer.
    cmp qword ptr [rsp + QOR_SHAV_V_COUNT], 0
    je .Lqor_s512v_last_pair
    # A pair of blocks, and more after them: the next pair is expanded
    # during these rounds, steps 8 to 27 in block x, 28 to 39 in block y.
    QOR_SHAV_TAKE_PAIR 7, r12, r13, rdi, r14
    QOR_S512V_LOADS
    QOR_S512V_BLOCK_START
    QOR_S512V_ROUNDS8_STEPS 10, 8
    QOR_SHAV_ADD_STATE r12, 8, rax, rbx, rcx, rdx, r8, r9, r10, r11
    sub rsi, 1280 - 16
    QOR_S512V_BLOCK_START
    QOR_S512V_ROUNDS8_STEPS 6, 28
    lea r12, [rsi + 4*128]
    mov [rsp + QOR_SHAV_V_END], r12
    .p2align 5
.Lqor_s512v_y_rest:
    QOR_S512V_ROUNDS4A 0
    QOR_S512V_ROUNDS4B 64
    add rsi, 128
    cmp rsi, [rsp + QOR_SHAV_V_END]
    jne .Lqor_s512v_y_rest
    QOR_SHAV_ADD_STATE r12, 8, rax, rbx, rcx, rdx, r8, r9, r10, r11
    # The buffers change places.
    lea r12, [rsi - 1280 - 16]
    mov rsi, r15
    mov r15, r12
    jmp .Lqor_s512v_pair

.Lqor_s512v_last_pair:
    # The last one or two blocks, nothing left to expand.
.Lqor_s512v_last_block:
    lea r12, [rsi + 1280]
    mov [rsp + QOR_SHAV_V_END], r12
    QOR_S512V_BLOCK_START
    .p2align 5
.Lqor_s512v_last_rounds:
    QOR_S512V_ROUNDS4A 0
    QOR_S512V_ROUNDS4B 64
    add rsi, 128
    cmp rsi, [rsp + QOR_SHAV_V_END]
    jne .Lqor_s512v_last_rounds
    QOR_SHAV_ADD_STATE r12, 8, rax, rbx, rcx, rdx, r8, r9, r10, r11
    sub rsi, 1280 - 16
    dec qword ptr [rsp + QOR_SHAV_V_PAIR]
    jnz .Lqor_s512v_last_block

    QOR_SHAV_LEAVE qor_sha512_blocks_avx2, .Lqor_s512v_return

    .att_syntax prefix
    .popsection
)ASM");

namespace {

// The round constants as the expansion adds them: those of step j (K[2j],
// K[2j + 1]) once for each lane.
struct sPairConstants {
    alignas(64) std::uint64_t k[160];
};

const std::uint64_t* pairConstants() {
    static const sPairConstants table = [] {
        sPairConstants t{};
        const std::uint64_t* k = qor_sha::sha512RoundConstants.data();
        for (int j = 0; j < 40; ++j) {
            t.k[4 * j] = t.k[4 * j + 2] = k[2 * j];
            t.k[4 * j + 1] = t.k[4 * j + 3] = k[2 * j + 1];
        }
        return t;
    }();
    return table.k;
}

void sha512BlocksAvx2(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha512_blocks_avx2(state, blocks, count, pairConstants());
}

}  // namespace

namespace qor_sha {

BlockEngine64 sha512VectorEngine() {
    static const BlockEngine64 engine = qor_sha_x86::hasAvx2AndBmi() ? &sha512BlocksAvx2 : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine64 sha512VectorEngine() { return nullptr; }

}  // namespace qor_sha

#endif
