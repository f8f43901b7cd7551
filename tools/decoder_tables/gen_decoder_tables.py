#!/usr/bin/env python3
"""Writes reporter/disasm/decoder_tables.inc: the decoder's opcode tables.

The opcode maps below are written with symbolic operand kinds; this script composes the
16-bit flag words, numbers the mnemonic entries and joins them into the 01h-separated
mnemonic list. Run it after changing a row, and commit both files:

    python3 tools/decoder_tables/gen_decoder_tables.py
"""
import os
import sys

# Flag word bits.
R_NONE, R_B, R_W, R_SEG, R_D, R_MMX, R_ST, R_XMM = range(8)
# Without a ModR/M byte the register kinds read differently.
R_AL, R_EAX, R_OPB, R_OPD, R_EAXOPD, R_ACCDX = 1, 2, 4, 5, 6, 7
M_GRP, M_B, M_W, M_D, M_Q, M_T, M_O = (k << 3 for k in range(1, 8))
R66 = 0x40
M66 = 0x80
SZ = 0x100
REV = 0x200
I8 = 0x400
I16 = 0x800
IOP = 0xC00
REL = 0x1000
E_REG, E_RM, E_OP, E_EAX, E_REGRM, E_EAXRM, E_EAXOP = (k << 13 for k in range(1, 8))
INVALID = 0xFFFF

# Operand shapes that recur.
EbGb = R_B | M_B | REV
EvGv = R_D | M_D | R66 | M66 | REV
GbEb = R_B | M_B
GvEv = R_D | M_D | R66 | M66
ALIb = R_AL | I8
EAXIz = R_EAX | R66 | IOP
MMX = R_MMX | M_Q | R66 | M66        # mm, mm/m64; xmm, xmm/m128 after 66h
SSE = R_XMM | M_O                    # xmm, xmm/m128

one = {}
two = {}


def alu(base, name, effect):
    one[base + 0] = (EbGb | (E_RM if effect else 0), name)
    one[base + 1] = (EvGv | (E_RM if effect else 0), name)
    one[base + 2] = (GbEb | (E_REG if effect else 0), name)
    one[base + 3] = (GvEv | (E_REG if effect else 0), name)
    one[base + 4] = (ALIb | (E_EAX if effect else 0), name)
    one[base + 5] = (EAXIz | (E_EAX if effect else 0), name)


for i, name in enumerate(["add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"]):
    alu(i * 8, name, name != "cmp")
for op in (0x06, 0x0E, 0x16, 0x1E):
    one[op] = (0, "push    %seg")
for op in (0x07, 0x17, 0x1F):
    one[op] = (0, "pop     %seg")
one[0x27] = (E_EAX, "daa")
one[0x2F] = (E_EAX, "das")
one[0x37] = (E_EAX, "aaa")
one[0x3F] = (E_EAX, "aas")
for r in range(8):
    one[0x40 + r] = (R_OPD | R66 | E_OP, "inc")
    one[0x48 + r] = (R_OPD | R66 | E_OP, "dec")
    one[0x50 + r] = (R_OPD | R66, "push")
    one[0x58 + r] = (R_OPD | R66 | E_OP, "pop")
one[0x60] = (0, "pushad/pushaw")
one[0x61] = (0, "popad/popaw")
one[0x62] = (GvEv | SZ, "bound")
one[0x63] = (R_W | M_W | REV | E_RM, "arpl")
one[0x68] = (IOP, "push")
one[0x69] = (GvEv | IOP | E_REG, "imul")
one[0x6A] = (I8, "push")
one[0x6B] = (GvEv | I8 | E_REG, "imul")
one[0x6C] = (0, "insb")
one[0x6D] = (0, "insd/insw")
one[0x6E] = (0, "outsb")
one[0x6F] = (0, "outsd/outsw")
for c in range(16):
    one[0x70 + c] = (I8 | REL, "j%cc")
