-- wrk script for bench/serve_bench.py: cycles through the request paths of
-- the file named by the first argument (each thread from its own starting
-- line), counts the answers by status class, and prints one JSON line of
-- figures when the run ends.

local threads = {}
local next_thread = 0

function setup(thread)
  thread:set("first", next_thread)
  next_thread = next_thread + 1
  table.insert(threads, thread)
end

function init(args)
  paths = {}
  for line in io.lines(args[1]) do
    table.insert(paths, line)
  end
  position = (first * 7919) % #paths
  ok, client_errors, server_errors = 0, 0, 0
end

function request()
  position = position % #paths + 1
  return wrk.format("GET", paths[position])
end

function response(status, headers, body)
  if status >= 500 then
    server_errors = server_errors + 1
  elseif status >= 400 then
    client_errors = client_errors + 1
  else
    ok = ok + 1
  end
end

function done(summary, latency, requests)
  local counts = { ok = 0, client_errors = 0, server_errors = 0 }
  for _, thread in ipairs(threads) do
    for name, _ in pairs(counts) do
      counts[name] = counts[name] + thread:get(name)
    end
  end
  local socket_errors = summary.errors.connect + summary.errors.read
    + summary.errors.write + summary.errors.timeout
  io.write(string.format(
    '{"requests": %d, "seconds": %.3f, "p50_ms": %.3f, "p99_ms": %.3f, '
      .. '"ok": %d, "status_4xx": %d, "status_5xx": %d, "socket_errors": %d}\n',
    summary.requests, summary.duration / 1e6, latency:percentile(50) / 1e3,
    latency:percentile(99) / 1e3, counts.ok, counts.client_errors,
    counts.server_errors, socket_errors))
end
