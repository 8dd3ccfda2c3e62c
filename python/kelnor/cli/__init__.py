"""The command line, `kelnor` (kelnor.cli.main), and the helpers that its
commands use: reading records files, showing results, progress, the demo.
The server's `serve` command reuses user_input and the demo index."""