GRP1 = "add|or|adc|sbb|and|sub|xor|cmp"
one[0x80] = (M_B | SZ | I8, GRP1)
one[0x81] = (M_D | M66 | SZ | IOP, GRP1)
one[0x82] = (M_B | SZ | I8, GRP1)
one[0x83] = (M_D | M66 | SZ | I8, GRP1)
one[0x84] = (EbGb, "test")
one[0x85] = (EvGv, "test")
one[0x86] = (EbGb | E_REGRM, "xchg")
one[0x87] = (EvGv | E_REGRM, "xchg")
one[0x88] = (EbGb | E_RM, "mov")
one[0x89] = (EvGv | E_RM, "mov")
one[0x8A] = (GbEb | E_REG, "mov")
one[0x8B] = (GvEv | E_REG, "mov")
one[0x8C] = (R_SEG | M_W | REV | E_RM, "mov")
one[0x8D] = (R_D | R66 | M_D | E_REG, "lea")
one[0x8E] = (R_SEG | M_W, "mov")
one[0x8F] = (M_D | M66 | SZ | E_RM, "pop")
one[0x90] = (0, "nop///pause")
for r in range(1, 8):
    one[0x90 + r] = (R_EAXOPD | R66 | E_EAXOP, "xchg")
one[0x98] = (E_EAX, "cwde/cbw")
one[0x99] = (0, "cdq/cwd")
one[0x9A] = (0, "call")
one[0x9B] = (0, "wait")
one[0x9C] = (0, "pushfd/pushfw")
one[0x9D] = (0, "popfd/popfw")
one[0x9E] = (0, "sahf")
one[0x9F] = (E_EAX, "lahf")
one[0xA0] = (R_AL | E_EAX, "mov")
one[0xA1] = (R_EAX | R66 | E_EAX, "mov")
one[0xA2] = (R_AL | REV, "mov")
one[0xA3] = (R_EAX | R66 | REV, "mov")
one[0xA4] = (0, "movsb")
one[0xA5] = (0, "movsd/movsw")
one[0xA6] = (0, "cmpsb")
one[0xA7] = (0, "cmpsd/cmpsw")
one[0xA8] = (ALIb, "test")
one[0xA9] = (EAXIz, "test")
one[0xAA] = (0, "stosb")
one[0xAB] = (0, "stosd/stosw")
one[0xAC] = (E_EAX, "lodsb")
one[0xAD] = (E_EAX, "lodsd/lodsw")
one[0xAE] = (0, "scasb")
one[0xAF] = (0, "scasd/scasw")
for r in range(8):
    one[0xB0 + r] = (R_OPB | I8 | E_OP, "mov")
    one[0xB8 + r] = (R_OPD | R66 | IOP | E_OP, "mov")
