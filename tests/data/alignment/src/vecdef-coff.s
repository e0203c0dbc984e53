# Defines vec_ (COMMON /VEC/ of two REAL*8 values) 4 bytes into a .data aligned to 8: its
# alignment is 4 (COFF: the section's IMAGE_SCN_ALIGN_8BYTES and the symbol's value).
        .data
        .p2align 3
        .globl  pad_
pad_:
        .long   0
        .globl  vec_
vec_:
        .long   0, 0, 0, 0
