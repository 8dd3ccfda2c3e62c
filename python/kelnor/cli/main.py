"""The `kelnor` command: build an index from a records file, query it, ask it
for suggestions, or try a demo.

`kelnor --version` prints the version of the installed distribution (of the
source tree when it runs from there).

Exit status: 0 on success, 1 when a command fails (its reason on standard
error, after "kelnor: "), 2 for a malformed command line, 130 when Ctrl-C
stops it. No failure shows a traceback.
"""

from __future__ import annotations

import argparse
import contextlib
import importlib.metadata
import os
import signal
import sys
from collections.abc import Sequence
from typing import TYPE_CHECKING, Callable, TypeVar

from _kelnor import PrefixSearch, _index_sizes

from kelnor.builder import DEFAULT_VIDEO_TOP_N
from kelnor.cli.demo import run_demo
from kelnor.cli.user_input import CommandError, shown_path
from kelnor.folding import typed_for
from kelnor.index_failure import DamagedIndexError, answer
from kelnor.index_file import IndexFileError, load, load_stream, save
from kelnor.cli.progress import Progress
from kelnor.cli.records_file import FORMATS, build_records_file, format_of
from kelnor.cli.serve_operations import add_operations_arguments, operations_of
from kelnor.cli.results_view import search_view, suggestions_view, terms_view, videos_view
from kelnor.cli.text_lines import STDIN, shown_name
from kelnor import __version__
from kelnor.cli.user_input import whole_number_in
from kelnor.video_table import U32_MAX

if TYPE_CHECKING:
    from starlette.applications import Starlette
    from kelnor.server import Operations

# The status of a command stopped by Ctrl-C, as shells give one killed by SIGINT.
INTERRUPTED = 130

# Inputs at least this large get a progress bar when standard error is a terminal.
LARGE_INPUT_BYTES = 4 * 2**20

# More server workers than this would be a typo: each is a process.
MAX_WORKERS = 64
# How long `kelnor serve` waits for a request's head, and for the requests under
# way once told to stop; an hour is far past any sensible setting of either.
HEAD_TIMEOUT_SECONDS = 10
SHUTDOWN_GRACE_SECONDS = 5
MAX_DEADLINE_SECONDS = 3600
# How often `kelnor serve` looks whether its files were replaced, by default and at most.
RELOAD_SECONDS = 2
MAX_RELOAD_SECONDS = 86_400

T = TypeVar("T")


def _bounded(low: int, high: int) -> Callable[[str], int]:
    """An argument type: a whole number from `low` to `high`."""

    def parse(text: str) -> int:
        number = whole_number_in(text, low, high)
        if number is None:
            raise argparse.ArgumentTypeError(
                f"expected a whole number from {low} to {high}, got {text!r}"
            )
        return number

    return parse


_u32 = _bounded(0, U32_MAX)


def _served_file(path: str) -> str:
    """An argument type: the index file that a server serves and watches, so
    not standard input."""
    if path == STDIN:
        raise argparse.ArgumentTypeError(
            "the server reads its index from a file, which it watches for reloads:"
            " standard input cannot be served"
        )
    return path




def _version() -> str:
    """The installed distribution's version; the source tree's when it is not installed."""
    try:
        return importlib.metadata.version("kelnor")
    except importlib.metadata.PackageNotFoundError:
        return __version__


def _progress_for(path: str, wanted: bool | None) -> Progress | None:
    """A progress bar for reading `path`, if `wanted` (None: if it is large and
    standard error is a terminal); none for standard input, whose size is unknown."""
    if path == STDIN:
        return None
    try:
        size = os.stat(path).st_size
    except OSError as error:
        raise CommandError(f"cannot read {path}: {error.strerror}") from None
    if wanted is None:
        wanted = sys.stderr.isatty() and size >= LARGE_INPUT_BYTES
    return Progress(f"reading {path}", size, sys.stderr) if wanted else None


def _build(args: argparse.Namespace) -> None:
    progress = _progress_for(args.records, args.progress)
    file_format = args.format or format_of(args.records)
    with progress or contextlib.nullcontext():
        index = build_records_file(args.records, file_format, args.video_top_n, args.fold, progress)
    if args.word_starts:
        index = index._with_word_starts()
    try:
        size = save(index, args.output)
    except OSError as error:
        raise CommandError(f"cannot write {args.output}: {error.strerror}") from None
    terms, videos, nodes = _index_sizes(index)
    # The index is saved: a name's bytes that are not UTF-8 (kept by Python as
    # lone surrogates, which no strict output encodes) must not fail the build now.
    shown = shown_path(args.output)
    print(f"{shown}: {terms:,} terms, {videos:,} videos, {nodes:,} nodes, {size:,} bytes")