GRP2 = "rol|ror|rcl|rcr|shl|shr|sal|sar"
one[0xC0] = (M_B | SZ | I8 | E_RM, GRP2)
one[0xC1] = (M_D | M66 | SZ | I8 | E_RM, GRP2)
one[0xC2] = (I16, "ret")
one[0xC3] = (0, "ret")
one[0xC4] = (R_D | R66 | M_D | E_REG, "les")
one[0xC5] = (R_D | R66 | M_D | E_REG, "lds")
one[0xC6] = (M_B | SZ | I8 | E_RM, "mov")
one[0xC7] = (M_D | M66 | SZ | IOP | E_RM, "mov")
one[0xC8] = (0, "enter")
one[0xC9] = (0, "leave")
one[0xCA] = (I16, "retf")
one[0xCB] = (0, "retf")
one[0xCC] = (0, "int     3")
one[0xCD] = (I8, "int")
one[0xCE] = (0, "into")
one[0xCF] = (0, "iretd/iret")
one[0xD0] = (M_B | SZ | E_RM, GRP2)
one[0xD1] = (M_D | M66 | SZ | E_RM, GRP2)
one[0xD2] = (M_B | SZ | E_RM, GRP2)
one[0xD3] = (M_D | M66 | SZ | E_RM, GRP2)
one[0xD4] = (I8 | E_EAX, "aam")
one[0xD5] = (I8 | E_EAX, "aad")
one[0xD6] = (E_EAX, "salc")
one[0xD7] = (E_EAX, "xlatb")
one[0xE0] = (I8 | REL, "loopne")
one[0xE1] = (I8 | REL, "loope")
one[0xE2] = (I8 | REL, "loop")
one[0xE3] = (I8 | REL, "jecxz")
one[0xE4] = (R_AL | I8 | E_EAX, "in")
one[0xE5] = (R_EAX | R66 | I8 | E_EAX, "in")
one[0xE6] = (R_AL | I8 | REV, "out")
one[0xE7] = (R_EAX | R66 | I8 | REV, "out")
one[0xE8] = (IOP | REL, "call")
one[0xE9] = (IOP | REL, "jmp")
one[0xEA] = (0, "jmp")
one[0xEB] = (I8 | REL, "jmp")
one[0xEC] = (R_ACCDX | E_EAX, "in")
one[0xED] = (R_ACCDX | R66 | E_EAX, "in")
one[0xEE] = (R_ACCDX | REV, "out")
one[0xEF] = (R_ACCDX | R66 | REV, "out")
one[0xF1] = (0, "int1")
one[0xF4] = (0, "hlt")
one[0xF5] = (0, "cmc")
for op, name in zip(range(0xF8, 0xFE), ["clc", "stc", "cli", "sti", "cld", "std"]):
    one[op] = (0, name)
GRP45 = "inc|dec|call|call|jmp|jmp|push"
one[0xFE] = (M_B | SZ | E_RM, GRP45)
one[0xFF] = (M_D | M66 | SZ, GRP45)
one[0xF6] = (M_GRP, "test|test|not|neg|mul|imul|div|idiv")
one[0xF7] = (M_GRP, "test|test|not|neg|mul|imul|div|idiv")
X87 = {
    0xD8: "add|mul|com|comp|sub|subr|div|divr",
    0xD9: "ld||st|stp|ldenv|ldcw|nstenv|nstcw|ld|xch|nop|stp1|chs-abs---tst-xam|"
          "ld1-ldl2t-ldl2e-ldpi-ldlg2-ldln2-ldz-|2xm1-yl2x-ptan-patan-xtract-prem1-decstp-incstp|"
          "prem-yl2xp1-sqrt-sincos-rndint-scale-sin-cos",
    0xDA: "iadd|imul|icom|icomp|isub|isubr|idiv|idivr|cmovb|cmove|cmovbe|cmovu||-ucompp||",
    0xDB: "ild|isttp|ist|istp||ld||stp|cmovnb|cmovne|cmovnbe|cmovnu|neni-ndisi-nclex-ninit-setpm|"
          "ucomi|comi|",
    0xDC: "add|mul|com|comp|sub|subr|div|divr|add|mul|com2|comp3|subr|sub|divr|div",
    0xDD: "ld|isttp|st|stp|rstor||nsave|nstsw|free|xch4|st|stp|ucom|ucomp||",
    0xDE: "iadd|imul|icom|icomp|isub|isubr|idiv|idivr|addp|mulp|comp5|compp|subrp|subp|divrp|divp",
    0xDF: "ild|isttp|ist|istp|bld|ild|bstp|istp|freep|xch7|stp8|stp9|nstsw  ax|ucomip|comip|",
}
for op, name in X87.items():
    one[op] = (M_GRP, name)

# Group table: the real flag words of F6h, F7h and D8h-DFh, memory forms then register
# forms, indexed by the ModR/M reg field.
M32, M64, M80, M16 = M_D | SZ, M_Q | SZ, M_T | SZ, M_W | SZ
STi = M_T                 # register form: st(i)
ST_STi = R_ST | M_T       # st, st(i)
STi_ST = R_ST | M_T | REV  # st(i), st
X = INVALID
f6 = [M_B | SZ | I8, X, M_B | SZ | E_RM, M_B | SZ | E_RM] + [M_B | SZ | E_EAX] * 4
f7 = [M_D | M66 | SZ | IOP, X, M_D | M66 | SZ | E_RM, M_D | M66 | SZ | E_RM] + \
     [M_D | M66 | SZ | E_EAX] * 4
