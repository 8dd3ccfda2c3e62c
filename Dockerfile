# `kelnor serve` in a container. The first stage builds the wheel with a
# compiler; the second holds Python, the wheel and its serve extra only, and
# serves as a user without privileges the index and catalogue mounted at /data:
#
#   docker build -t kelnor .
#   docker run --rm -p 8000:8000 -v "$PWD/data:/data:ro" kelnor --workers 2
#
# (podman takes the same two commands; `podman build --format docker` keeps
# the health check.) Mount the directory rather than the two files, so that
# an index renamed over /data/index.kelnor reaches the server and is reloaded.

ARG PYTHON_IMAGE=python:3.11-slim-bookworm

FROM ${PYTHON_IMAGE} AS builder
RUN apt-get update \
    && apt-get install -y --no-install-recommends g++ \
    && rm -rf /var/lib/apt/lists/*
WORKDIR /src
COPY . .
# scikit-build-core fetches CMake and Ninja as wheels where the image has none.
RUN pip wheel --no-cache-dir --no-deps --wheel-dir /wheels .

FROM ${PYTHON_IMAGE}
COPY --from=builder /wheels /wheels
RUN pip install --no-cache-dir "$(ls /wheels/kelnor-*.whl)[serve]" \
    && rm -rf /wheels \
    && useradd --system --uid 10001 --no-create-home --shell /usr/sbin/nologin kelnor
USER kelnor
EXPOSE 8000
# The slim image has no curl: Python asks /health, and fails on anything but a 200.
HEALTHCHECK --interval=30s --timeout=5s --start-period=120s --retries=3 \
    CMD ["python", "-c", "import urllib.request; urllib.request.urlopen('http://127.0.0.1:8000/health', timeout=4)"]
ENTRYPOINT ["kelnor", "serve", "/data/index.kelnor", "--videos", "/data/videos.csv", "--host", "0.0.0.0", "--port", "8000"]
