// The SHA-512 block engine for x86 processors with AVX-512 (F and VL), BMI
// and BMI2: the round's two halves run on the two halves of the processor.
//
// A round is two dependency chains.  With a..h the working variables and
// A[r], E[r] the values round r gives to a and e,
//
//     E[r] = d + h + W + K + Ch(e, f, g) + S1(e)
//     A[r] = E[r] - d + Maj(a, b, c) + S0(a)
//
// E[r] needs only e, f, g (the last three E) and d + h (values four rounds
// old); A[r] needs E[r] and the last three A.  So the E chain runs on its
// own, and the A chain trails it by as much as the processor likes.  Done
// all in general registers a round is some 22 operations through four
// arithmetic units; the chains themselves need four cycles a round, but the
// units are full for more than five.  Here the E chain stays in general
// registers (rorx and andn, 12 operations) and the A chain goes to the
// vector unit, one word in the low lane of an XMM register: S0 as three
// vprolq and one vpternlogq, Maj as one vpternlogq.  Each round hands E[r]
// from the general registers to the vector unit and takes d (the A of four
// rounds ago) back; neither transfer is on a chain.
//
// The vector unit also expands the message, as the AVX2 engine does: two
// blocks at a time, W[t] and W[t + 1] of both in one YMM register (block x
// in the low lane, block y in the high one), stored with the round constants
// added, so that a round reads its W + K with one scalar memory operand.
// The next pair's words are expanded while the rounds of the pair before
// run: one step (two words of both blocks) every four rounds.
//
// The code is written in assembly because the point is where each operation
// runs; compilers move work between the register files as they see fit.
// Only for ELF x86-64 (System V calls); elsewhere there is no such engine.
#include "base/sha.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha512_blocks_split(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count,
                                        const std::uint64_t* roundConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   WK0, WK1  W + K of two pairs of blocks, 160 words each: the words of