groups = [
    (0xF6, f6, f6),
    (0xF7, f7, f7),
    (0xD8, [M32] * 8, [ST_STi, ST_STi, STi, STi, ST_STi, ST_STi, ST_STi, ST_STi]),
    (0xD9, [M32, X, M32, M32, M_D, M16, M_D, M16], [STi, STi, 0, STi, 0, 0, 0, 0]),
    (0xDA, [M32] * 8, [ST_STi] * 4 + [X, 0, X, X]),
    (0xDB, [M32, M32, M32, M32, X, M80, X, M80], [ST_STi] * 4 + [0, ST_STi, ST_STi, X]),
    (0xDC, [M64] * 8, [STi_ST, STi_ST, STi, STi, STi_ST, STi_ST, STi_ST, STi_ST]),
    (0xDD, [M64, M64, M64, M64, M_D, X, M_D, M16], [STi] * 6 + [X, X]),
    (0xDE, [M16] * 8, [STi_ST, STi_ST, STi, 0, STi_ST, STi_ST, STi_ST, STi_ST]),
    (0xDF, [M16, M16, M16, M16, M80, M64, M80, M64], [STi] * 4 + [0, ST_STi, ST_STi, X]),
]

# Two-byte opcodes (after 0Fh).
two[0x00] = (M_W | SZ, "sldt|str|lldt|ltr|verr|verw")
two[0x01] = (M_D, "sgdt|sidt|lgdt|lidt|smsw||lmsw|invlpg")
two[0x02] = (R_D | R66 | M_W | E_REG, "lar")
two[0x03] = (R_D | R66 | M_W | E_REG, "lsl")
two[0x06] = (0, "clts")
two[0x08] = (0, "invd")
two[0x09] = (0, "wbinvd")
two[0x0B] = (0, "ud2")
two[0x0D] = (M_B | SZ, "prefetch|prefetchw")
two[0x0E] = (0, "femms")
two[0x0F] = (R_MMX | M_Q | SZ | I8, "")
two[0x10] = (SSE, "movups/movupd/movsd/movss")
two[0x11] = (SSE | REV, "movups/movupd/movsd/movss")
two[0x12] = (SSE, "movhlPS:movlPS/movlPS/movddup/movsldup")
two[0x13] = (SSE | REV, "movlps/movlpd")
two[0x14] = (SSE, "unpcklps/unpcklpd")
two[0x15] = (SSE, "unpckhps/unpckhpd")
two[0x16] = (SSE, "movlhps:movhps/movhpd//movshdup")
two[0x17] = (SSE | REV, "movhps/movhpd")
two[0x18] = (M_B | SZ, "prefetchnta|prefetcht0|prefetcht1|prefetcht2")
for op in range(0x19, 0x20):
    two[op] = (M_D | M66 | SZ, "nop")
two[0x20] = (R_SEG | M_D | REV | E_RM, "mov")
two[0x21] = (R_SEG | M_D | REV | E_RM, "mov")
two[0x22] = (R_SEG | M_D, "mov")
two[0x23] = (R_SEG | M_D, "mov")
two[0x28] = (SSE, "movaps/movapd")
two[0x29] = (SSE | REV, "movaps/movapd")
two[0x2A] = (R_XMM | M_Q, "cvtpi2ps/cvtpi2pd/cvtsi2sd/cvtsi2ss")
two[0x2B] = (SSE | REV, "movntps/movntpd")
two[0x2C] = (R_MMX | M_O, "cvttps2pi/cvttpd2pi/cvttsd2si/cvttss2si")
two[0x2D] = (R_MMX | M_O, "cvtps2pi/cvtpd2pi/cvtsd2si/cvtss2si")
two[0x2E] = (SSE, "ucomiss/ucomisd")
two[0x2F] = (SSE, "comiss/comisd")
two[0x30] = (0, "wrmsr")
two[0x31] = (E_EAX, "rdtsc")
two[0x32] = (E_EAX, "rdmsr")
two[0x33] = (E_EAX, "rdpmc")
two[0x34] = (0, "sysenter")
two[0x35] = (0, "sysexit")
for c in range(16):
    two[0x40 + c] = (GvEv | E_REG, "cmov%cc")
