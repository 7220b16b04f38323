#!/bin/sh
# Exits 0 when this machine's kernel runs 32-bit x86 programs itself. Some
# kernels are built or booted without it (ia32_emulation=off): there the
# 32-bit Wine cannot run, and tools/guest/ runs it in an emulated machine.
# Needs nothing installed: the program tried is a 96-byte ELF written here.
# FQ_NO_I386=1 answers no whatever the kernel can do, so that the guest's way
# can be tried on any machine: FQ_NO_I386=1 tools/test.sh
[ -z "${FQ_NO_I386:-}" ] || exit 1
f=$(mktemp) || exit 2
# ELF header and one loadable segment, then: mov ebx,42; mov eax,1; int 0x80.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$f"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$f"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$f"
printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$f"
printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >>"$f"
printf '\273\052\000\000\000\270\001\000\000\000\315\200' >>"$f"
chmod +x "$f"
# QEMU_STACK_SIZE=0 means nothing to the kernel but makes qemu-user refuse to
# start, so an emulator registered in binfmt_misc does not count.
QEMU_STACK_SIZE=0 "$f" 2>/dev/null
status=$?
rm -f "$f"
[ "$status" -eq 42 ]