def _load(path: str) -> PrefixSearch:
    """The index of the file at `path`, or of standard input when it is "-"."""
    try:
        if path != STDIN:
            return load(path)
        if sys.stdin is None:
            raise CommandError("cannot read standard input: it is closed")
        return load_stream(sys.stdin.buffer, shown_name(path))
    except OSError as error:
        raise CommandError(f"cannot read {shown_name(path)}: {error.strerror}") from None
    except IndexFileError as error:
        raise CommandError(str(error)) from None


def _answer(path: str, query: Callable[[], T]) -> T:
    """The result of `query`, or a CommandError if the index turns out damaged."""
    try:
        return answer(query)
    except DamagedIndexError as failure:
        raise CommandError(f"{shown_name(path)} is a damaged index ({failure})") from None


def _check_term(term: str) -> None:
    """Refuses a term that the command line gave as bytes that are not UTF-8.

    Python keeps such bytes as lone surrogates, which have no UTF-8 form.
    """
    try:
        term.encode("utf-8")
    except UnicodeEncodeError:
        raise CommandError(f"the term {os.fsencode(term)!r} is not UTF-8 text") from None


def _query(args: argparse.Namespace) -> None:
    _check_term(args.term)
    index = _load(args.index)
    term = typed_for(index, args.term)
    if args.videos:
        videos = _answer(args.index, lambda: index.fuzzy_match_video(term, args.max_dist, args.limit))
        print(videos_view(videos, args.json))
    else:
        matches = _answer(args.index, lambda: index.fuzzy_match(term, args.max_dist, args.limit))
        print(terms_view(matches, args.json))


def _suggest(args: argparse.Namespace) -> None:
    _check_term(args.text)
    index = _load(args.index)
    text = typed_for(index, args.text)
    suggestions = _answer(
        args.index,
        lambda: index.suggest(
            text,
            args.max_dist,
            args.limit,
            complete=not args.exact,
            transpositions=args.transpositions,
        ),
    )
    print(suggestions_view(suggestions, args.json))


def _search(args: argparse.Namespace) -> None:
    _check_term(args.text)
    index = _load(args.index)
    try:
        videos = _answer(
            args.index, lambda: index.search(typed_for(index, args.text), args.max_dist, args.limit)
        )
    except ValueError as refusal:
        raise CommandError(str(refusal)) from None
    print(search_view(videos, args.json))


def _demo(args: argparse.Namespace) -> None:
    run_demo(args.words, args.seed, sys.stdout)


def _serve(args: argparse.Namespace) -> None:
    try:
        from kelnor import server
    except ImportError as error:
        raise CommandError(
            f"kelnor serve needs the serve extra ({error}): pip install 'kelnor[serve]'"
        ) from None
    deadlines = server.Deadlines(args.head_timeout, args.shutdown_grace)
    if hasattr(signal, "SIGHUP"):
        # A reload asked while the files load would end the server: the first
        # look at them, once it serves, reloads what was replaced meanwhile.
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
    with contextlib.ExitStack() as resources:
        operations, worker_exited = operations_of(args, resources)
        app = _served_app(args, operations)
        server.serve(app, args.host, args.port, args.workers, deadlines, worker_exited)


def _served_app(args: argparse.Namespace, operations: Operations) -> Starlette:
    """The application of `kelnor serve`, made in a function of its own so that
    nothing but the application holds the first index: a reload frees it."""
    from kelnor import server

    catalogue = source = None
    if args.videos is not None:
        source = server.CatalogueSource(
            args.videos,
            args.videos_id_column,
            args.videos_title_column,
            args.videos_url_column,
            args.videos_thumbnail_column,
        )
    if args.demo:
        reload = None
        index, info = server.demo_index()
    else:
        plan = server.ReloadPlan(args.index, source, args.reload_interval)
        # Seen before the files are read: one replaced while they load (a
        # large catalogue takes a while) is reloaded at the first look.
        reload = plan._replace(seen=plan.signatures())
        index = _load(args.index)
        try:
            info = server.file_index_info(args.index, index)
        except OSError as error:
            raise CommandError(f"cannot read {args.index}: {error.strerror}") from None
        except IndexFileError as error:
            raise CommandError(str(error)) from None
    if source is not None:
        try:
            catalogue = server.load_catalogue(source)
        except server.CatalogueError as error:
            raise CommandError(str(error)) from None
    return server.create_app(index, info, catalogue, reload, operations)


