"""The module frame: import, the PrefixSearch type, the argument binder."""

import importlib
import inspect
import subprocess
import sys
import textwrap

import pytest

import _kelnor
from _kelnor import PrefixSearch
from conftest import child_environment, pypy_differs

EMPTY_IMAGE = bytes(8)


@pytest.fixture
def index():
    return PrefixSearch.from_bytes(EMPTY_IMAGE)


def test_namespace():
    # The native builds are the kelnor package's to call: private names.
    assert _kelnor.__all__ == ["PrefixSearch"]
    public = {name for name in vars(_kelnor) if not name.startswith("_")}
    assert public == {"PrefixSearch"}


@pypy_differs("the module doc string of a C extension is reported as None")
def test_module_doc_is_empty_string():
    assert _kelnor.__doc__ == ""


def reimport():
    saved = sys.modules.pop("_kelnor")
    try:
        return saved, importlib.import_module("_kelnor")
    finally:
        sys.modules["_kelnor"] = saved


def test_reimport_keeps_the_type():
    _, again = reimport()
    assert again.PrefixSearch is PrefixSearch


@pypy_differs("the import machinery wraps a re-imported extension in a new module object")
def test_reimport_yields_same_module():
    saved, again = reimport()
    assert again is saved


def test_type_identity():
    assert PrefixSearch.__name__ == "PrefixSearch"
    assert PrefixSearch.__module__ == "builtins"
    assert PrefixSearch.__doc__ is None
    assert PrefixSearch.__bases__ == (object,)
    assert [name for name in ("from_internal_data_v2", "to_bytes", "from_bytes", "fuzzy_match",
                              "fuzzy_match_video") if hasattr(PrefixSearch, name)] == [
        "from_internal_data_v2", "to_bytes", "from_bytes", "fuzzy_match", "fuzzy_match_video"]


@pypy_differs("cpyext gives instances of C types an attribute dictionary")
def test_instances_have_no_dict_or_weakref(index):
    with pytest.raises(AttributeError):
        index.anything = 1
    assert not hasattr(index, "__dict__")


@pytest.mark.parametrize("args, kwargs", [((), {}), ((1,), {"x": 2}), ((EMPTY_IMAGE,), {})])
def test_no_constructor(args, kwargs):
    with pytest.raises(TypeError) as excinfo:
        PrefixSearch(*args, **kwargs)
    assert str(excinfo.value) == "No constructor defined for PrefixSearch"


@pypy_differs("cpyext accepts a subclass of a type without Py_TPFLAGS_BASETYPE")
def test_subclassing_refused():
    with pytest.raises(TypeError):
        class Sub(PrefixSearch):  # noqa: F841
            pass


