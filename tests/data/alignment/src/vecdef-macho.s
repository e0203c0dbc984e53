# Defines _vec_ (COMMON /VEC/ of two REAL*8 values) 4 bytes into a __data aligned to 8:
# its alignment is 4 (Mach-O: the section's align and the symbol's address in it).
        .section __DATA,__data
        .p2align 3
        .globl  _pad_
_pad_:
        .long   0
        .globl  _vec_
_vec_:
        .long   0, 0, 0, 0
        .subsections_via_symbols
