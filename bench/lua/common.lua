-- Shared by the bench's wrk scripts: per-thread seeds, code lists and one RESULT line at the end.
local common = {}

local counter = 0
function common.setup(thread)
  counter = counter + 1
  thread:set("tid", counter)
end

function common.load_codes(var)
  local path = os.getenv(var)
  local codes = {}
  if path then
    for line in io.lines(path) do
      if #line > 0 then codes[#codes + 1] = line end
    end
  end
  assert(#codes > 0, "no codes in " .. tostring(path) .. " (" .. var .. ")")
  return codes
end

-- Latencies in microseconds; rate over the whole run.
function common.done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    "RESULT requests=%d duration_us=%d rps=%.1f p50_us=%d p99_us=%d max_us=%d "
      .. "connect_err=%d read_err=%d write_err=%d timeout_err=%d status_err=%d\n",
    summary.requests, summary.duration, summary.requests / (summary.duration / 1e6),
    latency:percentile(50), latency:percentile(99), latency.max,
    e.connect, e.read, e.write, e.timeout, e.status))
end

return common
