// What the assembly block engines of SHA-1, SHA-256 and SHA-512
// (sha1_x86.cpp, sha256_x86.cpp, sha512_x86.cpp, and the 128-bit ones in
// sha1_xmm_x86.cpp, sha256_xmm_x86.cpp and sha512_xmm_x86.cpp) share: each
// is one function of System V calls, (state, blocks, count, constants), that
// takes the blocks into a 64-byte aligned frame (the AVX2 ones by pairs),
// and each is handed out only to a processor with the extensions it uses:
// AVX2, BMI and BMI2, or AVX, or SSSE3.  ELF x86-64 only.  The engines on
// the SHA instructions (sha_x86.cpp), which need no frame, take only the
// function's beginning and end from here.
#pragma once

#include "base/cpufeatures.h"
#include "base/sha.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

#define QOR_SHA_ASM_STR2(x) #x
#define QOR_SHA_ASM_STR(x) QOR_SHA_ASM_STR2(x)

// Assembler macros (Intel syntax) for the engine's own text, which follows
// in the same translation unit (top-level asm keeps its order).
//
// The frame begins with these words:
//   V_RSP     the stack pointer on entry, after the pushes
//   V_STATE   the state pointer
//   V_BLOCKS  the next block not yet taken
//   V_COUNT   the blocks not yet taken
//   V_PAIR    the blocks of the pair taken last (1 or 2)
//   V_END     free for the engine (the end of a run of rounds)
// and the engine's own buffers start at 64.
__asm__(R"ASM(
    .equ QOR_SHAV_V_RSP, 0
    .equ QOR_SHAV_V_STATE, 8
    .equ QOR_SHAV_V_BLOCKS, 16
    .equ QOR_SHAV_V_COUNT, 24
    .equ QOR_SHAV_V_PAIR, 32
    .equ QOR_SHAV_V_END, 40
)ASM"
        "    .equ QOR_SHA_AHEAD, " QOR_SHA_ASM_STR(QOR_SHA_PREFETCH_AHEAD) "\n"
        R"ASM(
# Asks for the `lines` 64-byte lines of input that start QOR_SHA_AHEAD
# bytes past the address in `at` (qor_detail::prefetchAhead).
.macro QOR_SHA_PREFETCH at, lines=1
    .set qor_sha_line, 0
    .rept \lines
    prefetcht0 [\at + QOR_SHA_AHEAD + 64 * qor_sha_line]
    .set qor_sha_line, qor_sha_line + 1
    .endr
.endm

# A function `name`: its symbol and unwind entry begin, and after its return
# they end.
.macro QOR_SHA_BEGIN name
    .globl \name
    .hidden \name
    .type \name, @function
    .p2align 6
\name:
    .cfi_startproc
.endm

.macro QOR_SHA_END name
    ret
    .cfi_endproc
    .size \name, .-\name
.endm

# The function `name` begins: the callee-saved registers pushed, and unless
# the count (rdx) is 0 (then straight to the label `none`, which
# QOR_SHAV_LEAVE places), a frame of `frame` bytes aligned below them.  The
# stack pointer after the pushes is kept at the frame's bottom, and the
# frame address of the caller is that plus 56 (DW_CFA_def_cfa_expression:
# DW_OP_breg7 0, DW_OP_deref, DW_OP_plus_uconst 56).  The state pointer,
# the blocks and the count go to the frame, the constants to rbp.
.macro QOR_SHAV_ENTER name, frame, none
    QOR_SHA_BEGIN \name
    push rbp
    .cfi_def_cfa_offset 16
    .cfi_offset rbp, -16
    push rbx
    .cfi_def_cfa_offset 24
    .cfi_offset rbx, -24
    push r12
    .cfi_def_cfa_offset 32
    .cfi_offset r12, -32
    push r13
    .cfi_def_cfa_offset 40
    .cfi_offset r13, -40
    push r14
    .cfi_def_cfa_offset 48
    .cfi_offset r14, -48
    push r15
    .cfi_def_cfa_offset 56
    .cfi_offset r15, -56
    test rdx, rdx
    jz \none
    mov rax, rsp
    .cfi_def_cfa_register rax
    and rsp, -64
    sub rsp, \frame
    mov [rsp + QOR_SHAV_V_RSP], rax
    .cfi_escape 0x0f, 0x05, 0x77, 0x00, 0x06, 0x23, 0x38
    mov [rsp + QOR_SHAV_V_STATE], rdi
    mov [rsp + QOR_SHAV_V_BLOCKS], rsi
    mov [rsp + QOR_SHAV_V_COUNT], rdx
    mov rbp, rcx
