"""The page's icon: a magnifying glass over a squiggle (a typo), as SVG.

Served at /favicon.ico, where browsers look for it unasked, and linked from
the page; it is made here rather than read from anywhere, so the server
fetches nothing.
"""

from __future__ import annotations

from starlette.requests import Request
from starlette.responses import Response

FAVICON_SVG = (
    b'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32">'
    b'<circle cx="13" cy="13" r="9" fill="#fff" stroke="#3d4fd6" stroke-width="4"/>'
    b'<path d="M20 20l8 8" stroke="#3d4fd6" stroke-width="5" stroke-linecap="round"/>'
    b'<path d="M8 14q2.5-4 5 0t5 0" fill="none" stroke="#e8590c" stroke-width="2.5"/>'
    b"</svg>"
)
FAVICON_TYPE = "image/svg+xml"


async def favicon(_: Request) -> Response:
    return Response(FAVICON_SVG, media_type=FAVICON_TYPE)