def _lookup_command(
    commands: argparse._SubParsersAction[argparse.ArgumentParser],
    name: str,
    summary: str,
    description: str,
    *,
    typed: str,
    max_dist: tuple[int | None, str],
    limit: tuple[int | None, str],
) -> argparse.ArgumentParser:
    """A command that looks what is typed up in an index: its index, what is
    typed, --max-dist, --limit and --json."""
    command: argparse.ArgumentParser = commands.add_parser(name, help=summary, description=description)
    command.add_argument("index", metavar="INDEX.bin", help="the index, or - for standard input")
    command.add_argument(typed.lower(), metavar=typed)
    command.add_argument("--max-dist", type=_u32, default=max_dist[0], metavar="N", help=max_dist[1])
    command.add_argument("--limit", type=_u32, default=limit[0], metavar="N", help=limit[1])
    command.add_argument("--json", action="store_true", help="print JSON instead of a table")
    return command


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="kelnor", description="Typo-tolerant prefix search over terms and their videos."
    )
    parser.add_argument("--version", action="version", version=f"kelnor {_version()}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    build = commands.add_parser(
        "build",
        help="build an index from a records file",
        description="Build an index from RECORDS, a UTF-8 file of tab-separated lines "
        "(comma-separated for .csv): term, video id (a UUID or a whole number), count. A first "
        "line 'term<TAB>video<TAB>count' names the columns and is skipped. Files compressed "
        "with gzip are read as they are; with pyarrow installed, Parquet and Arrow IPC files "
        "with the columns term, video and count are read too.",
    )
    build.add_argument(
        "records", metavar="RECORDS.tsv", help="the records file, or - for standard input"
    )
    build.add_argument(
        "--format",
        choices=FORMATS,
        help="the records file's format (default: by its extension, else tsv)",
    )
    build.add_argument(
        "-o", "--output", required=True, metavar="INDEX.bin", help="where to write the index file"
    )
    build.add_argument(
        "--video-top-n",
        type=_u32,
        default=DEFAULT_VIDEO_TOP_N,
        metavar="N",
        help=f"videos kept per trie node (default {DEFAULT_VIDEO_TOP_N})",
    )
    build.add_argument(
        "--progress",
        action=argparse.BooleanOptionalAction,
        help="show a progress bar (default: for large inputs on a terminal)",
    )
    build.add_argument(
        "--fold",
        action="store_true",
        help="fold terms (case, accents, spacing; see kelnor.fold) and gather those that fold alike",
    )
    build.add_argument(
        "--word-starts",
        action="store_true",
        help="let suggest complete a phrase from any of its words (see docs/suggest.md)",
    )
    build.set_defaults(run=_build)

    query = _lookup_command(
        commands,
        "query",
        "query an index",
        "Print the indexed terms within --max-dist edits of TERM, "
        "or with --videos the best videos for it.",
        typed="TERM",
        max_dist=(1, "edits allowed (default 1)"),
        limit=(None, "at most N results"),
    )
    query.add_argument("--videos", action="store_true", help="rank videos instead of listing terms")
    query.set_defaults(run=_query)

    suggest = _lookup_command(
        commands,
        "suggest",
        "suggest searches for what was typed",
        "Print the indexed terms that complete TEXT within --max-dist edits "
        "(with --exact: the terms within --max-dist edits of it), likeliest slips first "
        "(completions: nearest first), then most counted.",
        typed="TEXT",
        max_dist=(None, "edits allowed (default: 0 below 4 characters, 1 up to 7, 2 from 8)"),
        limit=(10, "at most N suggestions (default 10)"),
    )
    suggest.add_argument(
        "--exact", action="store_true", help="whole terms only, no completions of TEXT"
    )
    suggest.add_argument(
        "--transpositions",
        action="store_true",
        default=True,
        help="count two neighbouring characters swapped as one edit (the default)",
    )
    suggest.add_argument(
        "--no-transpositions",
        dest="transpositions",
        action="store_false",
        help="count two neighbouring characters swapped as two edits",
    )
    suggest.set_defaults(run=_suggest)

    search = _lookup_command(
        commands,
        "search",
        "rank videos for a text of several words",
        "Print the best videos for the words of TEXT: most words answered first, "
        "then the highest summed score. Each word is matched within --max-dist edits, "
        "the last one also as the start of longer terms unless TEXT ends in a space.",
        typed="TEXT",
        max_dist=(None, "edits allowed in each word (default: 0 below 3 characters, 1 up to 7, 2 from 8)"),
        limit=(10, "at most N videos (default 10)"),
    )
    search.set_defaults(run=_search)

    demo = commands.add_parser(
        "demo",
        help="build an index of real words with made-up videos and query it",
        description="Index a word list, each word linked to a few made-up videos, "
        "and run a few queries with typos.",
    )
    demo.add_argument(
        "--words",
        metavar="FILE",
        help="a UTF-8 word list, one word a line (default: the shipped sample)",
    )
    demo.add_argument(
        "--seed", type=int, default=0, help="seed of the made-up videos and typos (default 0)"
    )
    demo.set_defaults(run=_demo)

    serve = commands.add_parser(
        "serve",
        help="serve a search page and a JSON API over an index",
        description="Serve the search page at / and the API (/suggest, /videos, /search, "
        "/health, /metrics, described at /openapi.json) over INDEX, or over the demo's index "
        "of the shipped "
        "word sample with made-up videos. Needs the serve extra: pip install 'kelnor[serve]'.",
    )
    source = serve.add_mutually_exclusive_group(required=True)
    source.add_argument(
        "index", metavar="INDEX.bin", nargs="?", type=_served_file, help="the index file to serve"
    )
    source.add_argument(
        "--demo", action="store_true", help="serve the demo's index instead of a file"
    )
    serve.add_argument(
        "--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1, loopback)"
    )
    serve.add_argument(
        "--port", type=_bounded(1, 65535), default=8000, help="port to listen on (default 8000)"
    )
    serve.add_argument(
        "--workers",
        type=_bounded(1, MAX_WORKERS),
        default=1,
        metavar="N",
        help="worker processes, forked after the index is loaded so that they share it "
        "(default 1)",
    )
    _add_seconds(
        serve,
        "--head-timeout",
        (1, MAX_DEADLINE_SECONDS, HEAD_TIMEOUT_SECONDS),
        "a connection whose request line and headers take longer is closed",
    )
    _add_seconds(
        serve,
        "--shutdown-grace",
        (0, MAX_DEADLINE_SECONDS, SHUTDOWN_GRACE_SECONDS),
        "on SIGTERM or SIGINT, requests under way have this long to finish",
    )
    serve.add_argument(
        "--videos",
        metavar="CATALOGUE",
        help="a CSV, TSV, JSON Lines or Parquet file of the videos' ids and titles (and "
        "optionally url, thumbnail and other columns), joined to each video answered",
    )
    for field in ("id", "title", "url", "thumbnail"):
        serve.add_argument(
            f"--videos-{field}-column",
            metavar="NAME",
            default=field,
            help=f"the catalogue's column of the videos' {field}s (default {field})",
        )
    _add_seconds(
        serve,
        "--reload-interval",
        (0, MAX_RELOAD_SECONDS, RELOAD_SECONDS),
        "how often to look whether INDEX or CATALOGUE was replaced, and then serve the new one",
        "; 0: only on SIGHUP",
    )
    add_operations_arguments(serve)
    serve.set_defaults(run=_serve)
    return parser