.endm

# The function's end: the frame left (the upper halves of the vector
# registers cleared unless `vzero` is 0), the registers popped.
.macro QOR_SHAV_LEAVE name, none, vzero=1
    .if \vzero
    vzeroupper
    .endif
    mov rsp, [rsp + QOR_SHAV_V_RSP]
    .cfi_def_cfa rsp, 56
\none:
    pop r15
    .cfi_def_cfa_offset 48
    pop r14
    .cfi_def_cfa_offset 40
    pop r13
    .cfi_def_cfa_offset 32
    pop r12
    .cfi_def_cfa_offset 24
    pop rbx
    .cfi_def_cfa_offset 16
    pop rbp
    .cfi_def_cfa_offset 8
    QOR_SHA_END \name
.endm

# 128-bit vector instructions written once for two encodings: the VEX
# forms where qor_shav_vex is 1 (AVX), else the SSE forms, for processors
# without AVX.  QOR_SHAV_V takes the same operands in both;  QOR_SHAV_V3 is
# d = a op b (b may be a memory operand, and an immediate may follow it),
# where the SSE form first copies a into d, so d must be a or not b.  Memory
# operands are written without spaces, which the assembler may take for the
# end of a macro argument, and in the SSE forms they must lie on 16 bytes
# (but for movdqu).
.macro QOR_SHAV_V op, args:vararg
    .if qor_shav_vex
    v\op \args
    .else
    \op \args
    .endif
.endm
.macro QOR_SHAV_V3 op, d, a, b:vararg
    .if qor_shav_vex
    v\op \d, \a, \b
    .else
    .ifnc \d, \a
    .ifc \d, \b
    .error "QOR_SHAV_V3: the destination is the second source"
    .endif
    movdqa \d, \a
    .endif
    \op \d, \b
    .endif
.endm

# Points block x (register `x`) at the next block not yet taken and block y
# (`y`) at the one after it, or at block x again when only one is left (its
# rounds are then never run); advances the next block and the count by the
# pair and notes its blocks; asks for the input ahead of the pair.  Blocks
# are 1 << `shift` bytes; t0 and t1 are scratch registers.
.macro QOR_SHAV_TAKE_PAIR shift, x, y, t0, t1
    mov \x, [rsp + QOR_SHAV_V_BLOCKS]
    mov \t0, [rsp + QOR_SHAV_V_COUNT]
    QOR_SHA_PREFETCH \x, 2 << (\shift - 6)
    lea \y, [\x + (1 << \shift)]
    mov \t1, 2
    cmp \t0, 2
    cmovb \y, \x
    cmovb \t1, \t0
    mov [rsp + QOR_SHAV_V_PAIR], \t1
    sub \t0, \t1
    shl \t1, \shift
    add \t1, \x
    mov [rsp + QOR_SHAV_V_BLOCKS], \t1
    mov [rsp + QOR_SHAV_V_COUNT], \t0
.endm

# A message schedule whose last eight groups of words stay in the registers
# `v`0 to `v`7 (xmm or ymm), group j in number j mod 8 until group j + 8
# takes its place: the engine's macro `op` for group j, handed j and the
# eight registers from number j mod 8 on, which hold groups j - 8 (or
# nothing yet, before the registers fill) to j - 1.  Named x8 to x1 there,
# xk is the register of group j - k, and x8 takes group j.
.macro QOR_SHAV_RING8 j, op, v
    .if ((\j) & 7) == 0
    \op \j, \v\()0, \v\()1, \v\()2, \v\()3, \v\()4, \v\()5, \v\()6, \v\()7
    .elseif ((\j) & 7) == 1
    \op \j, \v\()1, \v\()2, \v\()3, \v\()4, \v\()5, \v\()6, \v\()7, \v\()0
    .elseif ((\j) & 7) == 2
    \op \j, \v\()2, \v\()3, \v\()4, \v\()5, \v\()6, \v\()7, \v\()0, \v\()1
    .elseif ((\j) & 7) == 3
    \op \j, \v\()3, \v\()4, \v\()5, \v\()6, \v\()7, \v\()0, \v\()1, \v\()2
    .elseif ((\j) & 7) == 4
    \op \j, \v\()4, \v\()5, \v\()6, \v\()7, \v\()0, \v\()1, \v\()2, \v\()3
    .elseif ((\j) & 7) == 5
    \op \j, \v\()5, \v\()6, \v\()7, \v\()0, \v\()1, \v\()2, \v\()3, \v\()4
    .elseif ((\j) & 7) == 6
    \op \j, \v\()6, \v\()7, \v\()0, \v\()1, \v\()2, \v\()3, \v\()4, \v\()5
    .else
    \op \j, \v\()7, \v\()0, \v\()1, \v\()2, \v\()3, \v\()4, \v\()5, \v\()6
    .endif
