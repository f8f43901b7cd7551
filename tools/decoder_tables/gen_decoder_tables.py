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
# Register forms: reg 1 monitor/mwait, reg 2 xgetbv/xsetbv, reg 7 rdtscp (by r/m).
two[0x01] = (M_D, "sgdt|sidt|lgdt|lidt|smsw||lmsw|invlpg||monitor-mwait|xgetbv-xsetbv||smsw||lmsw|-rdtscp")
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
two[0xAE] = (M_D, "fxsave|fxrstor|ldmxcsr|stmxcsr|xsave|xrstor|xsaveopt|clflush||||||lfence|mfence|sfence")
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
two[0xB8] = (GvEv | E_REG, "///popcnt")
two[0xBC] = (GvEv | E_REG, "bsf///tzcnt")
two[0xBD] = (GvEv | E_REG, "bsr///lzcnt")
two[0xBE] = (R_D | R66 | M_B | SZ | E_REG, "movsx")
two[0xBF] = (R_D | R66 | M_W | SZ | E_REG, "movsx")
two[0xC0] = (EbGb | E_REGRM, "xadd")
two[0xC1] = (EvGv | E_REGRM, "xadd")
two[0xC2] = (SSE | I8, "cmpPS")
two[0xC3] = (R_D | M_D | REV, "movnti")
two[0xC4] = (R_MMX | R66 | M_D | I8, "pinsrw")
two[0xC5] = (R_D | M_Q | M66 | I8 | E_REG, "pextrw")
two[0xC6] = (SSE | I8, "shufps/shufpd")
# Memory form reg 1 cmpxchg8b; register forms reg 6 and 7 rdrand and rdseed.
two[0xC7] = (M_Q | SZ | E_EAX, "|cmpxchg8b|||||||||||||rdrand|rdseed")
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