two[0x50] = (R_D | M_O | E_REG, "movmskps/movmskpd")
for op, name in [(0x51, "sqrtPS"), (0x52, "rsqrtps//rsqrtps/rsqrtss"), (0x53, "rcpps//rcpps/rcpss"), (0x58, "addPS"),
                 (0x59, "mulPS"), (0x5C, "subPS"), (0x5D, "minPS"), (0x5E, "divPS"),
                 (0x5F, "maxPS")]:
    two[op] = (SSE, name)
for op, name in [(0x54, "and"), (0x55, "andn"), (0x56, "or"), (0x57, "xor")]:
    two[op] = (SSE, f"{name}PS//{name}ps/{name}ps")
two[0x5A] = (SSE, "cvtps2pd/cvtpd2ps/cvtsd2ss/cvtss2sd")
two[0x5B] = (SSE, "cvtdq2ps/cvtps2dq//cvttps2dq")
for op, name in zip(range(0x60, 0x6C), ["punpcklbw", "punpcklwd", "punpckldq", "packsswb",
                                         "pcmpgtb", "pcmpgtw", "pcmpgtd", "packuswb",
                                         "punpckhbw", "punpckhwd", "punpckhdq", "packssdw"]):
    two[op] = (MMX, name)
two[0x6C] = (MMX, "punpcklqdq")
two[0x6D] = (MMX, "punpckhqdq")
two[0x6E] = (R_MMX | R66 | M_D, "movd")
two[0x6F] = (MMX, "movq/movdqa//movdqu")
two[0x70] = (MMX | I8, "pshufw/pshufd/pshuflw/pshufhw")
two[0x71] = (M_Q | M66 | I8, "||psrlw||psraw||psllw|")
two[0x72] = (M_Q | M66 | I8, "||psrld||psrad||pslld|")
two[0x73] = (M_Q | M66 | I8, "||psrlq|psrldq|||psllq|pslldq")
two[0x74] = (MMX, "pcmpeqb")
two[0x75] = (MMX, "pcmpeqw")
two[0x76] = (MMX, "pcmpeqd")
two[0x77] = (0, "emms")
two[0x7C] = (SSE, "haddps/haddpd/haddps")
two[0x7D] = (SSE, "hsubps/hsubpd/hsubps")
two[0x7E] = (R_MMX | R66 | M_D | REV, "movd/movd//movq")
two[0x7F] = (MMX | REV, "movq/movdqa//movdqu")
for c in range(16):
    two[0x80 + c] = (IOP | REL, "j%cc")
    two[0x90 + c] = (M_B | SZ | E_RM, "set%cc")