.endm

# A step of the schedule spread over the rounds that run beside it.  Handed
# a whole step at once, the processor finds a run of vector instructions
# between two runs of scalar ones; one vector instruction every few scalar
# ones keeps both kinds in every stretch of the instruction stream (SHA-512
# with AVX2: 2% faster than a step after every four rounds).  The engine's
# macro `op` for group j then takes the number of one of the step's
# instructions, `qor_shav_part`, and writes that one alone.
#   QOR_SHAV_STEP_BEGIN j, n   step j, of n instructions, is to be written
#   QOR_SHAV_PART op, v        its next instruction, if one is left
#   QOR_SHAV_STEP_END op, v    the rest of it
# and in the engine's macro, QOR_SHAV_AT n, insn writes insn if it is the
# step's instruction number n.
    .set qor_shav_step, 0
    .set qor_shav_part, 0
    .set qor_shav_parts, 0
.macro QOR_SHAV_STEP_BEGIN j, n
    .set qor_shav_step, \j
    .set qor_shav_part, 0
    .set qor_shav_parts, \n
.endm
.macro QOR_SHAV_PART op, v
    .if qor_shav_part < qor_shav_parts
    QOR_SHAV_RING8 qor_shav_step, \op, \v
    .set qor_shav_part, qor_shav_part + 1
    .endif
.endm
.macro QOR_SHAV_AT n, insn:vararg
    .if qor_shav_part == \n
    \insn
    .endif
.endm
.macro QOR_SHAV_STEP_END op, v
    .rept qor_shav_parts - qor_shav_part
    QOR_SHAV_PART \op, \v
    .endr
    .set qor_shav_part, 0
    .set qor_shav_parts, 0
.endm

# Group j (4 to 19) of a SHA-1 message schedule in such registers: groups 4
# to 7 by the engine's macro `first`, from the definition, and the others by
# `step`, from the recurrence.
.macro QOR_SHAV_SHA1_GROUP j, first, step, v
    .if (\j) < 8
    QOR_SHAV_RING8 \j, \first, \v
    .else
    QOR_SHAV_RING8 \j, \step, \v
    .endif
.endm

# The state words, `width` bytes each, into the working registers `regs`
# (through the pointer register `ptr`); and at the end of a block added
# into the state, which is also where the next block starts.
.macro QOR_SHAV_LOAD_STATE ptr, width, regs:vararg
    mov \ptr, [rsp + QOR_SHAV_V_STATE]
    .set qor_shav_at, 0
    .irp reg, \regs
    mov \reg, [\ptr + qor_shav_at]
    .set qor_shav_at, qor_shav_at + \width
    .endr
.endm
.macro QOR_SHAV_ADD_STATE ptr, width, regs:vararg
    mov \ptr, [rsp + QOR_SHAV_V_STATE]
    .set qor_shav_at, 0
    .irp reg, \regs
    add \reg, [\ptr + qor_shav_at]
    mov [\ptr + qor_shav_at], \reg
    .set qor_shav_at, qor_shav_at + \width
    .endr
.endm
)ASM");

namespace qor_sha_x86 {

// True when the processor has what the engines need.
inline bool hasAvx2AndBmi() {
    __builtin_cpu_init();
    return qor_cpu::hasAvx2() && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}

// True when the processor (and the system, which saves the vector
// registers) has AVX: what the 128-bit engines need.
inline bool hasAvx() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}

// True when the processor has SSSE3 (pshufb, palignr): what the 128-bit
// engines need without AVX.
inline bool hasSsse3() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

}  // namespace qor_sha_x86

#endif