# The three-byte maps (0F 38h, 0F 3Ah) and the VEX and EVEX encodings. One row a line:
#   map  prefix  encodings  opcode  name  operands
# A seventh field "reg" or "mem" allows only that form of ModR/M.
# map: 0F, 38 or 3A; prefix: the mandatory prefix (- none, 66, F3, F2); encodings: L legacy,
# V VEX, E EVEX. In a name, "|" chooses by the ModR/M reg field, "^" by the vector length
# and "/" by the W bit. Operands, two characters each: the kind (V vector register, H vector
# register in vvvv, W vector register or memory, U vector register only, M memory only,
# G general register, E general register or memory, B general register in vvvv, P/Q MMX
# register / MMX register or memory, K/N/R mask register in reg, vvvv, r/m, I imm8, L vector register in imm8
# bits 4-7, X xmm0), then the size (x the vector length, h half, q quarter, e eighth of it,
# o 16 bytes, y 32 bytes, 8/4/2/1 bytes, s 4 or 8 by W; for general registers d dword,
# v operand size, b/w byte/word memory with a dword register, t byte register or memory;
# g a memory operand addressed through an index vector, its elements 4 or 8 bytes by W).
EXT_ROWS = r"""
38 - L 00 pshufb Pq,Qq
38 - L 01 phaddw Pq,Qq
38 - L 02 phaddd Pq,Qq
38 - L 03 phaddsw Pq,Qq
38 - L 04 pmaddubsw Pq,Qq
38 - L 05 phsubw Pq,Qq
38 - L 06 phsubd Pq,Qq
38 - L 07 phsubsw Pq,Qq
38 - L 08 psignb Pq,Qq
38 - L 09 psignw Pq,Qq
38 - L 0A psignd Pq,Qq
38 - L 0B pmulhrsw Pq,Qq
38 - L 1C pabsb Pq,Qq
38 - L 1D pabsw Pq,Qq
38 - L 1E pabsd Pq,Qq
38 66 L 00 pshufb Vo,Wo
38 66 L 01 phaddw Vo,Wo
38 66 L 02 phaddd Vo,Wo
38 66 L 03 phaddsw Vo,Wo
38 66 L 04 pmaddubsw Vo,Wo
38 66 L 05 phsubw Vo,Wo
38 66 L 06 phsubd Vo,Wo
38 66 L 07 phsubsw Vo,Wo
38 66 L 08 psignb Vo,Wo
38 66 L 09 psignw Vo,Wo
38 66 L 0A psignd Vo,Wo
38 66 L 0B pmulhrsw Vo,Wo
38 66 L 10 pblendvb Vo,Wo,X0
38 66 L 14 blendvps Vo,Wo,X0
38 66 L 15 blendvpd Vo,Wo,X0
38 66 L 17 ptest Vo,Wo
38 66 L 1C pabsb Vo,Wo
38 66 L 1D pabsw Vo,Wo
38 66 L 1E pabsd Vo,Wo
38 66 L 20 pmovsxbw Vo,W8
38 66 L 21 pmovsxbd Vo,W4
38 66 L 22 pmovsxbq Vo,W2
38 66 L 23 pmovsxwd Vo,W8
38 66 L 24 pmovsxwq Vo,W4
38 66 L 25 pmovsxdq Vo,W8
38 66 L 28 pmuldq Vo,Wo
38 66 L 29 pcmpeqq Vo,Wo
38 66 L 2A movntdqa Vo,Mo
38 66 L 2B packusdw Vo,Wo
38 66 L 30 pmovzxbw Vo,W8
38 66 L 31 pmovzxbd Vo,W4
38 66 L 32 pmovzxbq Vo,W2
38 66 L 33 pmovzxwd Vo,W8
38 66 L 34 pmovzxwq Vo,W4
38 66 L 35 pmovzxdq Vo,W8
38 66 L 37 pcmpgtq Vo,Wo
38 66 L 38 pminsb Vo,Wo
38 66 L 39 pminsd Vo,Wo
38 66 L 3A pminuw Vo,Wo
38 66 L 3B pminud Vo,Wo
38 66 L 3C pmaxsb Vo,Wo
38 66 L 3D pmaxsd Vo,Wo
38 66 L 3E pmaxuw Vo,Wo
38 66 L 3F pmaxud Vo,Wo
38 66 L 40 pmulld Vo,Wo
38 66 L 41 phminposuw Vo,Wo
38 - L C8 sha1nexte Vo,Wo
38 - L C9 sha1msg1 Vo,Wo
38 - L CA sha1msg2 Vo,Wo
38 - L CB sha256rnds2 Vo,Wo,X0
38 - L CC sha256msg1 Vo,Wo
38 - L CD sha256msg2 Vo,Wo
38 66 L DB aesimc Vo,Wo
38 66 L DC aesenc Vo,Wo
38 66 L DD aesenclast Vo,Wo
38 66 L DE aesdec Vo,Wo
38 66 L DF aesdeclast Vo,Wo
38 - L F0 movbe Gv,Mv
38 - L F1 movbe Mv,Gv
38 F2 L F0 crc32 Gd,Et
38 F2 L F1 crc32 Gd,Ev
38 66 L F6 adcx Gd,Ed
38 F3 L F6 adox Gd,Ed
3A 66 L 08 roundps Vo,Wo,Ib
3A 66 L 09 roundpd Vo,Wo,Ib
3A 66 L 0A roundss Vo,W4,Ib
3A 66 L 0B roundsd Vo,W8,Ib
3A 66 L 0C blendps Vo,Wo,Ib
3A 66 L 0D blendpd Vo,Wo,Ib
3A 66 L 0E pblendw Vo,Wo,Ib
3A - L 0F palignr Pq,Qq,Ib
3A 66 L 0F palignr Vo,Wo,Ib
3A 66 L 14 pextrb Eb,Vo,Ib
3A 66 L 15 pextrw Ew,Vo,Ib
3A 66 L 16 pextrd Ed,Vo,Ib
3A 66 L 17 extractps Ed,Vo,Ib
3A 66 L 20 pinsrb Vo,Eb,Ib
3A 66 L 21 insertps Vo,W4,Ib
3A 66 L 22 pinsrd Vo,Ed,Ib
3A 66 L 40 dpps Vo,Wo,Ib
3A 66 L 41 dppd Vo,Wo,Ib
3A 66 L 42 mpsadbw Vo,Wo,Ib
3A 66 L 44 pclmulqdq Vo,Wo,Ib
3A 66 L 60 pcmpestrm Vo,Wo,Ib
3A 66 L 61 pcmpestri Vo,Wo,Ib
3A 66 L 62 pcmpistrm Vo,Wo,Ib
3A 66 L 63 pcmpistri Vo,Wo,Ib
3A - L CC sha1rnds4 Vo,Wo,Ib
3A 66 L DF aeskeygenassist Vo,Wo,Ib

0F - V 41 kandw/kandq Kk,Nk,Rk reg
0F 66 V 41 kandb/kandd Kk,Nk,Rk reg
0F - V 42 kandnw/kandnq Kk,Nk,Rk reg
0F 66 V 42 kandnb/kandnd Kk,Nk,Rk reg
0F - V 44 knotw/knotq Kk,Rk reg
0F 66 V 44 knotb/knotd Kk,Rk reg
0F - V 45 korw/korq Kk,Nk,Rk reg
0F 66 V 45 korb/kord Kk,Nk,Rk reg
0F - V 46 kxnorw/kxnorq Kk,Nk,Rk reg
0F 66 V 46 kxnorb/kxnord Kk,Nk,Rk reg
0F - V 47 kxorw/kxorq Kk,Nk,Rk reg
0F 66 V 47 kxorb/kxord Kk,Nk,Rk reg
0F - V 4A kaddw/kaddq Kk,Nk,Rk reg
0F 66 V 4A kaddb/kaddd Kk,Nk,Rk reg
0F - V 4B kunpckwd/kunpckdq Kk,Nk,Rk reg
0F 66 V 4B kunpckbw Kk,Nk,Rk reg
0F - V 90 kmovw/kmovq Kk,R2
0F 66 V 90 kmovb/kmovd Kk,R1
0F - V 91 kmovw/kmovq M2,Kk
0F 66 V 91 kmovb/kmovd M1,Kk
0F - V 92 kmovw Kk,Ed reg
0F 66 V 92 kmovb Kk,Ed reg
0F F2 V 92 kmovd/kmovq Kk,Ed reg
0F - V 93 kmovw Gd,Rk reg
0F 66 V 93 kmovb Gd,Rk reg
0F F2 V 93 kmovd/kmovq Gd,Rk reg
0F - V 98 kortestw/kortestq Kk,Rk reg
0F 66 V 98 kortestb/kortestd Kk,Rk reg
0F - V 99 ktestw/ktestq Kk,Rk reg
0F 66 V 99 ktestb/ktestd Kk,Rk reg
0F - VE 10 vmovups Vx,Wx
0F 66 VE 10 vmovupd Vx,Wx
0F F3 VE 10 vmovss Vo,Ho,W4
0F F2 VE 10 vmovsd Vo,Ho,W8
0F - VE 11 vmovups Wx,Vx
0F 66 VE 11 vmovupd Wx,Vx
0F F3 VE 11 vmovss W4,Ho,Vo
0F F2 VE 11 vmovsd W8,Ho,Vo
0F - VE 12 vmovhlps:vmovlps Vo,Ho,W8
0F 66 VE 12 vmovlpd Vo,Ho,M8
0F F3 VE 12 vmovsldup Vx,Wx
0F F2 VE 12 vmovddup Vx,Wx
0F - VE 13 vmovlps M8,Vo
0F 66 VE 13 vmovlpd M8,Vo
0F - VE 14 vunpcklps Vx,Hx,Wx
0F 66 VE 14 vunpcklpd Vx,Hx,Wx
0F - VE 15 vunpckhps Vx,Hx,Wx
0F 66 VE 15 vunpckhpd Vx,Hx,Wx
0F - VE 16 vmovlhps:vmovhps Vo,Ho,W8
0F 66 VE 16 vmovhpd Vo,Ho,M8
0F F3 VE 16 vmovshdup Vx,Wx
0F - VE 17 vmovhps M8,Vo
0F 66 VE 17 vmovhpd M8,Vo
0F - VE 28 vmovaps Vx,Wx
0F 66 VE 28 vmovapd Vx,Wx
0F - VE 29 vmovaps Wx,Vx
0F 66 VE 29 vmovapd Wx,Vx
0F F3 VE 2A vcvtsi2ss Vo,Ho,Ed
0F F2 VE 2A vcvtsi2sd Vo,Ho,Ed
0F - VE 2B vmovntps Mx,Vx
0F 66 VE 2B vmovntpd Mx,Vx
0F F3 VE 2C vcvttss2si Gd,W4
0F F2 VE 2C vcvttsd2si Gd,W8
0F F3 VE 2D vcvtss2si Gd,W4
0F F2 VE 2D vcvtsd2si Gd,W8
0F - VE 2E vucomiss Vo,W4
0F 66 VE 2E vucomisd Vo,W8
0F - VE 2F vcomiss Vo,W4
0F 66 VE 2F vcomisd Vo,W8
0F - V 50 vmovmskps Gd,Ux
0F 66 V 50 vmovmskpd Gd,Ux
0F - VE 51 vsqrtps Vx,Wx
0F 66 VE 51 vsqrtpd Vx,Wx
0F F3 VE 51 vsqrtss Vo,Ho,W4
0F F2 VE 51 vsqrtsd Vo,Ho,W8
0F - V 52 vrsqrtps Vx,Wx
0F F3 V 52 vrsqrtss Vo,Ho,W4
0F - V 53 vrcpps Vx,Wx
0F F3 V 53 vrcpss Vo,Ho,W4
0F - VE 54 vandps Vx,Hx,Wx
0F 66 VE 54 vandpd Vx,Hx,Wx
0F - VE 55 vandnps Vx,Hx,Wx
0F 66 VE 55 vandnpd Vx,Hx,Wx
0F - VE 56 vorps Vx,Hx,Wx
0F 66 VE 56 vorpd Vx,Hx,Wx
0F - VE 57 vxorps Vx,Hx,Wx
0F 66 VE 57 vxorpd Vx,Hx,Wx
0F - VE 58 vaddps Vx,Hx,Wx
0F 66 VE 58 vaddpd Vx,Hx,Wx
0F F3 VE 58 vaddss Vo,Ho,W4
0F F2 VE 58 vaddsd Vo,Ho,W8
0F - VE 59 vmulps Vx,Hx,Wx
0F 66 VE 59 vmulpd Vx,Hx,Wx
0F F3 VE 59 vmulss Vo,Ho,W4
0F F2 VE 59 vmulsd Vo,Ho,W8
0F - VE 5A vcvtps2pd Vx,Wh
0F 66 VE 5A vcvtpd2ps Vh,Wx
0F F3 VE 5A vcvtss2sd Vo,Ho,W4
0F F2 VE 5A vcvtsd2ss Vo,Ho,W8
0F - VE 5B vcvtdq2ps Vx,Wx
0F 66 VE 5B vcvtps2dq Vx,Wx
0F F3 VE 5B vcvttps2dq Vx,Wx
0F - VE 5C vsubps Vx,Hx,Wx
0F 66 VE 5C vsubpd Vx,Hx,Wx
0F F3 VE 5C vsubss Vo,Ho,W4
0F F2 VE 5C vsubsd Vo,Ho,W8
0F - VE 5D vminps Vx,Hx,Wx
0F 66 VE 5D vminpd Vx,Hx,Wx
0F F3 VE 5D vminss Vo,Ho,W4
0F F2 VE 5D vminsd Vo,Ho,W8
0F - VE 5E vdivps Vx,Hx,Wx
0F 66 VE 5E vdivpd Vx,Hx,Wx
0F F3 VE 5E vdivss Vo,Ho,W4
0F F2 VE 5E vdivsd Vo,Ho,W8
0F - VE 5F vmaxps Vx,Hx,Wx
0F 66 VE 5F vmaxpd Vx,Hx,Wx
0F F3 VE 5F vmaxss Vo,Ho,W4
0F F2 VE 5F vmaxsd Vo,Ho,W8
0F 66 VE 60 vpunpcklbw Vx,Hx,Wx
0F 66 VE 61 vpunpcklwd Vx,Hx,Wx
0F 66 VE 62 vpunpckldq Vx,Hx,Wx
0F 66 VE 63 vpacksswb Vx,Hx,Wx
0F 66 V 64 vpcmpgtb Vx,Hx,Wx
0F 66 V 65 vpcmpgtw Vx,Hx,Wx
0F 66 V 66 vpcmpgtd Vx,Hx,Wx
0F 66 VE 67 vpackuswb Vx,Hx,Wx
0F 66 VE 68 vpunpckhbw Vx,Hx,Wx
0F 66 VE 69 vpunpckhwd Vx,Hx,Wx
0F 66 VE 6A vpunpckhdq Vx,Hx,Wx
0F 66 VE 6B vpackssdw Vx,Hx,Wx
0F 66 VE 6C vpunpcklqdq Vx,Hx,Wx
0F 66 VE 6D vpunpckhqdq Vx,Hx,Wx
0F 66 VE 6E vmovd Vo,Ed
0F 66 V 6F vmovdqa Vx,Wx
0F F3 V 6F vmovdqu Vx,Wx
0F 66 E 6F vmovdqa32/vmovdqa64 Vx,Wx
0F F3 E 6F vmovdqu32/vmovdqu64 Vx,Wx
0F F2 E 6F vmovdqu8/vmovdqu16 Vx,Wx
0F 66 VE 70 vpshufd Vx,Wx,Ib
0F F3 VE 70 vpshufhw Vx,Wx,Ib
0F F2 VE 70 vpshuflw Vx,Wx,Ib
0F 66 V 71 ||vpsrlw||vpsraw||vpsllw| Hx,Ux,Ib
0F 66 V 72 ||vpsrld||vpsrad||vpslld| Hx,Ux,Ib
0F 66 V 73 ||vpsrlq|vpsrldq|||vpsllq|vpslldq Hx,Ux,Ib
0F 66 E 71 ||vpsrlw||vpsraw||vpsllw| Hx,Wx,Ib
0F 66 E 72 vprord/vprorq|vprold/vprolq|vpsrld||vpsrad/vpsraq||vpslld| Hx,Wx,Ib
0F 66 E 73 ||vpsrlq|vpsrldq|||vpsllq|vpslldq Hx,Wx,Ib
0F 66 V 74 vpcmpeqb Vx,Hx,Wx
0F 66 V 75 vpcmpeqw Vx,Hx,Wx
0F 66 V 76 vpcmpeqd Vx,Hx,Wx
0F 66 E 64 vpcmpgtb Kx,Hx,Wx
0F 66 E 65 vpcmpgtw Kx,Hx,Wx
0F 66 E 66 vpcmpgtd Kx,Hx,Wx
0F 66 E 74 vpcmpeqb Kx,Hx,Wx
0F 66 E 75 vpcmpeqw Kx,Hx,Wx
0F 66 E 76 vpcmpeqd Kx,Hx,Wx
0F - V 77 vzeroupper^vzeroall -
0F - E 78 vcvttps2udq/vcvttpd2udq Vx,Wx
0F - E 79 vcvtps2udq/vcvtpd2udq Vx,Wx
0F F3 E 7A vcvtudq2pd Vx,Wh
0F F2 E 7A vcvtudq2ps Vx,Wx
0F F3 E 7B vcvtusi2ss Vo,Ho,Ed
0F F2 E 7B vcvtusi2sd Vo,Ho,Ed
0F 66 V 7C vhaddpd Vx,Hx,Wx
0F F2 V 7C vhaddps Vx,Hx,Wx
0F 66 V 7D vhsubpd Vx,Hx,Wx
0F F2 V 7D vhsubps Vx,Hx,Wx
0F 66 VE 7E vmovd Ed,Vo
0F F3 VE 7E vmovq Vo,W8
0F 66 V 7F vmovdqa Wx,Vx
0F F3 V 7F vmovdqu Wx,Vx
0F 66 E 7F vmovdqa32/vmovdqa64 Wx,Vx
0F F3 E 7F vmovdqu32/vmovdqu64 Wx,Vx
0F F2 E 7F vmovdqu8/vmovdqu16 Wx,Vx
0F - V AE ||vldmxcsr|vstmxcsr|||| M4
0F - V C2 vcmpps Vx,Hx,Wx,Ib
0F 66 V C2 vcmppd Vx,Hx,Wx,Ib
0F F3 V C2 vcmpss Vo,Ho,W4,Ib
0F F2 V C2 vcmpsd Vo,Ho,W8,Ib
0F - E C2 vcmpps Kx,Hx,Wx,Ib
0F 66 E C2 vcmppd Kx,Hx,Wx,Ib
0F F3 E C2 vcmpss Kx,Ho,W4,Ib
0F F2 E C2 vcmpsd Kx,Ho,W8,Ib
0F 66 VE C4 vpinsrw Vo,Ho,Ew,Ib
0F 66 VE C5 vpextrw Gd,Uo,Ib
0F - VE C6 vshufps Vx,Hx,Wx,Ib
0F 66 VE C6 vshufpd Vx,Hx,Wx,Ib
0F 66 V D0 vaddsubpd Vx,Hx,Wx
0F F2 V D0 vaddsubps Vx,Hx,Wx
0F 66 VE D1 vpsrlw Vx,Hx,Wo
0F 66 VE D2 vpsrld Vx,Hx,Wo
0F 66 VE D3 vpsrlq Vx,Hx,Wo
0F 66 VE D4 vpaddq Vx,Hx,Wx
0F 66 VE D5 vpmullw Vx,Hx,Wx
0F 66 VE D6 vmovq W8,Vo
0F 66 V D7 vpmovmskb Gd,Ux
0F 66 VE D8 vpsubusb Vx,Hx,Wx
0F 66 VE D9 vpsubusw Vx,Hx,Wx
0F 66 VE DA vpminub Vx,Hx,Wx
0F 66 V DB vpand Vx,Hx,Wx
0F 66 E DB vpandd/vpandq Vx,Hx,Wx
0F 66 VE DC vpaddusb Vx,Hx,Wx
0F 66 VE DD vpaddusw Vx,Hx,Wx
0F 66 VE DE vpmaxub Vx,Hx,Wx
0F 66 V DF vpandn Vx,Hx,Wx
0F 66 E DF vpandnd/vpandnq Vx,Hx,Wx
0F 66 VE E0 vpavgb Vx,Hx,Wx
0F 66 VE E1 vpsraw Vx,Hx,Wo
0F 66 VE E2 vpsrad/vpsraq Vx,Hx,Wo
0F 66 VE E3 vpavgw Vx,Hx,Wx
0F 66 VE E4 vpmulhuw Vx,Hx,Wx
0F 66 VE E5 vpmulhw Vx,Hx,Wx
0F 66 VE E6 vcvttpd2dq Vh,Wx
0F F3 VE E6 vcvtdq2pd Vx,Wh
0F F2 VE E6 vcvtpd2dq Vh,Wx
0F 66 VE E7 vmovntdq Mx,Vx
0F 66 VE E8 vpsubsb Vx,Hx,Wx
0F 66 VE E9 vpsubsw Vx,Hx,Wx
0F 66 VE EA vpminsw Vx,Hx,Wx
0F 66 V EB vpor Vx,Hx,Wx
0F 66 E EB vpord/vporq Vx,Hx,Wx
0F 66 VE EC vpaddsb Vx,Hx,Wx
0F 66 VE ED vpaddsw Vx,Hx,Wx
0F 66 VE EE vpmaxsw Vx,Hx,Wx
0F 66 V EF vpxor Vx,Hx,Wx
0F 66 E EF vpxord/vpxorq Vx,Hx,Wx
0F F2 V F0 vlddqu Vx,Mx
0F 66 VE F1 vpsllw Vx,Hx,Wo
0F 66 VE F2 vpslld Vx,Hx,Wo
0F 66 VE F3 vpsllq Vx,Hx,Wo
0F 66 VE F4 vpmuludq Vx,Hx,Wx
0F 66 VE F5 vpmaddwd Vx,Hx,Wx
0F 66 VE F6 vpsadbw Vx,Hx,Wx
0F 66 V F7 vmaskmovdqu Vo,Uo
0F 66 VE F8 vpsubb Vx,Hx,Wx
0F 66 VE F9 vpsubw Vx,Hx,Wx
0F 66 VE FA vpsubd Vx,Hx,Wx
0F 66 VE FB vpsubq Vx,Hx,Wx
0F 66 VE FC vpaddb Vx,Hx,Wx
0F 66 VE FD vpaddw Vx,Hx,Wx
0F 66 VE FE vpaddd Vx,Hx,Wx

38 66 VE 00 vpshufb Vx,Hx,Wx
38 66 V 01 vphaddw Vx,Hx,Wx
38 66 V 02 vphaddd Vx,Hx,Wx
38 66 V 03 vphaddsw Vx,Hx,Wx
38 66 VE 04 vpmaddubsw Vx,Hx,Wx
38 66 V 05 vphsubw Vx,Hx,Wx
38 66 V 06 vphsubd Vx,Hx,Wx
38 66 V 07 vphsubsw Vx,Hx,Wx
38 66 V 08 vpsignb Vx,Hx,Wx
38 66 V 09 vpsignw Vx,Hx,Wx
38 66 V 0A vpsignd Vx,Hx,Wx
38 66 VE 0B vpmulhrsw Vx,Hx,Wx
38 66 VE 0C vpermilps Vx,Hx,Wx
38 66 VE 0D vpermilpd Vx,Hx,Wx
38 66 V 0E vtestps Vx,Wx
38 66 V 0F vtestpd Vx,Wx
38 66 VE 13 vcvtph2ps Vx,Wh
38 66 VE 16 vpermps/vpermpd Vx,Hx,Wx
38 66 V 17 vptest Vx,Wx
38 66 VE 18 vbroadcastss Vx,W4
38 66 V 19 vbroadcastsd Vx,W8
38 66 E 19 vbroadcastf32x2/vbroadcastsd Vx,W8
38 66 V 1A vbroadcastf128 Vx,Mo
38 66 E 1A vbroadcastf32x4/vbroadcastf64x2 Vx,Mo
38 66 E 1B vbroadcastf32x8/vbroadcastf64x4 Vx,My
38 66 VE 1C vpabsb Vx,Wx
38 66 VE 1D vpabsw Vx,Wx
38 66 VE 1E vpabsd Vx,Wx
38 66 E 1F vpabsq Vx,Wx
38 66 VE 20 vpmovsxbw Vx,Wh
38 66 VE 21 vpmovsxbd Vx,Wq
38 66 VE 22 vpmovsxbq Vx,We
38 66 VE 23 vpmovsxwd Vx,Wh
38 66 VE 24 vpmovsxwq Vx,Wq
38 66 VE 25 vpmovsxdq Vx,Wh
38 F3 E 10 vpmovuswb Wh,Vx
38 F3 E 11 vpmovusdb Wq,Vx
38 F3 E 12 vpmovusqb We,Vx
38 F3 E 13 vpmovusdw Wh,Vx
38 F3 E 14 vpmovusqw Wq,Vx
38 F3 E 15 vpmovusqd Wh,Vx
38 F3 E 20 vpmovswb Wh,Vx
38 F3 E 21 vpmovsdb Wq,Vx
38 F3 E 22 vpmovsqb We,Vx
38 F3 E 23 vpmovsdw Wh,Vx
38 F3 E 24 vpmovsqw Wq,Vx
38 F3 E 25 vpmovsqd Wh,Vx
38 F3 E 30 vpmovwb Wh,Vx
38 F3 E 31 vpmovdb Wq,Vx
38 F3 E 32 vpmovqb We,Vx
38 F3 E 33 vpmovdw Wh,Vx
38 F3 E 34 vpmovqw Wq,Vx
38 F3 E 35 vpmovqd Wh,Vx
38 66 E 27 vptestmd/vptestmq Kx,Hx,Wx
38 F3 E 27 vptestnmd/vptestnmq Kx,Hx,Wx
38 66 VE 28 vpmuldq Vx,Hx,Wx
38 66 V 29 vpcmpeqq Vx,Hx,Wx
38 66 E 29 vpcmpeqq Kx,Hx,Wx
38 66 VE 2A vmovntdqa Vx,Mx
38 66 VE 2B vpackusdw Vx,Hx,Wx
38 66 V 2C vmaskmovps Vx,Hx,Mx
38 66 V 2D vmaskmovpd Vx,Hx,Mx
38 66 V 2E vmaskmovps Mx,Hx,Vx
38 66 V 2F vmaskmovpd Mx,Hx,Vx
38 66 VE 30 vpmovzxbw Vx,Wh
38 66 VE 31 vpmovzxbd Vx,Wq
38 66 VE 32 vpmovzxbq Vx,We
38 66 VE 33 vpmovzxwd Vx,Wh
38 66 VE 34 vpmovzxwq Vx,Wq
38 66 VE 35 vpmovzxdq Vx,Wh
38 66 V 36 vpermd Vx,Hx,Wx
38 66 E 36 vpermd/vpermq Vx,Hx,Wx
38 66 V 37 vpcmpgtq Vx,Hx,Wx
38 66 E 37 vpcmpgtq Kx,Hx,Wx
38 66 VE 38 vpminsb Vx,Hx,Wx
38 66 V 39 vpminsd Vx,Hx,Wx
38 66 E 39 vpminsd/vpminsq Vx,Hx,Wx
38 66 VE 3A vpminuw Vx,Hx,Wx
38 66 V 3B vpminud Vx,Hx,Wx
38 66 E 3B vpminud/vpminuq Vx,Hx,Wx
38 66 VE 3C vpmaxsb Vx,Hx,Wx
38 66 V 3D vpmaxsd Vx,Hx,Wx
38 66 E 3D vpmaxsd/vpmaxsq Vx,Hx,Wx
38 66 VE 3E vpmaxuw Vx,Hx,Wx
38 66 V 3F vpmaxud Vx,Hx,Wx
38 66 E 3F vpmaxud/vpmaxuq Vx,Hx,Wx
38 66 V 40 vpmulld Vx,Hx,Wx
38 66 E 40 vpmulld/vpmullq Vx,Hx,Wx
38 66 V 41 vphminposuw Vo,Wo
38 66 VE 45 vpsrlvd/vpsrlvq Vx,Hx,Wx
38 66 V 46 vpsravd Vx,Hx,Wx
38 66 E 46 vpsravd/vpsravq Vx,Hx,Wx
38 66 VE 47 vpsllvd/vpsllvq Vx,Hx,Wx
38 66 E 4C vrcp14ps/vrcp14pd Vx,Wx
38 66 E 4E vrsqrt14ps/vrsqrt14pd Vx,Wx
38 66 VE 58 vpbroadcastd Vx,W4
38 66 V 59 vpbroadcastq Vx,W8
38 66 E 59 vbroadcasti32x2/vpbroadcastq Vx,W8
38 66 V 5A vbroadcasti128 Vx,Mo
38 66 E 5A vbroadcasti32x4/vbroadcasti64x2 Vx,Mo
38 66 E 5B vbroadcasti32x8/vbroadcasti64x4 Vx,My
38 66 E 64 vpblendmd/vpblendmq Vx,Hx,Wx
38 66 E 65 vblendmps/vblendmpd Vx,Hx,Wx
38 66 E 76 vpermi2d/vpermi2q Vx,Hx,Wx
38 66 E 77 vpermi2ps/vpermi2pd Vx,Hx,Wx
38 66 VE 78 vpbroadcastb Vx,W1
38 66 VE 79 vpbroadcastw Vx,W2
38 66 E 7C vpbroadcastd Vx,Ed
38 66 E 7E vpermt2d/vpermt2q Vx,Hx,Wx
38 66 E 7F vpermt2ps/vpermt2pd Vx,Hx,Wx
38 66 V 8C vpmaskmovd/vpmaskmovq Vx,Hx,Mx
38 66 V 8E vpmaskmovd/vpmaskmovq Mx,Hx,Vx
38 66 E 88 vexpandps/vexpandpd Vx,Wx
38 66 E 89 vpexpandd/vpexpandq Vx,Wx
38 66 E 8A vcompressps/vcompresspd Wx,Vx
38 66 E 8B vpcompressd/vpcompressq Wx,Vx
38 66 V 90 vpgatherdd/vpgatherdq Vx,Mg,Hx
38 66 V 91 vpgatherqd/vpgatherqq Vx,Mg,Hx
38 66 V 92 vgatherdps/vgatherdpd Vx,Mg,Hx
38 66 V 93 vgatherqps/vgatherqpd Vx,Mg,Hx
38 66 E 90 vpgatherdd/vpgatherdq Vx,Mg
38 66 E 91 vpgatherqd/vpgatherqq Vx,Mg
38 66 E 92 vgatherdps/vgatherdpd Vx,Mg
38 66 E 93 vgatherqps/vgatherqpd Vx,Mg
38 66 E A0 vpscatterdd/vpscatterdq Mg,Vx
38 66 E A1 vpscatterqd/vpscatterqq Mg,Vx
38 66 E A2 vscatterdps/vscatterdpd Mg,Vx
38 66 E A3 vscatterqps/vscatterqpd Mg,Vx
38 66 VE 96 vfmaddsub132ps/vfmaddsub132pd Vx,Hx,Wx
38 66 VE 97 vfmsubadd132ps/vfmsubadd132pd Vx,Hx,Wx
38 66 VE 98 vfmadd132ps/vfmadd132pd Vx,Hx,Wx
38 66 VE 99 vfmadd132ss/vfmadd132sd Vo,Ho,Ws
38 66 VE 9A vfmsub132ps/vfmsub132pd Vx,Hx,Wx
38 66 VE 9B vfmsub132ss/vfmsub132sd Vo,Ho,Ws
38 66 VE 9C vfnmadd132ps/vfnmadd132pd Vx,Hx,Wx
38 66 VE 9D vfnmadd132ss/vfnmadd132sd Vo,Ho,Ws
38 66 VE 9E vfnmsub132ps/vfnmsub132pd Vx,Hx,Wx
38 66 VE 9F vfnmsub132ss/vfnmsub132sd Vo,Ho,Ws
38 66 VE A6 vfmaddsub213ps/vfmaddsub213pd Vx,Hx,Wx
38 66 VE A7 vfmsubadd213ps/vfmsubadd213pd Vx,Hx,Wx
38 66 VE A8 vfmadd213ps/vfmadd213pd Vx,Hx,Wx
38 66 VE A9 vfmadd213ss/vfmadd213sd Vo,Ho,Ws
38 66 VE AA vfmsub213ps/vfmsub213pd Vx,Hx,Wx
38 66 VE AB vfmsub213ss/vfmsub213sd Vo,Ho,Ws
38 66 VE AC vfnmadd213ps/vfnmadd213pd Vx,Hx,Wx
38 66 VE AD vfnmadd213ss/vfnmadd213sd Vo,Ho,Ws
38 66 VE AE vfnmsub213ps/vfnmsub213pd Vx,Hx,Wx
38 66 VE AF vfnmsub213ss/vfnmsub213sd Vo,Ho,Ws
38 66 VE B6 vfmaddsub231ps/vfmaddsub231pd Vx,Hx,Wx
38 66 VE B7 vfmsubadd231ps/vfmsubadd231pd Vx,Hx,Wx
38 66 VE B8 vfmadd231ps/vfmadd231pd Vx,Hx,Wx
38 66 VE B9 vfmadd231ss/vfmadd231sd Vo,Ho,Ws
38 66 VE BA vfmsub231ps/vfmsub231pd Vx,Hx,Wx
38 66 VE BB vfmsub231ss/vfmsub231sd Vo,Ho,Ws
38 66 VE BC vfnmadd231ps/vfnmadd231pd Vx,Hx,Wx
38 66 VE BD vfnmadd231ss/vfnmadd231sd Vo,Ho,Ws
38 66 VE BE vfnmsub231ps/vfnmsub231pd Vx,Hx,Wx
38 66 VE BF vfnmsub231ss/vfnmsub231sd Vo,Ho,Ws
38 66 E C4 vpconflictd/vpconflictq Vx,Wx
38 66 V DB vaesimc Vo,Wo
38 66 V DC vaesenc Vx,Hx,Wx
38 66 V DD vaesenclast Vx,Hx,Wx
38 66 V DE vaesdec Vx,Hx,Wx
38 66 V DF vaesdeclast Vx,Hx,Wx
38 - V F2 andn Gd,Bd,Ed
38 - V F3 |blsr|blsmsk|blsi|||| Bd,Ed
38 - V F5 bzhi Gd,Ed,Bd
38 F3 V F5 pext Gd,Bd,Ed
38 F2 V F5 pdep Gd,Bd,Ed
38 F2 V F6 mulx Gd,Bd,Ed
38 - V F7 bextr Gd,Ed,Bd
38 66 V F7 shlx Gd,Ed,Bd
38 F3 V F7 sarx Gd,Ed,Bd
38 F2 V F7 shrx Gd,Ed,Bd

3A 66 V 00 vpermq Vx,Wx,Ib
3A 66 V 01 vpermpd Vx,Wx,Ib
3A 66 E 00 vpermq Vx,Wx,Ib
3A 66 E 01 vpermpd Vx,Wx,Ib
3A 66 V 02 vpblendd Vx,Hx,Wx,Ib
3A 66 E 03 valignd/valignq Vx,Hx,Wx,Ib
3A 66 VE 04 vpermilps Vx,Wx,Ib
3A 66 VE 05 vpermilpd Vx,Wx,Ib
3A 66 V 06 vperm2f128 Vx,Hx,Wx,Ib
3A 66 V 08 vroundps Vx,Wx,Ib
3A 66 V 09 vroundpd Vx,Wx,Ib
3A 66 V 0A vroundss Vo,Ho,W4,Ib
3A 66 V 0B vroundsd Vo,Ho,W8,Ib
3A 66 E 08 vrndscaleps Vx,Wx,Ib
3A 66 E 09 vrndscalepd Vx,Wx,Ib
3A 66 E 0A vrndscaless Vo,Ho,W4,Ib
3A 66 E 0B vrndscalesd Vo,Ho,W8,Ib
3A 66 V 0C vblendps Vx,Hx,Wx,Ib
3A 66 V 0D vblendpd Vx,Hx,Wx,Ib
3A 66 V 0E vpblendw Vx,Hx,Wx,Ib
3A 66 VE 0F vpalignr Vx,Hx,Wx,Ib
3A 66 VE 14 vpextrb Eb,Vo,Ib
3A 66 VE 15 vpextrw Ew,Vo,Ib
3A 66 VE 16 vpextrd Ed,Vo,Ib
3A 66 VE 17 vextractps Ed,Vo,Ib
3A 66 V 18 vinsertf128 Vx,Hx,Wo,Ib
3A 66 V 19 vextractf128 Wo,Vx,Ib
3A 66 E 18 vinsertf32x4/vinsertf64x2 Vx,Hx,Wo,Ib
3A 66 E 19 vextractf32x4/vextractf64x2 Wo,Vx,Ib
3A 66 E 1A vinsertf32x8/vinsertf64x4 Vx,Hx,Wy,Ib
3A 66 E 1B vextractf32x8/vextractf64x4 Wy,Vx,Ib
3A 66 VE 1D vcvtps2ph Wh,Vx,Ib
3A 66 E 1E vpcmpud/vpcmpuq Kx,Hx,Wx,Ib
3A 66 E 1F vpcmpd/vpcmpq Kx,Hx,Wx,Ib
3A 66 VE 20 vpinsrb Vo,Ho,Eb,Ib
3A 66 VE 21 vinsertps Vo,Ho,W4,Ib
3A 66 VE 22 vpinsrd Vo,Ho,Ed,Ib
3A 66 E 23 vshuff32x4/vshuff64x2 Vx,Hx,Wx,Ib
3A 66 E 25 vpternlogd/vpternlogq Vx,Hx,Wx,Ib
3A 66 E 26 vgetmantps/vgetmantpd Vx,Wx,Ib
3A 66 V 38 vinserti128 Vx,Hx,Wo,Ib
3A 66 V 39 vextracti128 Wo,Vx,Ib
3A 66 E 38 vinserti32x4/vinserti64x2 Vx,Hx,Wo,Ib
3A 66 E 39 vextracti32x4/vextracti64x2 Wo,Vx,Ib
3A 66 E 3A vinserti32x8/vinserti64x4 Vx,Hx,Wy,Ib
3A 66 E 3B vextracti32x8/vextracti64x4 Wy,Vx,Ib
3A 66 V 40 vdpps Vx,Hx,Wx,Ib
3A 66 V 41 vdppd Vo,Ho,Wo,Ib
3A 66 V 42 vmpsadbw Vx,Hx,Wx,Ib
3A 66 E 43 vshufi32x4/vshufi64x2 Vx,Hx,Wx,Ib
3A 66 V 44 vpclmulqdq Vx,Hx,Wx,Ib
3A 66 V 46 vperm2i128 Vx,Hx,Wx,Ib
3A 66 V 4A vblendvps Vx,Hx,Wx,Lx
3A 66 V 4B vblendvpd Vx,Hx,Wx,Lx
3A 66 V 4C vpblendvb Vx,Hx,Wx,Lx
3A 66 V 60 vpcmpestrm Vo,Wo,Ib
3A 66 V 61 vpcmpestri Vo,Wo,Ib
3A 66 V 62 vpcmpistrm Vo,Wo,Ib
3A 66 V 63 vpcmpistri Vo,Wo,Ib
3A 66 V DF vaeskeygenassist Vo,Wo,Ib
3A F2 V F0 rorx Gd,Ed,Ib
"""


