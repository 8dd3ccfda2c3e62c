"""Host objects that stand where the methods expect lists, integers, floats and flags.

Each one either answers with a given value or raises a given error, so that a
test table can name its case in one line:

    LyingLength([0, 1], -1)                  # __len__ says -1
    FailingAt([0, 1], 1, TypeError("host"))  # iteration raises after one item
    ByIndex([0, 1])                          # a sequence by __getitem__ only
    Index(TypeError)                         # __index__ raises a fresh TypeError

An error given as an instance is raised as it is, so that a test can check that
the very object comes back; given as a class, a fresh one is raised each time,
which the leak tests need: an instance raised again and again keeps every
traceback it went through.
"""

from __future__ import annotations


def given(value):
    """`value`, or raised if it is an exception (instance or class)."""
    if isinstance(value, BaseException) or (
        isinstance(value, type) and issubclass(value, BaseException)
    ):
        raise value
    return value


class LyingLength(list):
    """A list whose __len__ returns (or raises) `length` whatever it holds."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return given(self.length)


class FailingAt(list):
    """A list whose iteration raises `error` after `count` items (after the
    last one when `count` is its length)."""

    def __init__(self, items, count, error):
        super().__init__(items)
        self.count, self.error = count, error

    def __iter__(self):
        for position, item in enumerate(list.__iter__(self)):
            if position == self.count:
                raise self.error
            yield item
        if self.count >= list.__len__(self):
            raise self.error


class NonIterator(list):
    def __iter__(self):
        return 5


class NotIterable:
    """Looks like a sequence by its __getitem__, but refuses to be iterated."""

    __iter__ = None

    def __getitem__(self, index):
        return 0


class ByIndex:
    """A sequence known by __getitem__ only, iterated until IndexError; raises
    `error` at `stop`."""

    def __init__(self, items, stop=None, error=None):
        self.items, self.stop, self.error = list(items), stop, error

    def __getitem__(self, index):
        if index == self.stop:
            raise self.error
        return self.items[index]


class Answers:
    """Gives `value` from its conversion method, or raises it if it is an exception."""

    def __init__(self, value):
        self.value = value

    def answer(self):
        return given(self.value)


class Index(Answers):
    """An integer by __index__."""

    def __index__(self):
        return self.answer()


class Real(Answers):
    """A number by __float__."""

    def __float__(self):
        return self.answer()


class NumpyBool(Answers):
    """Passes for numpy's bool_ by its names; a flag by __bool__."""

    __module__ = "numpy"

    def __bool__(self):
        return self.answer()


NumpyBool.__name__ = "bool_"


# ------------------------------------------- objects that change what holds them


class Clears:
    """An integer that empties `target` when it is converted."""

    def __init__(self, target: list, value: int):
        self.target, self.value = target, value

    def __index__(self):
        self.target.clear()
        return self.value


class Appends:
    """An integer that appends `extra` to `target` the first time it is converted."""

    def __init__(self, target: list, value: int, extra):
        self.target, self.value, self.extra = target, value, extra

    def __index__(self):
        if self.extra is not None:
            self.target.append(self.extra)
            self.extra = None
        return self.value


class ReplacesNext:
    """An integer that replaces the item after `position` in `target` with 1."""

    def __init__(self, target: list, position: int, value: int):
        self.target, self.position, self.value = target, position, value

    def __index__(self):
        self.target[self.position + 1] = 1
        return self.value
