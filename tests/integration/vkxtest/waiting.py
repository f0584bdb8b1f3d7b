"""Bounded waits: every wait in the tests has a timeout."""

import time

DEFAULT_TIMEOUT = 15.0


class WaitTimeout(AssertionError):
    """A wait ran out of time: the awaited thing did not happen."""


def wait_until(predicate, timeout, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise WaitTimeout(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)
