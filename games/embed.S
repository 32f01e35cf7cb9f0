/* The embedded game executables as read-only data (POSIX build). */
    .section .rodata
    .balign 16
    .global kelvorn_duskmere_start
    .global kelvorn_duskmere_end
kelvorn_duskmere_start:
    .incbin DUSKMERE_PATH
kelvorn_duskmere_end:
    .balign 16
    .global kelvorn_tollvane_start
    .global kelvorn_tollvane_end
kelvorn_tollvane_start:
    .incbin TOLLVANE_PATH
kelvorn_tollvane_end:
    .section .note.GNU-stack,"",@progbits
