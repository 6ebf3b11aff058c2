/*
 * A tiny multiboot kernel standing in for the controller firmware in the
 * emulator boot test: the boot loader's "kernel /boot/bzImage" loads it, it
 * prints one marker line on COM1 and ends the emulator through the
 * isa-debug-exit port. The test looks for the marker on the serial console.
 */

        .set MULTIBOOT_MAGIC, 0x1BADB002
        .set MULTIBOOT_FLAGS, 0
        .set COM1, 0x3F8
        .set DEBUG_EXIT_PORT, 0xF4
        .set EXIT_VALUE, 0x21          /* the emulator exits with (0x21 << 1) | 1 = 67 */

        .section .text
        .code32
        .align 4
multiboot_header:
        .long MULTIBOOT_MAGIC
        .long MULTIBOOT_FLAGS
        .long -(MULTIBOOT_MAGIC + MULTIBOOT_FLAGS)

        .globl _start
_start:
        cli
        /* 115200 baud, 8 data bits, no parity, one stop bit, FIFO on. */
        mov     $(COM1 + 1), %dx
        xor     %al, %al
        out     %al, %dx                /* no interrupts */
        mov     $(COM1 + 3), %dx
        mov     $0x80, %al
        out     %al, %dx                /* divisor latch on */
        mov     $COM1, %dx
        mov     $1, %al
        out     %al, %dx                /* divisor 1, low byte */
        mov     $(COM1 + 1), %dx
        xor     %al, %al
        out     %al, %dx                /* divisor high byte */
        mov     $(COM1 + 3), %dx
        mov     $0x03, %al
        out     %al, %dx                /* 8N1, latch off */
        mov     $(COM1 + 2), %dx
        mov     $0xC7, %al
        out     %al, %dx                /* FIFO on and cleared */

        mov     $marker, %esi
next_char:
        lodsb
        test    %al, %al
        jz      done
        mov     %al, %bl
        mov     $(COM1 + 5), %dx
wait_empty:
        in      %dx, %al
        test    $0x20, %al              /* transmit holding register empty */
        jz      wait_empty
        mov     $COM1, %dx
        mov     %bl, %al
        out     %al, %dx
        jmp     next_char

done:
        /* Wait until the line has gone out before leaving. */
        mov     $(COM1 + 5), %dx
wait_sent:
        in      %dx, %al
        test    $0x40, %al              /* transmitter empty */
        jz      wait_sent
        mov     $DEBUG_EXIT_PORT, %dx
        mov     $EXIT_VALUE, %al
        out     %al, %dx
halt:
        hlt
        jmp     halt

marker:
        .asciz  "\r\nZEL TEST FIRMWARE: booted from the rebuilt card\r\n"
