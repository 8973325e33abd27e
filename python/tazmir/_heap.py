"""How a process of ours hands freed image buffers back to the system (glibc only).

glibc maps every buffer above 32 MB (a 2048 x 2048 float64 map) fresh from the kernel and
unmaps it when freed, so each image of a batch faults its whole working memory back in, page
by page and zeroed by the kernel: about a fifth of the analysis of a 2048 x 2048 image. Kept
in the heap instead, the next image reuses the last one's pages.

Only the command line and the worker processes it starts opt in (`manage`): a library must
not change its host's allocator. Images analysed in strips (above `WHOLE_PIXELS`) keep
glibc's usual policy, as their strips would otherwise stay resident beside the peak of the
whole-image maps.
"""

from __future__ import annotations

import ctypes
import sys
from typing import Any, Optional

from .tensor import WHOLE_PIXELS

# mallopt parameters (malloc.h)
_M_TRIM_THRESHOLD = -1
_M_MMAP_THRESHOLD = -3
_MIB = 1 << 20
# (mmap threshold, trim threshold): whole-image buffers of up to WHOLE_PIXELS float64 pixels
# stay in the heap, and so does its free top unless it grows past two of them.
_KEEP = (64 * _MIB, 128 * _MIB)
# glibc's own policy once its sliding threshold has reached its ceiling.
_RETURN = (32 * _MIB, 64 * _MIB)

_libc: Optional[Any] = None
_kept: Optional[bool] = None


def manage() -> None:
    """Let `suit` tune this process's allocator from now on (no-op without glibc)."""
    global _libc
    if _libc is not None or not sys.platform.startswith("linux"):
        return
    try:
        libc = ctypes.CDLL(None)
        libc.mallopt.argtypes = (ctypes.c_int, ctypes.c_int)
        libc.malloc_trim.argtypes = (ctypes.c_size_t,)
    except (OSError, AttributeError):  # another C library
        return
    _libc = libc


def suit(pixels: int) -> None:
    """Keep freed buffers for the next image when this one of ``pixels`` is analysed whole,
    or give them back before one analysed in strips."""
    global _kept
    if _libc is None:
        return
    keep = pixels <= WHOLE_PIXELS
    if keep == _kept:
        return
    mmap_threshold, trim_threshold = _KEEP if keep else _RETURN
    _libc.mallopt(_M_MMAP_THRESHOLD, mmap_threshold)
    _libc.mallopt(_M_TRIM_THRESHOLD, trim_threshold)
    if not keep:
        _libc.malloc_trim(0)
    _kept = keep