two[0xA0] = (0, "push    %seg")
two[0xA1] = (0, "pop     %seg")
two[0xA2] = (0, "cpuid")
two[0xA3] = (EvGv, "bt")
two[0xA4] = (EvGv | I8 | E_RM, "shld")
two[0xA5] = (EvGv | E_RM, "shld")
two[0xA8] = (0, "push    %seg")
two[0xA9] = (0, "pop     %seg")
two[0xAA] = (0, "rsm")
two[0xAB] = (EvGv | E_RM, "bts")
two[0xAC] = (EvGv | I8 | E_RM, "shrd")
two[0xAD] = (EvGv | E_RM, "shrd")
two[0xAE] = (M_D, "fxsave|fxrstor|ldmxcsr|stmxcsr||lfence|mfence|sfence:clflush")
two[0xAF] = (GvEv | E_REG, "imul")
two[0xB0] = (EbGb | E_EAXRM, "cmpxchg")
two[0xB1] = (EvGv | E_EAXRM, "cmpxchg")
two[0xB2] = (R_D | R66 | M_D | E_REG, "lss")
two[0xB3] = (EvGv | E_RM, "btr")
two[0xB4] = (R_D | R66 | M_D | E_REG, "lfs")
two[0xB5] = (R_D | R66 | M_D | E_REG, "lgs")
two[0xB6] = (R_D | R66 | M_B | SZ | E_REG, "movzx")
two[0xB7] = (R_D | R66 | M_W | SZ | E_REG, "movzx")
two[0xBA] = (M_D | M66 | SZ | I8, "||||bt|bts|btr|btc")
two[0xBB] = (EvGv | E_RM, "btc")
two[0xBC] = (GvEv | E_REG, "bsf")
two[0xBD] = (GvEv | E_REG, "bsr")
two[0xBE] = (R_D | R66 | M_B | SZ | E_REG, "movsx")
two[0xBF] = (R_D | R66 | M_W | SZ | E_REG, "movsx")
two[0xC0] = (EbGb | E_REGRM, "xadd")
two[0xC1] = (EvGv | E_REGRM, "xadd")
two[0xC2] = (SSE | I8, "cmpPS")
two[0xC3] = (R_D | M_D | REV, "movnti")
two[0xC4] = (R_MMX | R66 | M_D | I8, "pinsrw")
two[0xC5] = (R_D | M_Q | M66 | I8 | E_REG, "pextrw")
two[0xC6] = (SSE | I8, "shufps/shufpd")
two[0xC7] = (M_Q | SZ | E_EAX, "cmpxchg8b")
for r in range(8):
    two[0xC8 + r] = (R_OPD | E_OP, "bswap")
two[0xD0] = (SSE, "addsubps/addsubpd/addsubps")
two[0xD6] = (MMX | REV, "/movq/movdq2q/movq2dq")
two[0xD7] = (R_D | M_Q | M66 | E_REG, "pmovmskb")
two[0xE6] = (SSE, "/cvttpd2dq/cvtpd2dq/cvtdq2pd")
two[0xE7] = (MMX | REV, "movntq/movntdq")
two[0xF0] = (SSE, "lddqu")
two[0xF7] = (MMX, "maskmovq/maskmovdqu")
for op, name in {
    0xD1: "psrlw", 0xD2: "psrld", 0xD3: "psrlq", 0xD4: "paddq", 0xD5: "pmullw",
    0xD8: "psubusb", 0xD9: "psubusw", 0xDA: "pminub", 0xDB: "pand", 0xDC: "paddusb",
    0xDD: "paddusw", 0xDE: "pmaxub", 0xDF: "pandn", 0xE0: "pavgb", 0xE1: "psraw",
    0xE2: "psrad", 0xE3: "pavgw", 0xE4: "pmulhuw", 0xE5: "pmulhw", 0xE8: "psubsb",
    0xE9: "psubsw", 0xEA: "pminsw", 0xEB: "por", 0xEC: "paddsb", 0xED: "paddsw",
    0xEE: "pmaxsw", 0xEF: "pxor", 0xF1: "psllw", 0xF2: "pslld", 0xF3: "psllq",
    0xF4: "pmuludq", 0xF5: "pmaddwd", 0xF6: "psadbw", 0xF8: "psubb", 0xF9: "psubw",
    0xFA: "psubd", 0xFB: "psubq", 0xFC: "paddb", 0xFD: "paddw", 0xFE: "paddd",
}.items():
    two[op] = (MMX, name)

