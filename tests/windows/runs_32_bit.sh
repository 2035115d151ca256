#!/bin/sh
# Whether this machine runs 32-bit programs: tried, not guessed from the
# kernel's name. Some kernels run 64-bit programs only; there wine's 32-bit
# loader (itself a 32-bit Linux program) fails with "Exec format error".
# Exit 0: it runs them; 1: it does not.
/usr/lib/wine/wine --version >/dev/null 2>&1
