"""Argument values shared by the reference-count and leak tests."""


def text(*parts):
    """A str built at run time: literals are immortal on newer interpreters and hide leaks."""
    return "".join(parts)


class Number:
    """A score value that converts through __float__."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value