@pypy_differs("text signatures of C methods are not derived from their doc strings")
@pytest.mark.parametrize("name, signature", [
    ("from_internal_data_v2",
     "(node_shifts, child_labels, payloads, child_transitions, video_index, video_top_n)"),
    ("to_bytes", "($self)"),
    ("from_bytes", "(b)"),
    ("fuzzy_match", "(term, max_dist=1, limit=None)"),
    ("fuzzy_match_video",
     "(term, max_dist=1, limit=None, include_prefix_nodes=None, min_score=None)"),
])
def test_text_signatures(name, signature):
    method = getattr(PrefixSearch, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None


@pypy_differs("text signatures of C methods are not derived from their doc strings")
def test_inspect_signature_of_query():
    assert str(inspect.signature(PrefixSearch.fuzzy_match)) == "(term, max_dist=1, limit=None)"


def test_to_bytes_refuses_arguments(index):
    with pytest.raises(TypeError):
        index.to_bytes(1)
    with pytest.raises(TypeError):
        index.to_bytes(x=1)


SEVEN = (1, 2, 3, 4, 5, 6, 7)

# (call, expected message) for every message of the binder.
BINDER_CASES = [
    (lambda ix: ix.fuzzy_match("a", 1, None, 4),
     "PrefixSearch.fuzzy_match() takes from 1 to 3 positional arguments but 4 were given"),
    (lambda ix: ix.fuzzy_match_video("a", 1, None, None, None, 6),
     "PrefixSearch.fuzzy_match_video() takes from 1 to 5 positional arguments but 6 were given"),
    (lambda ix: PrefixSearch.from_internal_data_v2(*SEVEN),
     "PrefixSearch.from_internal_data_v2() takes 6 positional arguments but 7 were given"),
    (lambda ix: PrefixSearch.from_bytes(b"", b""),
     "PrefixSearch.from_bytes() takes 1 positional arguments but 2 were given"),
    (lambda ix: ix.fuzzy_match("a", term="b"),
     "PrefixSearch.fuzzy_match() got multiple values for argument 'term'"),
    (lambda ix: ix.fuzzy_match(limit=1, term="a", **{"limit ": 2}),
     "PrefixSearch.fuzzy_match() got an unexpected keyword argument 'limit '"),
    (lambda ix: ix.fuzzy_match(text="a"),
     "PrefixSearch.fuzzy_match() got an unexpected keyword argument 'text'"),
    (lambda ix: ix.fuzzy_match(max_dist=1, text="a"),
     "PrefixSearch.fuzzy_match() got an unexpected keyword argument 'text'"),
    (lambda ix: ix.fuzzy_match(**{"été": 1}),
     "PrefixSearch.fuzzy_match() got an unexpected keyword argument 'été'"),
    (lambda ix: ix.fuzzy_match(),
     "PrefixSearch.fuzzy_match() missing 1 required positional argument: 'term'"),
    (lambda ix: ix.fuzzy_match(max_dist=2, limit=3),
     "PrefixSearch.fuzzy_match() missing 1 required positional argument: 'term'"),
    (lambda ix: ix.fuzzy_match_video(min_score=0.5),
     "PrefixSearch.fuzzy_match_video() missing 1 required positional argument: 'term'"),
    (lambda ix: PrefixSearch.from_bytes(),
     "PrefixSearch.from_bytes() missing 1 required positional argument: 'b'"),
    (lambda ix: PrefixSearch.from_internal_data_v2(1, 2),
     "PrefixSearch.from_internal_data_v2() missing 4 required positional arguments: "
     "'payloads', 'child_transitions', 'video_index', and 'video_top_n'"),
    (lambda ix: PrefixSearch.from_internal_data_v2(1, 2, 3, 4),
     "PrefixSearch.from_internal_data_v2() missing 2 required positional arguments: "
     "'video_index' and 'video_top_n'"),
    (lambda ix: PrefixSearch.from_internal_data_v2(1, 2, 3, video_index=5),
     "PrefixSearch.from_internal_data_v2() missing 2 required positional arguments: "
     "'child_transitions' and 'video_top_n'"),
    (lambda ix: PrefixSearch.from_internal_data_v2(child_labels=2),
     "PrefixSearch.from_internal_data_v2() missing 5 required positional arguments: "
     "'node_shifts', 'payloads', 'child_transitions', 'video_index', and 'video_top_n'"),
    (lambda ix: PrefixSearch.from_internal_data_v2(1, 2, 3, 4, 5, 6, node_shifts=1),
     "PrefixSearch.from_internal_data_v2() got multiple values for argument 'node_shifts'"),
    (lambda ix: PrefixSearch.from_bytes(b"", b=b""),
     "PrefixSearch.from_bytes() got multiple values for argument 'b'"),
]


@pytest.mark.parametrize("call, message", BINDER_CASES)
def test_binder_messages(index, call, message):
    with pytest.raises(TypeError) as excinfo:
        call(index)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == message


def test_binder_error_comes_before_receiver_check():
    # Binding is checked before the receiver is looked at.
    with pytest.raises(TypeError, match="takes from 1 to 3 positional arguments"):
        PrefixSearch.fuzzy_match.__get__(PrefixSearch.from_bytes(EMPTY_IMAGE))("a", 1, 2, 3)


def test_keywords_bind_by_name():
    # All parameters may be given by keyword; absent optionals are fine.
    index = PrefixSearch.from_bytes(b=EMPTY_IMAGE)
    assert index.to_bytes() == EMPTY_IMAGE


class Keyword(str):
    pass


# A call written with literal keywords passes the interned names the binder
# compares by identity; the other spellings take its comparison by text.
@pytest.mark.parametrize("spell", [
    str, lambda name: "".join(list(name)), Keyword,
], ids=["literal", "built at run time", "str subclass"])
@pytest.mark.parametrize("name", ["max_dist", "limit", "include_prefix_nodes", "min_score"])
def test_keywords_bind_by_text_as_well_as_identity(index, spell, name):
    with pytest.raises(TypeError, match=f"^argument '{name}': "):
        index.fuzzy_match_video(**{spell("term"): "a", spell(name): "x"})


@pypy_differs("the interpreter checks the receiver of an unbound method differently")
@pytest.mark.parametrize("receiver", [5, "x", None])
def test_unbound_call_with_foreign_receiver(receiver):
    with pytest.raises(TypeError):
        PrefixSearch.fuzzy_match(receiver, "a")
    with pytest.raises(TypeError):
        PrefixSearch.to_bytes(receiver)


def test_object_usable_after_errors(index):
    for _ in range(3):
        with pytest.raises(TypeError):
            index.fuzzy_match()
        assert index.to_bytes() == EMPTY_IMAGE


# One node whose only child, 5, lies outside every per-node array.
DAMAGED_IMAGE = bytes([1, 0, 1, 0, 1, 5, 1, 0, 0, 0, 0, 1, 0])
DAMAGED_MESSAGE = "index out of bounds: the len is 1 but the index is 5"


def raise_panic(index):
    try:
        index.fuzzy_match("a")
    except BaseException as caught:  # noqa: B036 - the point is what it derives from
        return caught
    raise AssertionError("no exception")


def test_internal_failure_raises_panic_exception(capfd):
    index = PrefixSearch.from_bytes(DAMAGED_IMAGE)
    panic = raise_panic(index)
    panic_type = type(panic)
    assert panic_type.__name__ == "PanicException"
    assert panic_type.__module__ == "pyo3_runtime"
    assert panic_type.__bases__ == (BaseException,)
    assert not isinstance(panic, Exception)
    assert panic.args == (DAMAGED_MESSAGE,)
    assert panic_type.__doc__
    assert DAMAGED_MESSAGE in capfd.readouterr().err
    # Created once: a second failure raises the same class.
    assert type(raise_panic(index)) is panic_type


def test_panic_is_not_caught_by_except_exception():
    index = PrefixSearch.from_bytes(DAMAGED_IMAGE)
    with pytest.raises(BaseException) as excinfo:
        try:
            index.fuzzy_match("a")
        except Exception:  # noqa: BLE001
            pytest.fail("PanicException was caught as an Exception")
    assert str(excinfo.value) == DAMAGED_MESSAGE


def test_object_usable_after_panic():
    index = PrefixSearch.from_bytes(DAMAGED_IMAGE)
    for _ in range(3):
        raise_panic(index)
        assert index.to_bytes() == DAMAGED_IMAGE
        assert str(raise_panic(index)) == DAMAGED_MESSAGE


# Run in a child: imports the package in a sub-interpreter (before or after the
# main interpreter does), destroys the sub-interpreter, then queries an index
# in the main one; prints what the sub-interpreter's import raised. The
# sub-interpreter shares the main one's settings (from 3.12 an isolated one
# refuses the module before it runs, as it does every module of its kind).
SUB_INTERPRETER_CHILD = textwrap.dedent("""
    import sys
    if sys.argv[1] == "main first":
        import kelnor
    try:
        import _interpreters as interpreters
        sub = interpreters.create("legacy")
    except ImportError:
        import _xxsubinterpreters as interpreters
        sub = interpreters.create(isolated=False)
    interpreters.run_string(sub, '''if True:
        try:
            import kelnor
        except ImportError as error:
            import os
            os.write(1, f"{type(error).__name__} {error.name}: {error}\\\\n".encode())
        ''')
    interpreters.destroy(sub)
    from _kelnor import PrefixSearch
    print(PrefixSearch.from_bytes(bytes(8)).fuzzy_match("a"))
    """)


@pypy_differs("PyPy has no sub-interpreters")
@pytest.mark.parametrize("order", ["main first", "sub-interpreter first"])
def test_a_sub_interpreter_cannot_import_the_module(order):
    completed = subprocess.run(
        [sys.executable, "-c", SUB_INTERPRETER_CHILD, order],
        capture_output=True,
        text=True,
        timeout=60,
        env=child_environment(),
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.splitlines() == [
        "ImportError _kelnor: "
        "_kelnor can be imported only in the main interpreter, not in a sub-interpreter",
        "[]",
    ]
