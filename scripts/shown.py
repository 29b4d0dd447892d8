"""Text from a bundle, made safe to print: a bundle comes from anyone, and what it holds must not
write on the user's terminal (escape sequences, line breaks) or flood it."""
import sys

LIMIT = 80


def shown(value, limit=LIMIT):
    """VALUE (text or bytes) with control characters and non-printing ones as escapes, cut to
    LIMIT characters."""
    if isinstance(value, bytes):
        value = value.decode("utf-8", "backslashreplace")
    text = "".join(c if c.isprintable() else ascii(c)[1:-1] for c in value)
    if len(text) > limit:
        text = text[:limit] + "... (%d characters in all)" % len(text)
    return text


def refuse(why):
    """Ends the step with the one line that says why the bundle is refused."""
    print("REFUSED: " + why)
    sys.exit(1)