MAPS = {"0F": 1, "38": 2, "3A": 3}
PREFIXES = {"-": 0, "66": 1, "F3": 2, "F2": 3}
ENC_LEGACY, ENC_VEX, ENC_EVEX = 1, 2, 4
A_IMM8, A_MEM_ONLY, A_REG_ONLY, A_NO_MODRM, A_VSIB, A_GROUP, A_GENERAL = (1 << k for k in range(7))


def ext_rows():
    """The rows of EXT_ROWS as (key, prefix, encodings, attributes, memory size, name,
    operands), sorted by map and opcode."""
    rows = []
    for line in EXT_ROWS.strip().splitlines():
        if not line.strip():
            continue
        fields = line.split()
        assert len(fields) in (6, 7), line
        map_, prefix, enc, opcode, name, operands = fields[:6]
        only = fields[6] if len(fields) == 7 else ""
        encodings = sum({"L": ENC_LEGACY, "V": ENC_VEX, "E": ENC_EVEX}[c] for c in enc)
        operands = "" if operands == "-" else operands
        attributes = {"": 0, "reg": A_REG_ONLY, "mem": A_MEM_ONLY}[only]
        size = "\\0"
        for op in operands.split(",") if operands else []:
            assert len(op) == 2, line
            kind, width = op
            assert kind in "VHWUMGEBPQKNRILX", line
            if kind in "IL":
                attributes |= A_IMM8
            if kind == "M":
                attributes |= A_MEM_ONLY
            if kind == "U":
                attributes |= A_REG_ONLY
            if kind in "GEB":
                attributes |= A_GENERAL
            if kind in "WMEQR":
                size = width
            if kind == "M" and width == "g":
                attributes |= A_VSIB
        if map_ == "0F" and opcode == "77":
            attributes |= A_NO_MODRM
        if "|" in name:
            attributes |= A_GROUP
        key = (MAPS[map_] - 1) * 256 + int(opcode, 16)
        rows.append((key, PREFIXES[prefix], encodings, attributes, size, name, operands))
    rows.sort(key=lambda r: (r[0], r[1], r[2]))
    return rows


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
    w("// Opcode maps of the general, x87, MMX, SSE to SSE4.2, AVX, AVX2, AVX-512, FMA, BMI and")
    w("// 3DNow! instructions.")
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
    rows = ext_rows()
    w("// The three-byte maps and the VEX and EVEX encodings: key (map - 1) * 256 + opcode,")
    w("// mandatory prefix, encodings, attributes, memory operand size code, name, operands.")
    w(f"const unsigned kExtOpCount = {len(rows)};")
    w("const TExtOp kExtOps[kExtOpCount] = {")
    for key, prefix, encodings, attributes, size, name, operands in rows:
        w(f'    {{0x{key:03X}, {prefix}, {encodings}, 0x{attributes:02X}, \'{size}\', "{name}", "{operands}"}},')
    w("};")
    first = [0] * (3 * 256 + 1)
    i = 0
    for k in range(3 * 256 + 1):
        while i < len(rows) and rows[i][0] < k:
            i += 1
        first[k] = i
    words("const uint16_t kExtFirst[3 * 256 + 1]", first, "%3d", 16)
    text = "\n".join(out) + "\n"
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "reporter", "disasm", "decoder_tables.inc")
    with open(target, "w") as f:
        f.write(text)
    print(f"{target}: {len(entries)} mnemonic entries")


if __name__ == "__main__":
    main()
