"""The version of kelnor, written here only: pyproject.toml reads it from this file."""

VERSION = "0.1.0"
