"""The OpenAPI 3.1 description of the server's API, served at /openapi.json."""

from __future__ import annotations

from typing import Any

from kelnor.server.params import MAX_DIST_LIMIT, MAX_QUERY_LENGTH, MAX_RESULTS
from kelnor import __version__

Json = dict[str, Any]


def _parameter(name: str, schema: Json, description: str, required: bool = False) -> Json:
    return {
        "name": name,
        "in": "query",
        "required": required,
        "schema": schema,
        "description": description,
    }


def _whole(low: int, high: int, default: int | None = None) -> Json:
    schema: Json = {"type": "integer", "minimum": low, "maximum": high}
    if default is not None:
        schema["default"] = default
    return schema


_Q = _parameter(
    "q",
    {"type": "string", "minLength": 1, "maxLength": MAX_QUERY_LENGTH},
    "the text typed so far, not empty, at most "
    f"{MAX_QUERY_LENGTH} characters; folded (case, accents, spacing) for an index "
    "built with folding, taken as it is otherwise",
    required=True,
)
_LIMIT = _parameter("limit", _whole(0, MAX_RESULTS, 10), "at most this many results")


def _ok(schema_name: str, description: str) -> Json:
    return {
        "200": {
            "description": description,
            "content": {
                "application/json": {"schema": {"$ref": f"#/components/schemas/{schema_name}"}}
            },
        },
        "400": {
            "description": "a missing or empty q, a q that is too long, a number out of "
            "range, an unknown or repeated parameter",
            "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}},
        },
    }


def _object(properties: Json, optional: Json | None = None) -> Json:
    """An object with each of `properties`, and maybe some of `optional`."""
    return {
        "type": "object",
        "required": list(properties),
        "properties": {**properties, **(optional or {})},
    }


_TOOK_MS = {"type": "number", "description": "milliseconds the index took to answer"}

# A video's row of the catalogue a server was started with (kelnor serve --videos).
_CATALOGUE = {
    "catalogue": {
        "type": "object",
        "description": "the video's row of the server's catalogue, when it has one: "
        "title, url and thumbnail under these names whatever the columns are called, "
        "the other columns under their own; an empty cell is left out",
        "properties": {
            "title": {"type": "string"},
            "url": {"type": "string"},
            "thumbnail": {"type": "string"},
        },
        "additionalProperties": True,
    }
}

_SCHEMAS: Json = {
    "Error": _object({"error": {"type": "string", "description": "what is wrong"}}),
    "Suggestions": _object(
        {
            "suggestions": {
                "type": "array",
                "items": _object(
                    {
                        "term": {"type": "string"},
                        "distance": {"type": "integer"},
                        "count": {"type": "integer"},
                    }
                ),
            },
            "took_ms": _TOOK_MS,
        }
    ),
    "Videos": _object(
        {
            "videos": {
                "type": "array",
                "items": _object(
                    {"id": {"type": "string"}, "score": {"type": "number"}}, _CATALOGUE
                ),
            },
            "took_ms": _TOOK_MS,
        }
    ),
    "SearchedVideos": _object(
        {
            "videos": {
                "type": "array",
                "items": _object(
                    {
                        "id": {"type": "string"},
                        "words": {
                            "type": "integer",
                            "description": "how many of the text's words the video answers",
                        },
                        "score": {
                            "type": "number",
                            "description": "the sum of the video's share of each word it "
                            "answers (each 0 to 1); score / words is a share from 0 to 1",
                        },
                    },
                    _CATALOGUE,
                ),
            },
            "took_ms": _TOOK_MS,
        }
    ),
    "Health": _object(
        {
            "status": {"const": "ok"},
            "index": {"type": "string", "description": "the index file's name, or demo"},
            "nodes": {"type": "integer"},
            "terms": {"type": "integer"},
            "videos": {"type": "integer"},
            "checksum": {
                "type": "string",
                "pattern": "^[0-9a-f]{8}$",
                "description": "CRC-32 of the index image, 8 hex digits",
            },
            "loaded_at": {
                "type": "string",
                "format": "date-time",
                "description": "when the index served was loaded (UTC, to the second); "
                "a reload replaces it with the index and its checksum",
            },
        }
    ),
}