def _add_seconds(
    parser: argparse.ArgumentParser,
    flag: str,
    bounds: tuple[int, int, int],
    meaning: str,
    default_note: str = "",
) -> None:
    """A whole number of seconds from `bounds` (lowest, highest, default)."""
    low, high, default = bounds
    parser.add_argument(
        flag,
        type=_bounded(low, high),
        default=default,
        metavar="SECONDS",
        help=f"{meaning} (default {default}{default_note})",
    )


def _fail(reason: str, status: int = 1) -> int:
    print(f"kelnor: {reason}", file=sys.stderr)
    return status


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    run: Callable[[argparse.Namespace], None] = args.run
    try:
        run(args)
    except CommandError as error:
        return _fail(str(error))
    except MemoryError:
        return _fail("out of memory")
    except UnicodeEncodeError as error:
        # Every text the commands take in is checked to be UTF-8, so this is
        # the output, whose encoding (PYTHONIOENCODING, the locale) lacks a character.
        shown = error.object[error.start : error.end]
        return _fail(f"the output's encoding ({error.encoding}) cannot show {shown!r}")
    except KeyboardInterrupt:
        return _fail("interrupted", INTERRUPTED)
    except BrokenPipeError:
        # The reader left early (kelnor demo | head): stop quietly, and keep the
        # interpreter's final flush of stdout from failing again.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return 0
