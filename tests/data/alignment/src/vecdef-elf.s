# Defines vec_ (COMMON /VEC/ of two REAL*8 values) 4 bytes into a .data aligned to 8, as
# a C object's member of a packed structure would be: its alignment is 4.
        .data
        .p2align 3
        .globl  pad_
        .type   pad_, @object
        .size   pad_, 4
pad_:
        .long   0
        .globl  vec_
        .type   vec_, @object
        .size   vec_, 16
vec_:
        .long   0, 0, 0, 0
        .section .note.GNU-stack,"",@progbits
