"""Input checks that keep the core's internal failures away from users.

`_native` reports some impossible requests (an image or a smoothing kernel too large to
allocate) as `PanicException`, which derives from BaseException and ends a batch. The
package checks sizes before calling the core and turns any allocation failure that still
happens into MemoryError, which callers and the batch handle like any bad input.
"""

from __future__ import annotations

import functools
import math
import os
from collections.abc import Callable
from typing import TypeVar, Union

import _native

F = TypeVar("F", bound=Callable)

_ALLOCATION_FAILURES = ("capacity overflow", "memory allocation")
# The structure tensor holds its two result maps and, while it runs, about two more.
_FIELDS_PER_PIXEL = 4


def physical_memory() -> int:
    """Bytes of memory this machine has (a large number where it cannot be asked)."""
    try:
        return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    except (AttributeError, ValueError, OSError):
        return 2**62


def _size(n: int) -> str:
    return f"{n / 2**30:.1f} GiB" if n >= 2**30 else f"{n / 2**20:.1f} MiB"


def check_fits(shape: tuple[int, ...], sigma: Union[float, str]) -> None:
    """MemoryError when the orientation field of an image of `shape` at scale `sigma`
    (pixels; "auto" picks one the image can hold) needs more memory than the machine has."""
    rows, cols = shape
    need = 8 * _FIELDS_PER_PIXEL * rows * cols
    taps = 1 if isinstance(sigma, str) else 2 * math.ceil(4.0 * sigma) + 1
    have = physical_memory()
    if need > have:
        raise MemoryError(
            f"an image of {rows} x {cols} pixels needs about {_size(need)} for its orientation "
            f"field, more than this machine's {_size(have)}"
        )
    if 8 * taps > have:
        raise MemoryError(
            f"sigma={sigma!r} pixels needs a smoothing kernel of {taps} weights, more than "
            "fits in memory"
        )


def allocation_failures_as_memory_error(function: F) -> F:
    """Runs `function`, turning an allocation failure inside the core into MemoryError."""

    @functools.wraps(function)
    def wrapper(*args, **kwargs):
        try:
            return function(*args, **kwargs)
        except _native.PanicException as exc:
            if not str(exc).startswith(_ALLOCATION_FAILURES):
                raise
            raise MemoryError(f"not enough memory for this analysis ({exc})") from None

    return wrapper  # type: ignore[return-value]
