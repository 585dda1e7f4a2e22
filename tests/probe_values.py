"""Argument values shared by the tests: strings made at run time, containers
of every accepted kind, and objects whose conversion or iteration fails in a
chosen way."""


def text(*parts):
    """A str built at run time: literals are immortal on newer interpreters and hide leaks."""
    return "".join(parts)


class Number:
    """A score value that converts through __float__."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Raises:
    """A score value whose __float__ raises a new `error_type(*args)` each time."""

    def __init__(self, error_type, *args):
        self.error_type = error_type
        self.args = args

    def __float__(self):
        raise self.error_type(*self.args)


class TypeErrorSubclass(TypeError):
    pass


class SetSubclass(set):
    pass


class FrozenSubclass(frozenset):
    pass


class DictSubclass(dict):
    pass


class IterRaises(set):
    """A set whose iterator fails before its first item."""

    def __iter__(self):
        raise ValueError(text("x"))


class NextRaises(set):
    """A set whose iterator fails after its last item."""

    def __iter__(self):
        yield from set.__iter__(self)
        raise LookupError(text("midway"))


class UnprintableKey(str):
    """A keyword whose str() fails, so that a message cannot name it."""

    def __str__(self):
        raise RuntimeError(text("no text"))


class OnFirstFloat:
    """A value whose first conversion runs `action`; it reads as `value`."""

    def __init__(self, action, value=1.0):
        self.action = action
        self.value = value

    def __float__(self):
        action, self.action = self.action, None
        if action is not None:
            action()
        return self.value


class Unconvertible:
    """Neither a str nor a set, a dict or a number."""
