"""The failure of a command-line command, as the one line that tells the user why."""


class CommandError(Exception):
    """Shown as "kelnor: {message}"; the command exits with status 1."""