# AMD 3DNow! suffix bytes (0F 0F /r ib).
NOW3D = {
    0x0C: "pi2fw", 0x0D: "pi2fd", 0x1C: "pf2iw", 0x1D: "pf2id", 0x8A: "pfnacc",
    0x8E: "pfpnacc", 0x90: "pfcmpge", 0x94: "pfmin", 0x96: "pfrcp", 0x97: "pfrsqrt",
    0x9A: "pfsub", 0x9E: "pfadd", 0xA0: "pfcmpgt", 0xA4: "pfmax", 0xA6: "pfrcpit1",
    0xA7: "pfrsqit1", 0xAA: "pfsubr", 0xAE: "pfacc", 0xB0: "pfcmpeq", 0xB4: "pfmul",
    0xB6: "pfrcpit2", 0xB7: "pmulhrw", 0xBB: "pswapd", 0xBF: "pavgusb",
}


def main():
    entries = []
    index = {}

    def number(name):
        if not name:
            return 0
        if name not in index:
            entries.append(name)
            index[name] = len(entries)
        return index[name]

    flags1 = [INVALID] * 256
    flags2 = [INVALID] * 256
    names1 = [0] * 256
    names2 = [0] * 256
    for table, flags, names in ((one, flags1, names1), (two, flags2, names2)):
        for op in sorted(table):
            word, name = table[op]
            flags[op] = word
            names[op] = number(name)
    for name in entries:
        assert "\x01" not in name
    valid3d = [0] * 23
    for suffix in NOW3D:
        bit = suffix - 0x08
        valid3d[bit // 8] |= 1 << (bit % 8)
    now3d = "".join("|" + "\\x%02x" % s + n for s, n in sorted(NOW3D.items()))

    out = []
    w = out.append
    w("// Generated by tools/decoder_tables/gen_decoder_tables.py; do not edit by hand.")
    w("// Opcode maps of the general, x87, MMX, SSE, SSE2, SSE3 and 3DNow! instructions.")
    w("")

    def words(name, values, fmt, per):
        w(f"{name} = {{")
        for i in range(0, len(values), per):
            w("    " + " ".join(fmt % v + "," for v in values[i:i + per]))
        w("};")

    words("const uint16_t kOneByteFlags[256]", flags1, "0x%04X", 8)
    words("const uint16_t kTwoByteFlags[256]", flags2, "0x%04X", 8)
    words("const uint8_t kOneByteMnemonic[256]", names1, "%3d", 16)
    words("const uint8_t kTwoByteMnemonic[256]", names2, "%3d", 16)
    w(f"const unsigned kMnemonicCount = {len(entries)};")
    w("// Entries separated by 01h; entry n (1-based) starts at kMnemonicStart[n - 1].")
    w("const char kMnemonicList[] =")
    offsets = []
    pos = 0
    for i, name in enumerate(entries):
        offsets.append(pos)
        sep = "\\x01" if i + 1 < len(entries) else ""
        w(f'    "{name}{sep}"')
        pos += len(name) + 1
    w("    ;")
    words("const uint16_t kMnemonicStart[kMnemonicCount + 1]", offsets + [pos], "%4d", 12)
    w("const TGroupEntry kGroupTable[10] = {")
    for op, mem, reg in groups:
        w("    {0x%02X, {%s},\n           {%s}}," % (
            op, ", ".join("0x%04X" % v for v in mem), ", ".join("0x%04X" % v for v in reg)))
    w("};")
    w("// \"|\", suffix byte, name; searched by the suffix byte of 0F 0Fh.")
    w(f'const char k3DNowList[] = "{now3d}";')
    words("const uint8_t k3DNowValid[23]", valid3d, "0x%02X", 12)
    w('const char kConditionList[] = "o|no|b|nb|z|nz|be|a|s|ns|p|np|l|ge|le|g";')
    text = "\n".join(out) + "\n"
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "reporter", "stack", "decoder_tables.inc")
    with open(target, "w") as f:
        f.write(text)
    print(f"{target}: {len(entries)} mnemonic entries")


if __name__ == "__main__":
    main()
