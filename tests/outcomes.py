"""A call's outcome as a value, so that the extension and a model can be
compared on damaged indexes too."""

from __future__ import annotations

from typing import Callable


def outcome(call: Callable) -> tuple:
    """("ok", result), or ("panic", message) for a PanicException."""
    try:
        return ("ok", call())
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # PanicException derives from BaseException
        if type(error).__name__ != "PanicException":
            raise
        return ("panic", str(error))
