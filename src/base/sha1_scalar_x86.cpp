// The SHA-1 block engine of x86-64 processors without SSSE3: the generic
// engine there.  The portable C++ (sha_portable.cpp) is the same algorithm,
// but the compiler lays its message schedule out differently each time the
// code around it changes, reloading words it has just stored and keeping
// copies it does not need; here every round takes the same fixed fourteen
// or so instructions, with general registers and the base instruction set
// only (no BMI: rotations by plain rol).
//
// A round t (a to e rotating through the macro's arguments):
//
//     W[t] = the block's word, byte-swapped          (t < 16)
//          = rol1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16])  (t >= 16)
//     e += W[t] + K;  e += f(b, c, d);  e += rol5(a);  b = rol30(b)
//
// W[t-3] is in a register: three take turns, word t in the one numbered
// t mod 3, so that the round that makes word t starts from the register
// holding word t - 3 and xors the other three in from the ring of sixteen
// on the stack, where it then stores word t (but for the last eight, which
// no later word reads).  rol5(a) is added last: a, made by the round
// before, is the end of the chain from one a to the next; W + K and the
// function of b, c and d are in e by then.
//
// Only for ELF x86-64 (System V calls); elsewhere the portable engine does
// the work.
#include "base/sha.h"
#include "base/sha_x86_asm.h"

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))

extern "C" void qor_sha1_blocks_scalar(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                                       const void* unused) __attribute__((visibility("hidden")));

// Frame (64-byte aligned, below the saved registers):
//   V_*   the words sha_x86_asm.h lays out (kept, but the loop runs on
//         registers)
//   RING  the sixteen most recent message words, word t at 4 (t mod 16)
//
// Registers:
//   r11d-r15d  a to e, rotating through the round macro's arguments
//   ebx, edx, ebp   W[t] for t mod 3 = 0, 1, 2
//   eax, esi   the function of b, c and d;  ecx  rol5(a)
//   rdi the state;  r9 the block;  r10 the blocks left
__asm__(R"ASM(
    .intel_syntax noprefix
    .equ QOR_SHA1S_RING, 64
    .equ QOR_SHA1S_FRAME, 128

# One round, W[t] in register `w`.
.macro QOR_SHA1S_ROUND a, b, c, d, e, t, w
    .if (\t) < 16
    mov \w, [r9 + 4 * (\t)]
    bswap \w
    mov [rsp + QOR_SHA1S_RING + 4 * (\t)], \w
    .else
    xor \w, [rsp + QOR_SHA1S_RING + 4 * (((\t) - 8) & 15)]
    xor \w, [rsp + QOR_SHA1S_RING + 4 * (((\t) - 14) & 15)]
    xor \w, [rsp + QOR_SHA1S_RING + 4 * ((\t) & 15)]
    rol \w, 1
    .if (\t) < 72
    mov [rsp + QOR_SHA1S_RING + 4 * ((\t) & 15)], \w
    .endif
    .endif
    .if (\t) < 20
    lea \e, [\e + \w + 0x5A827999]
    mov eax, \c
    xor eax, \d
    and eax, \b
    xor eax, \d
    add \e, eax
    .elseif (\t) < 40
    lea \e, [\e + \w + 0x6ED9EBA1]
    mov eax, \b
    xor eax, \c
    xor eax, \d
    add \e, eax
    .elseif (\t) < 60
    lea \e, [\e + \w - 0x70E44324]
    mov eax, \c
    and eax, \d
    mov esi, \c
    add \e, eax
    xor esi, \d
    and esi, \b
    add \e, esi
    .else
    lea \e, [\e + \w - 0x359D3E2A]
    mov eax, \b
    xor eax, \c
    xor eax, \d
    add \e, eax
    .endif
    mov ecx, \a
    rol ecx, 5
    rol \b, 30
    add \e, ecx
.endm

# Round t with its word register picked by t mod 3.
.macro QOR_SHA1S_R a, b, c, d, e, t
    .if ((\t) % 3) == 0
    QOR_SHA1S_ROUND \a, \b, \c, \d, \e, \t, ebx
    .elseif ((\t) % 3) == 1
    QOR_SHA1S_ROUND \a, \b, \c, \d, \e, \t, edx
    .else
    QOR_SHA1S_ROUND \a, \b, \c, \d, \e, \t, ebp
    .endif
.endm

# Five rounds from t on: the working variables back in their registers.
.macro QOR_SHA1S_FIVE t
    QOR_SHA1S_R r11d, r12d, r13d, r14d, r15d, (\t)
    QOR_SHA1S_R r15d, r11d, r12d, r13d, r14d, (\t) + 1
    QOR_SHA1S_R r14d, r15d, r11d, r12d, r13d, (\t) + 2
    QOR_SHA1S_R r13d, r14d, r15d, r11d, r12d, (\t) + 3
    QOR_SHA1S_R r12d, r13d, r14d, r15d, r11d, (\t) + 4
.endm

    .pushsection .text
    QOR_SHAV_ENTER qor_sha1_blocks_scalar, QOR_SHA1S_FRAME, .Lqor_sha1s_none
    mov r9, rsi
    mov r10, rdx
    mov r11d, [rdi]
    mov r12d, [rdi + 4]
    mov r13d, [rdi + 8]
    mov r14d, [rdi + 12]
    mov r15d, [rdi + 16]
    .p2align 5
.Lqor_sha1s_block:
    QOR_SHA_PREFETCH r9
    .irp t, 0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75
    QOR_SHA1S_FIVE \t
    .endr
    add r11d, [rdi]
    add r12d, [rdi + 4]
    add r13d, [rdi + 8]
    add r14d, [rdi + 12]
    add r15d, [rdi + 16]
    mov [rdi], r11d
    mov [rdi + 4], r12d
    mov [rdi + 8], r13d
    mov [rdi + 12], r14d
    mov [rdi + 16], r15d
    add r9, 64
    dec r10
    jnz .Lqor_sha1s_block
    QOR_SHAV_LEAVE qor_sha1_blocks_scalar, .Lqor_sha1s_none, 0

    .att_syntax prefix
    .popsection
)ASM");

namespace {

void sha1BlocksScalar(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    qor_sha1_blocks_scalar(state, blocks, count, nullptr);
}

}  // namespace

namespace qor_sha {

BlockEngine32 sha1GenericEngine() { return &sha1BlocksScalar; }

}  // namespace qor_sha

#else

namespace qor_sha {

BlockEngine32 sha1GenericEngine() { return &sha1BlocksPortable; }

}  // namespace qor_sha

#endif
