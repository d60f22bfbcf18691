// The SHA-256 and SHA-512 block engines of x86-64 processors without
// SSSE3: the generic engines there.  The portable C++ (sha_portable.cpp) is
// the same algorithm, but the compiler, short of registers for the eight
// working words, the message schedule and the temporaries, adds new message
// words to the ring in memory and reads them back, and moves words between
// registers and the stack from one build to the next; here each round is a
// fixed sequence of instructions of the base instruction set (no BMI:
// rotations by ror of a copy).  One text makes both engines, on 32-bit or
// 64-bit words.
//
// A round t (a to h rotating through the macro's arguments, h ending up
// as the new a and d as the new e):
//
//     h += W[t] + K[t] + Ch(e, f, g) + S1(e);   d += h
//     h += S0(a) + Maj(a, b, c)
//
// With 45 instructions a round, issue rather than the chain from one e to
// the next (S1, two adds) sets the pace on a six-wide core: adding the
// terms that do not wait for e into d before S1(e), which shortens that
// chain by one add, costs an instruction more a round and measured no
// faster on an Intel Raptor Cove core.  S1 and S0 nest their rotations
// (each on the one before's result), and so do the message's small sigmas:
// for SHA-512 S1(e) = ror14(ror4(ror23(e) ^ e) ^ e) and S0(a) =
// ror28(ror6(ror5(a) ^ a) ^ a); for SHA-256 S1(e) = ror6(ror5(ror14(e) ^ e)
// ^ e) and S0(a) = ror2(ror11(ror9(a) ^ a) ^ a).  Maj(a, b, c) is ((a ^ b)
// & (b ^ c)) ^ b, where b ^ c is the round before's a ^ b: two registers
// take turns holding it.
//
// Rounds 0 to 15 take the block's words in straight code; the rest run as
// a loop of sixteen (three times for SHA-256, four for SHA-512), which
// keeps the code in the decoded-instruction cache.  The message words live
// in a ring of sixteen on the stack.
//
// Only for ELF x86-64 (System V calls); elsewhere the portable engines do
// the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha256_blocks_scalar(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                         const std::uint32_t* roundConstants) __attribute__((visibility("hidden")));
extern "C" void qor_sha512_blocks_scalar(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count,
                                         const std::uint64_t* roundConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*   the words sha_x86_asm.h lays out (V_END the round constants
//         of the last run of sixteen, where the loop of rounds 16 on stops)
//   RING  the sixteen most recent message words, word t at w (t mod 16)
//         for words of w bytes
//
// Registers (the 32-bit halves for SHA-256):
//   r8-r15     a to h, rotating through the round macro's arguments
//   rcx, rdx   a ^ b of the round before, taking turns (t mod 2)
//   rsi        W[t];  rax, rbx the round's temporaries
//   rdi        the block (read in rounds 0 to 15)
//   rbp        the round constants of this run of sixteen
//
// The macros take `w`, the word's bytes (4 or 8), and `p`, the first
// letter of the temporaries' names (e or r).
__asm__(R"ASM(
    .intel_syntax noprefix
    .equ QOR_SHA2S_RING, 64
    .equ QOR_SHA2S_FRAME, 192

# x = ror(n3, ror(n2, ror(n1, x) ^ x0) ^ x0) for x0 the value of x on entry
# kept in `x0`.
.macro QOR_SHA2S_ROR3 x, x0, n1, n2, n3
    ror \x, \n1
    xor \x, \x0
    ror \x, \n2
    xor \x, \x0
    ror \x, \n3
.endm

# x = ror(n2, ror(n1, x) ^ x) ^ (x >> n3), with `t` a temporary.
.macro QOR_SHA2S_SMALL x, t, n1, n2, n3
    mov \t, \x
    ror \x, \n1
    xor \x, \t
    shr \t, \n3
    ror \x, \n2
    xor \x, \t
.endm

# The message word t into psi (and the ring).
.macro QOR_SHA2S_WORD w, p, t
    .if (\t) < 16
    mov \p\()si, [rdi + \w * (\t)]
    bswap \p\()si
    mov [rsp + QOR_SHA2S_RING + \w * (\t)], \p\()si
    .else
    mov \p\()si, [rsp + QOR_SHA2S_RING + \w * (((\t) - 15) & 15)]
    mov \p\()bx, [rsp + QOR_SHA2S_RING + \w * (((\t) - 2) & 15)]
    .if \w == 8
    QOR_SHA2S_SMALL rsi, rax, 7, 1, 7
    QOR_SHA2S_SMALL rbx, rax, 42, 19, 6
    .else
    QOR_SHA2S_SMALL esi, eax, 11, 7, 3
    QOR_SHA2S_SMALL ebx, eax, 2, 17, 10
    .endif
    add \p\()si, \p\()bx
    add \p\()si, [rsp + QOR_SHA2S_RING + \w * (((\t) - 7) & 15)]
    add \p\()si, [rsp + QOR_SHA2S_RING + \w * ((\t) & 15)]
    mov [rsp + QOR_SHA2S_RING + \w * ((\t) & 15)], \p\()si
    .endif
.endm

# One round; `ab` receives a ^ b, `bc` holds b ^ c.
.macro QOR_SHA2S_ROUND w, p, a, b, c, d, e, f, g, h, t, ab, bc
    QOR_SHA2S_WORD \w, \p, \t
    add \h, \p\()si
    add \h, [rbp + \w * ((\t) & 15)]
    mov \p\()ax, \f
    xor \p\()ax, \g
    and \p\()ax, \e
    xor \p\()ax, \g
    add \h, \p\()ax
    mov \p\()ax, \e
    .if \w == 8
    QOR_SHA2S_ROR3 rax, \e, 23, 4, 14
    .else
    QOR_SHA2S_ROR3 eax, \e, 14, 5, 6
    .endif
    add \h, \p\()ax
    add \d, \h
    mov \p\()bx, \a
    mov \ab, \a
    xor \ab, \b
    and \bc, \ab
    xor \bc, \b
    .if \w == 8
    QOR_SHA2S_ROR3 rbx, \a, 5, 6, 28
    .else
    QOR_SHA2S_ROR3 ebx, \a, 9, 11, 2
    .endif
    add \h, \bc
    add \h, \p\()bx
.endm

# Round t with its pair of a ^ b registers picked by t mod 2.
.macro QOR_SHA2S_R w, p, a, b, c, d, e, f, g, h, t
    .if ((\t) % 2) == 0
    QOR_SHA2S_ROUND \w, \p, \a, \b, \c, \d, \e, \f, \g, \h, \t, \p\()cx, \p\()dx
    .else
    QOR_SHA2S_ROUND \w, \p, \a, \b, \c, \d, \e, \f, \g, \h, \t, \p\()dx, \p\()cx
    .endif
.endm

# Eight rounds from t on, on the working variables r0 to r7 (a to h where
# the block starts): they are back in their registers after.
.macro QOR_SHA2S_EIGHT w, p, t, r0, r1, r2, r3, r4, r5, r6, r7
    QOR_SHA2S_R \w, \p, \r0, \r1, \r2, \r3, \r4, \r5, \r6, \r7, (\t)
    QOR_SHA2S_R \w, \p, \r7, \r0, \r1, \r2, \r3, \r4, \r5, \r6, (\t) + 1
    QOR_SHA2S_R \w, \p, \r6, \r7, \r0, \r1, \r2, \r3, \r4, \r5, (\t) + 2
    QOR_SHA2S_R \w, \p, \r5, \r6, \r7, \r0, \r1, \r2, \r3, \r4, (\t) + 3
    QOR_SHA2S_R \w, \p, \r4, \r5, \r6, \r7, \r0, \r1, \r2, \r3, (\t) + 4
    QOR_SHA2S_R \w, \p, \r3, \r4, \r5, \r6, \r7, \r0, \r1, \r2, (\t) + 5
    QOR_SHA2S_R \w, \p, \r2, \r3, \r4, \r5, \r6, \r7, \r0, \r1, (\t) + 6
    QOR_SHA2S_R \w, \p, \r1, \r2, \r3, \r4, \r5, \r6, \r7, \r0, (\t) + 7
.endm

# The engine `name`: `rounds` rounds on words of w bytes, the working
# variables in `regs` (eight registers).
.macro QOR_SHA2S_ENGINE name, w, p, rounds, regs:vararg
    QOR_SHAV_ENTER \name, QOR_SHA2S_FRAME, .L\name\()_none
    lea rax, [rcx + \w * ((\rounds) - 16)]
    mov [rsp + QOR_SHAV_V_END], rax
    QOR_SHAV_LOAD_STATE rax, \w, \regs
    .p2align 5
.L\name\()_block:
    mov rbp, [rsp + QOR_SHAV_V_END]
    mov rdi, [rsp + QOR_SHAV_V_BLOCKS]
    QOR_SHA_PREFETCH rdi, \w / 4
    sub rbp, \w * ((\rounds) - 16)
    QOR_SHA2S_FIRST_BC \p, \regs
    QOR_SHA2S_EIGHT \w, \p, 0, \regs
    QOR_SHA2S_EIGHT \w, \p, 8, \regs
    .p2align 5
.L\name\()_rounds:
    add rbp, 16 * \w
    QOR_SHA2S_EIGHT \w, \p, 16, \regs
    QOR_SHA2S_EIGHT \w, \p, 24, \regs
    cmp rbp, [rsp + QOR_SHAV_V_END]
    jne .L\name\()_rounds
    QOR_SHAV_ADD_STATE rax, \w, \regs
    add qword ptr [rsp + QOR_SHAV_V_BLOCKS], 16 * \w
    dec qword ptr [rsp + QOR_SHAV_V_COUNT]
    jnz .L\name\()_block
    QOR_SHAV_LEAVE \name, .L\name\()_none, 0
.endm

# b ^ c for the first round, into pdx.
.macro QOR_SHA2S_FIRST_BC p, a, b, c, rest:vararg
    mov \p\()dx, \b
    xor \p\()dx, \c
.endm

    .pushsection .text
    QOR_SHA2S_ENGINE qor_sha256_blocks_scalar, 4, e, 64, r8d, r9d, r10d, r11d, r12d, r13d, r14d, r15d
    QOR_SHA2S_ENGINE qor_sha512_blocks_scalar, 8, r, 80, r8, r9, r10, r11, r12, r13, r14, r15

    .att_syntax prefix
    .popsection
)ASM");

namespace {

void sha256BlocksScalar(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha256_blocks_scalar(state, blocks, count, qor_sha::sha256RoundConstants.data());
}

void sha512BlocksScalar(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha512_blocks_scalar(state, blocks, count, qor_sha::sha512RoundConstants.data());
}

}  // namespace

namespace qor_sha {

BlockEngine32 sha256GenericEngine() { return &sha256BlocksScalar; }
BlockEngine64 sha512GenericEngine() { return &sha512BlocksScalar; }

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha256GenericEngine() { return &sha256BlocksPortable; }
BlockEngine64 sha512GenericEngine() { return &sha512BlocksPortable; }

}  // namespace qor_sha

#endif
