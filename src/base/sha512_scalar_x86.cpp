// The SHA-512 block engine of x86-64 processors without SSSE3: the generic
// engine there.  The portable C++ (sha_portable.cpp) is the same algorithm,
// but the compiler, short of registers for eight 64-bit words, the message
// schedule and the temporaries, adds new message words to the ring in
// memory and reads them back, and moves words between registers and the
// stack from one build to the next; here each round is a fixed sequence of
// instructions of the base instruction set (no BMI: rotations by ror of a
// copy).
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
// faster on an Intel Raptor Cove core.  S1 and S0 nest their
// rotations (each on the one before's result): S1(e) = ror14(ror4(ror23(e)
// ^ e) ^ e), S0(a) = ror28(ror6(ror5(a) ^ a) ^ a), and the message's small
// sigmas likewise.  Maj(a, b, c) is ((a ^ b) & (b ^ c)) ^ b, where b ^ c is
// the round before's a ^ b: two registers take turns holding it.
//
// Rounds 0 to 15 take the block's words in straight code; rounds 16 to 79
// run as a loop of sixteen (four times), which keeps the code in the
// decoded-instruction cache.  The message words live in a ring of sixteen
// on the stack.
//
// Only for ELF x86-64 (System V calls); elsewhere the portable engine does
// the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha512_blocks_scalar(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count,
                                         const std::uint64_t* roundConstants) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*   the words sha_x86_asm.h lays out (V_END the round constants
//         of the last run of sixteen, where the loop of rounds 16 on stops)
//   RING  the sixteen most recent message words, word t at 8 (t mod 16)
//
// Registers:
//   r8-r15     a to h, rotating through the round macro's arguments
//   rcx, rdx   a ^ b of the round before, taking turns (t mod 2)
//   rsi        W[t];  rax, rbx, rdi the round's temporaries (rdi the
//              block in rounds 0 to 15)
//   rbp        the round constants of this run of sixteen
__asm__(R"ASM(
    .intel_syntax noprefix
    .equ QOR_SHA512S_RING, 64
    .equ QOR_SHA512S_FRAME, 192

# The message word t into rsi (and the ring).
.macro QOR_SHA512S_WORD t
    .if (\t) < 16
    mov rsi, [rdi + 8 * (\t)]
    bswap rsi
    mov [rsp + QOR_SHA512S_RING + 8 * (\t)], rsi
    .else
    mov rsi, [rsp + QOR_SHA512S_RING + 8 * (((\t) - 15) & 15)]
    mov rax, rsi
    ror rsi, 7
    xor rsi, rax
    shr rax, 7
    ror rsi, 1
    xor rsi, rax
    mov rbx, [rsp + QOR_SHA512S_RING + 8 * (((\t) - 2) & 15)]
    mov rax, rbx
    ror rbx, 42
    xor rbx, rax
    shr rax, 6
    ror rbx, 19
    xor rbx, rax
    add rsi, rbx
    add rsi, [rsp + QOR_SHA512S_RING + 8 * (((\t) - 7) & 15)]
    add rsi, [rsp + QOR_SHA512S_RING + 8 * ((\t) & 15)]
    mov [rsp + QOR_SHA512S_RING + 8 * ((\t) & 15)], rsi
    .endif
.endm

# One round; `ab` receives a ^ b, `bc` holds b ^ c.
.macro QOR_SHA512S_ROUND a, b, c, d, e, f, g, h, t, ab, bc
    QOR_SHA512S_WORD \t
    add \h, rsi
    add \h, [rbp + 8 * ((\t) & 15)]
    mov rax, \f
    xor rax, \g
    and rax, \e
    xor rax, \g
    add \h, rax
    mov rax, \e
    ror rax, 23
    xor rax, \e
    ror rax, 4
    xor rax, \e
    ror rax, 14
    add \h, rax
    add \d, \h
    mov rbx, \a
    ror rbx, 5
    mov \ab, \a
    xor rbx, \a
    xor \ab, \b
    ror rbx, 6
    and \bc, \ab
    xor rbx, \a
    xor \bc, \b
    ror rbx, 28
    add \h, \bc
    add \h, rbx
.endm

# Round t with its pair of a ^ b registers picked by t mod 2.
.macro QOR_SHA512S_R a, b, c, d, e, f, g, h, t
    .if ((\t) % 2) == 0
    QOR_SHA512S_ROUND \a, \b, \c, \d, \e, \f, \g, \h, \t, rcx, rdx
    .else
    QOR_SHA512S_ROUND \a, \b, \c, \d, \e, \f, \g, \h, \t, rdx, rcx
    .endif
.endm

# Eight rounds from t on: the working variables back in their registers.
.macro QOR_SHA512S_EIGHT t
    QOR_SHA512S_R r8, r9, r10, r11, r12, r13, r14, r15, (\t)
    QOR_SHA512S_R r15, r8, r9, r10, r11, r12, r13, r14, (\t) + 1
    QOR_SHA512S_R r14, r15, r8, r9, r10, r11, r12, r13, (\t) + 2
    QOR_SHA512S_R r13, r14, r15, r8, r9, r10, r11, r12, (\t) + 3
    QOR_SHA512S_R r12, r13, r14, r15, r8, r9, r10, r11, (\t) + 4
    QOR_SHA512S_R r11, r12, r13, r14, r15, r8, r9, r10, (\t) + 5
    QOR_SHA512S_R r10, r11, r12, r13, r14, r15, r8, r9, (\t) + 6
    QOR_SHA512S_R r9, r10, r11, r12, r13, r14, r15, r8, (\t) + 7
.endm

    .text
    QOR_SHAV_ENTER qor_sha512_blocks_scalar, QOR_SHA512S_FRAME, .Lqor_sha512s_none
    lea rax, [rcx + 512]
    mov [rsp + QOR_SHAV_V_END], rax
    QOR_SHAV_LOAD_STATE rax, 8, r8, r9, r10, r11, r12, r13, r14, r15
    .p2align 5
.Lqor_sha512s_block:
    mov rbp, [rsp + QOR_SHAV_V_END]
    mov rdi, [rsp + QOR_SHAV_V_BLOCKS]
    sub rbp, 512
    mov rdx, r9
    xor rdx, r10
    QOR_SHA512S_EIGHT 0
    QOR_SHA512S_EIGHT 8
    .p2align 5
.Lqor_sha512s_rounds:
    add rbp, 128
    QOR_SHA512S_EIGHT 16
    QOR_SHA512S_EIGHT 24
    cmp rbp, [rsp + QOR_SHAV_V_END]
    jne .Lqor_sha512s_rounds
    QOR_SHAV_ADD_STATE rax, 8, r8, r9, r10, r11, r12, r13, r14, r15
    add qword ptr [rsp + QOR_SHAV_V_BLOCKS], 128
    dec qword ptr [rsp + QOR_SHAV_V_COUNT]
    jnz .Lqor_sha512s_block
    QOR_SHAV_LEAVE qor_sha512_blocks_scalar, .Lqor_sha512s_none, 0

    .att_syntax prefix
)ASM");

namespace {

void sha512BlocksScalar(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha512_blocks_scalar(state, blocks, count, qor_sha::sha512RoundConstants.data());
}

}  // namespace

namespace qor_sha {

BlockEngine64 sha512GenericEngine() { return &sha512BlocksScalar; }

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine64 sha512GenericEngine() { return &sha512BlocksPortable; }

}  // namespace qor_sha

#endif