_DESCRIPTION: Json = {
    "openapi": "3.1.0",
    "info": {
        "title": "kelnor",
        "version": __version__,
        "description": "Typo-tolerant search-as-you-type over one index. "
        "Bad input gets a 4xx answer with a JSON reason.",
    },
    "paths": {
        "/suggest": {
            "get": {
                "summary": "Searches to suggest for the text typed so far, best first",
                "description": "Ranked by how likely the text is a slip for the term (see "
                "docs/suggest.md; for completions, edit distance first), then count, then term.",
                "parameters": [
                    _Q,
                    _parameter(
                        "max_dist",
                        _whole(0, MAX_DIST_LIMIT),
                        "edits allowed; not given: 0 below 4 characters, 1 from 4 to 7, 2 from 8",
                    ),
                    _LIMIT,
                    _parameter(
                        "complete",
                        {"type": "boolean", "default": True},
                        "also offer the terms that continue the text (true or false)",
                    ),
                    _parameter(
                        "transpositions",
                        {"type": "boolean", "default": True},
                        "two neighbouring letters swapped count as one edit",
                    ),
                ],
                "responses": _ok("Suggestions", "(term, distance, count) suggestions"),
            }
        },
        "/videos": {
            "get": {
                "summary": "The best videos for the text typed so far, best first",
                "parameters": [
                    _Q,
                    _parameter("max_dist", _whole(0, MAX_DIST_LIMIT, 1), "edits allowed"),
                    _LIMIT,
                    _parameter(
                        "min_score",
                        {"type": "number", "minimum": 0, "maximum": 1},
                        "leave out videos scoring below this; without it, those below 1% of the best",
                    ),
                ],
                "responses": _ok("Videos", "videos with their scores"),
            }
        },
        "/search": {
            "get": {
                "summary": "The best videos for a text of several words, best first",
                "description": "Each word (a run of letters and digits; at most 32) is matched "
                "as /videos matches a term, the last one also as the start of longer terms "
                "unless the text ends after it. Ranked by the number of words a video answers, "
                "then by its summed score, then by the order videos were indexed in "
                "(see docs/search.md).",
                "parameters": [
                    _Q,
                    _parameter(
                        "max_dist",
                        _whole(0, MAX_DIST_LIMIT),
                        "edits allowed in each word; not given: 0 below 3 characters, "
                        "1 from 3 to 7, 2 from 8",
                    ),
                    _LIMIT,
                ],
                "responses": _ok("SearchedVideos", "videos with the words they answer and scores"),
            }
        },
        "/health": {
            "get": {
                "summary": "The index's node, term and video counts, its image's checksum "
                "and when it was loaded",
                "responses": {
                    "200": {
                        "description": "the server is up",
                        "content": {
                            "application/json": {"schema": {"$ref": "#/components/schemas/Health"}}
                        },
                    }
                },
            }
        },
        "/metrics": {
            "get": {
                "summary": "The server's request counts and latencies, the time spent in the "
                "index, reloads and the index's size, summed over the workers (off with "
                "--no-metrics)",
                "responses": {
                    "200": {
                        "description": "the figures in the Prometheus text exposition format",
                        "content": {"text/plain": {"schema": {"type": "string"}}},
                    }
                },
            }
        },
    },
    "components": {"schemas": _SCHEMAS},
}


def description(with_metrics: bool) -> Json:
    """The description of a server's routes: /metrics only where it is served."""
    if with_metrics:
        return _DESCRIPTION
    paths = {path: item for path, item in _DESCRIPTION["paths"].items() if path != "/metrics"}
    return {**_DESCRIPTION, "paths": paths}
