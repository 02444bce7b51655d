#!/usr/bin/env bash
# Prints the flavour of Wine this machine can run SLOTWARD under: "32" (the i686 build through
# wine32, what ships) or "64" (the x86-64 build through wine64) where the kernel runs no 32-bit
# code. scripts/test.sh, demo.sh and measure.py all ask here. Without wine32 installed it prints
# "32": setup.sh installs it, and the bench then says what is missing.
# The shell answers 126 when the kernel refuses to execute wine32, a 32-bit program.
if [ -x /usr/lib/wine/wine ]; then
    /usr/lib/wine/wine --version >/dev/null 2>&1
    if [ $? -eq 126 ]; then
        echo 64
        exit 0
    fi
fi
echo 32