//             step j (words 2j and 2j + 1 of block x, then of block y) at
//             32 j; the rounds read block x's W[t] + K[t] at
//             8 (4 (t / 2) + t % 2), block y's 16 bytes further
//   WS        the expanded words of the pair in the making, without K,
//             step j at 32 j
//   V_*       the state pointer, the next block and the blocks left
//
// Registers while the rounds run:
//   xmm0-3   a, b, c, d (low lanes), rotating through the round macro's
//            arguments; xmm4-7 the round's vector temporaries
//   rax, rbx, rcx, rdx   e, f, g, h, rotating the same way
//   r10-r12  the round's scalar temporaries
//   r9       this block's W + K (advances 8 rounds at a time)
//   r13      loop counter
//   r14      16 j, j the next expansion step
//   r15      the W + K buffer being filled;  r8  the round constants
//   ymm9-13  the expansion's temporaries; ymm15 the last expanded pair;
//            ymm14 the byte order shuffle
__asm__(R"ASM(
    .pushsection .rodata
    .p2align 5
.Lqor_sha512_byteswap:
    .byte 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8
    .byte 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8
    .popsection

    .pushsection .text
    .intel_syntax noprefix

    .equ QOR_S512_WK0, 0
    .equ QOR_S512_WK1, 1280
    .equ QOR_S512_WS, 2560
    .equ QOR_S512_V_STATE, 3840
    .equ QOR_S512_V_BLOCKS, 3848
    .equ QOR_S512_V_COUNT, 3856
    .equ QOR_S512_FRAME, 3904

# One round.  In the general registers: E = (d + h + W + K) + Ch(e, f, g) +
# S1(e) into h's register, Ch as (e & f) + (~e & g) (the two halves have no
# bit in common).  In the vector unit: A = (E - d) + Maj(a, b, c) + S0(a)
# into d's register, Maj being vpternlogq 0xE8, S0 the rotations right by 28,
# 34 and 39 (left by 36, 30 and 25) joined by vpternlogq 0x96 (a three-way
# exclusive or).
.macro QOR_S512_ROUND a, b, c, d, e, f, g, h, wk
    vmovq r10, \d
    add \h, [r9 + \wk]
    add \h, r10
    mov r11, \f
    and r11, \e
    andn r12, \e, \g
    add r11, r12
    add \h, r11
    rorx r11, \e, 14
    rorx r12, \e, 18
    xor r11, r12
    rorx r12, \e, 41
    xor r11, r12
    add \h, r11
    vmovq xmm4, \h
    vpsubq xmm4, xmm4, \d
    vmovdqa \d, \c
    vpternlogq \d, \a, \b, 0xe8
    vprolq xmm5, \a, 36
    vprolq xmm6, \a, 30
    vprolq xmm7, \a, 25
    vpternlogq xmm5, xmm6, xmm7, 0x96
    vpaddq \d, \d, xmm4
    vpaddq \d, \d, xmm5
.endm

# Rounds t..t+3 and t+4..t+7 (t a multiple of 8, r9 at W + K of round t).
# After four rounds the variables are back in their registers.
.macro QOR_S512_ROUNDS4 wk
    QOR_S512_ROUND xmm0, xmm1, xmm2, xmm3, rax, rbx, rcx, rdx, \wk
    QOR_S512_ROUND xmm3, xmm0, xmm1, xmm2, rdx, rax, rbx, rcx, \wk + 8
    QOR_S512_ROUND xmm2, xmm3, xmm0, xmm1, rcx, rdx, rax, rbx, \wk + 32
    QOR_S512_ROUND xmm1, xmm2, xmm3, xmm0, rbx, rcx, rdx, rax, \wk + 40
.endm

# Expansion step j (r14 = 16 j, 8 <= j < 40): words t = 2j and t + 1 of both
# blocks, W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16].  vpalignr
# joins the high word of one pair with the low word of the next, lane by
# lane: W[t-15], W[t-14] and W[t-7], W[t-6].  s0(x) is x ror 1, x ror 8 and
# x >> 7, s1(x) x ror 19, x ror 61 and x >> 6, each joined by vpternlogq.
.macro QOR_S512_STEP
    vmovdqa ymm9, [rsp + 2*r14 + QOR_S512_WS - 7*32]
    vpalignr ymm9, ymm9, [rsp + 2*r14 + QOR_S512_WS - 8*32], 8
    vmovdqa ymm10, [rsp + 2*r14 + QOR_S512_WS - 3*32]
    vpalignr ymm10, ymm10, [rsp + 2*r14 + QOR_S512_WS - 4*32], 8
    vprolq ymm11, ymm9, 63
    vprolq ymm12, ymm9, 56
    vpsrlq ymm9, ymm9, 7
    vpternlogq ymm9, ymm11, ymm12, 0x96
    vprolq ymm11, ymm15, 45
    vprolq ymm12, ymm15, 3
    vpsrlq ymm13, ymm15, 6
    vpternlogq ymm11, ymm12, ymm13, 0x96
    vpaddq ymm15, ymm9, [rsp + 2*r14 + QOR_S512_WS - 8*32]
    vpaddq ymm10, ymm10, ymm11
    vpaddq ymm15, ymm15, ymm10
    vmovdqa [rsp + 2*r14 + QOR_S512_WS], ymm15
    vbroadcasti128 ymm9, [r8 + r14]
    vpaddq ymm9, ymm9, ymm15
    vmovdqa [r15 + 2*r14], ymm9
    add r14, 16
.endm

# Steps 0 to 7: the first sixteen words of block x (rsi) and block y (rdi)
# as they are, turned from big-endian; leaves pair 7 in ymm15 and r14 at
# step 8.
.macro QOR_S512_LOAD j
    vmovdqu xmm15, [rsi + 16*\j]
    vinserti128 ymm15, ymm15, [rdi + 16*\j], 1
    vpshufb ymm15, ymm15, ymm14
    vmovdqa [rsp + QOR_S512_WS + 32*\j], ymm15
    vbroadcasti128 ymm9, [r8 + 16*\j]
    vpaddq ymm9, ymm9, ymm15
    vmovdqa [r15 + 32*\j], ymm9
.endm
.macro QOR_S512_LOADS
    QOR_S512_LOAD 0
    QOR_S512_LOAD 1
    QOR_S512_LOAD 2
    QOR_S512_LOAD 3
    QOR_S512_LOAD 4
    QOR_S512_LOAD 5
    QOR_S512_LOAD 6
    QOR_S512_LOAD 7
    mov r14, 128
.endm

# The end of a block: the working variables are added into the state, which
# is also where the next block starts.
.macro QOR_S512_ADD_STATE
    mov r10, [rsp + QOR_S512_V_STATE]
    add rax, [r10 + 32]
    mov [r10 + 32], rax
    add rbx, [r10 + 40]
    mov [r10 + 40], rbx
    add rcx, [r10 + 48]
    mov [r10 + 48], rcx
    add rdx, [r10 + 56]
    mov [r10 + 56], rdx
    vmovq xmm4, [r10]
    vpaddq xmm0, xmm0, xmm4
    vmovq [r10], xmm0
    vmovq xmm4, [r10 + 8]
    vpaddq xmm1, xmm1, xmm4
    vmovq [r10 + 8], xmm1
    vmovq xmm4, [r10 + 16]
    vpaddq xmm2, xmm2, xmm4
    vmovq [r10 + 16], xmm2
    vmovq xmm4, [r10 + 24]
    vpaddq xmm3, xmm3, xmm4
    vmovq [r10 + 24], xmm3
.endm

# Points block x at the next unread block (rsi) and block y at the one after
# it, or at block x again when only one is left (its rounds are then never
# run); advances the next block and the count by the pair.  Leaves in r13
# the blocks of the pair.
.macro QOR_S512_TAKE_PAIR
    mov rsi, [rsp + QOR_S512_V_BLOCKS]
    mov r13, [rsp + QOR_S512_V_COUNT]
    lea rdi, [rsi + 128]
    mov r12d, 2
    cmp r13, 2
    cmovb rdi, rsi
    cmovb r12, r13
    sub r13, r12
    shl r12, 7
    add r12, rsi
    mov [rsp + QOR_S512_V_BLOCKS], r12
    mov [rsp + QOR_S512_V_COUNT], r13
.endm

    .globl qor_sha512_blocks_split
    .hidden qor_sha512_blocks_split
    .type qor_sha512_blocks_split, @function
    .p2align 6
qor_sha512_blocks_split:
    .cfi_startproc
    push rbp
    .cfi_def_cfa_offset 16
    .cfi_offset rbp, -16
    mov rbp, rsp
    .cfi_def_cfa_register rbp
    push rbx
    .cfi_offset rbx, -24
    push r12
    .cfi_offset r12, -32
    push r13
    .cfi_offset r13, -40
    push r14
    .cfi_offset r14, -48
    push r15
    .cfi_offset r15, -56
    test rdx, rdx
    jz .Lqor_s512_return
    and rsp, -64
    sub rsp, QOR_S512_FRAME
    mov [rsp + QOR_S512_V_STATE], rdi
    mov [rsp + QOR_S512_V_BLOCKS], rsi
    mov [rsp + QOR_S512_V_COUNT], rdx
    mov r8, rcx
    vmovdqa ymm14, [rip + .Lqor_sha512_byteswap]

    # The first pair is expanded before any round.
    QOR_S512_TAKE_PAIR
    lea r15, [rsp + QOR_S512_WK0]
    QOR_S512_LOADS
    mov r13d, 32
.Lqor_s512_first_steps:
    QOR_S512_STEP
    dec r13d
    jnz .Lqor_s512_first_steps
    lea r9, [rsp + QOR_S512_WK0]
    lea r15, [rsp + QOR_S512_WK1]

    mov r10, [rsp + QOR_S512_V_STATE]
    vmovq xmm0, [r10]
    vmovq xmm1, [r10 + 8]
    vmovq xmm2, [r10 + 16]
    vmovq xmm3, [r10 + 24]
    mov rax, [r10 + 32]
    mov rbx, [r10 + 40]
    mov rcx, [r10 + 48]
    mov rdx, [r10 + 56]

.Lqor_s512_pair:
    # r9: this pair's W + K (expanded); r15: the other buffer.
    cmp qword ptr [rsp + QOR_S512_V_COUNT], 0
    je .Lqor_s512_last_pair
    # A pair of blocks, and more after them: the next pair is expanded
    # during these rounds, steps 8 to 27 in block x, 28 to 39 in block y.
    QOR_S512_TAKE_PAIR
    QOR_S512_LOADS
    mov r13d, 10
    .p2align 5
.Lqor_s512_x_steps:
    QOR_S512_ROUNDS4 0
    QOR_S512_STEP
    QOR_S512_ROUNDS4 64
    QOR_S512_STEP
    add r9, 128
    dec r13d
    jnz .Lqor_s512_x_steps
    QOR_S512_ADD_STATE
    sub r9, 1280 - 16
    mov r13d, 6
    .p2align 5
.Lqor_s512_y_steps:
    QOR_S512_ROUNDS4 0
    QOR_S512_STEP
    QOR_S512_ROUNDS4 64
    QOR_S512_STEP
    add r9, 128
    dec r13d
    jnz .Lqor_s512_y_steps
    mov r13d, 4
    .p2align 5
.Lqor_s512_y_rest:
    QOR_S512_ROUNDS4 0
    QOR_S512_ROUNDS4 64
    add r9, 128
    dec r13d
    jnz .Lqor_s512_y_rest
    QOR_S512_ADD_STATE
    # The buffers change places.
    lea r10, [r9 - 1280 - 16]
    mov r9, r15
    mov r15, r10
    jmp .Lqor_s512_pair

.Lqor_s512_last_pair:
    # The last one or two blocks, nothing left to expand: r14 is the count
    # of blocks whose rounds are still to run.
    mov r14, [rsp + QOR_S512_V_BLOCKS]
    sub r14, rsi
    shr r14, 7
.Lqor_s512_last_block:
    mov r13d, 10
    .p2align 5
.Lqor_s512_last_rounds:
    QOR_S512_ROUNDS4 0
    QOR_S512_ROUNDS4 64
    add r9, 128
    dec r13d
    jnz .Lqor_s512_last_rounds
    QOR_S512_ADD_STATE
    sub r9, 1280 - 16
    dec r14
    jnz .Lqor_s512_last_block

    vzeroupper
    lea rsp, [rbp - 40]
.Lqor_s512_return:
    pop r15
    pop r14
    pop r13
    pop r12
    pop rbx
    pop rbp
    .cfi_def_cfa rsp, 8
    ret
    .cfi_endproc
    .size qor_sha512_blocks_split, .-qor_sha512_blocks_split

    .att_syntax prefix
    .popsection
)ASM");

namespace {

void sha512BlocksSplit(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha512_blocks_split(state, blocks, count, qor_sha::sha512RoundConstants.data());
}

bool cpuHasAvx512AndBmi() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}

}  // namespace

namespace qor_sha {

BlockEngine64 sha512SplitEngine() {
    static const BlockEngine64 engine = cpuHasAvx512AndBmi() ? &sha512BlocksSplit : nullptr;
    return engine;
}

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine64 sha512SplitEngine() { return nullptr; }

}  // namespace qor_sha

#endif
