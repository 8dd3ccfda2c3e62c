"""The headers every answer carries by its route: Cache-Control, and the
cross-origin (CORS) headers for the origins `kelnor serve --cors-origin` names."""

from __future__ import annotations

from starlette.datastructures import Headers
from starlette.middleware.cors import CORSMiddleware
from starlette.responses import JSONResponse, Response

from kelnor.server.answered import ASGIApp, Message, Receive, Scope, Send

# The page, its favicon and the API's description change only with the
# package, so a browser may keep them. An answer of the API or /health may
# change with any reload of the index (every few seconds), and /metrics with
# every request: none of them is kept.
PAGE_CACHE = b"public, max-age=300"
FAVICON_CACHE = b"public, max-age=604800, immutable"
NOT_KEPT = b"no-store"
CACHE_CONTROL = {"/": PAGE_CACHE, "/openapi.json": PAGE_CACHE, "/favicon.ico": FAVICON_CACHE}


def with_cache_control(app: ASGIApp) -> ASGIApp:
    """`app`, each answer carrying the Cache-Control of its path (NOT_KEPT
    for a path not in CACHE_CONTROL, an unknown one included)."""

    async def cached_app(scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await app(scope, receive, send)
            return
        policy = CACHE_CONTROL.get(scope["path"], NOT_KEPT)

        async def sent(message: Message) -> None:
            if message["type"] == "http.response.start":
                message["headers"] = [*message.get("headers", ()), (b"cache-control", policy)]
            await send(message)

        await app(scope, receive, sent)

    return cached_app


class _CorsRefusingInJson(CORSMiddleware):
    """Starlette's CORS, whose refusal of a preflight is JSON like every other
    refusal of the server."""

    def preflight_response(self, request_headers: Headers) -> Response:
        answer = super().preflight_response(request_headers)
        if answer.status_code == 200:
            return answer
        # "Disallowed CORS origin, method": what the preflight asked that is not allowed.
        reason = bytes(answer.body).decode()
        kept = {k: v for k, v in answer.headers.items() if k not in ("content-length", "content-type")}
        return JSONResponse({"error": reason[0].lower() + reason[1:]}, 400, headers=kept)


def with_cors(app: ASGIApp, origins: tuple[str, ...]) -> ASGIApp:
    """`app` answering GET requests and their preflight from `origins` (`*`
    for any) with the CORS headers that let a page there read its answers."""
    return _CorsRefusingInJson(app, allow_origins=origins, allow_methods=("GET",))
