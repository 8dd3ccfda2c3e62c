"""`kelnor serve`: a search page and a JSON API over one index, under uvicorn.

Needs the `serve` extra (`pip install kelnor[serve]`): Starlette, uvicorn and
prometheus_client.
`create_app(index, info, catalogue)` is the ASGI application; `serve` runs it.
`ReloadPlan` says which files to serve anew when they change; `Operations`
what the application offers its operators (/metrics, access log, CORS).
`load_catalogue` reads the video catalogue joined to the videos answered.
"""

from kelnor.server.app import create_app
from kelnor.server.catalogue import Catalogue, CatalogueError, CatalogueSource, load_catalogue
from kelnor.server.limits import Deadlines
from kelnor.server.operations import Operations
from kelnor.server.reloader import ReloadPlan
from kelnor.server.served_index import IndexInfo, demo_index, file_index_info, index_info
from kelnor.server.workers import serve

__all__ = [
    "Catalogue",
    "CatalogueError",
    "CatalogueSource",
    "Deadlines",
    "IndexInfo",
    "Operations",
    "ReloadPlan",
    "create_app",
    "demo_index",
    "file_index_info",
    "index_info",
    "load_catalogue",
    "serve",
]
