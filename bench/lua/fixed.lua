-- One fixed request (the URL given to wrk). With BENCH_MAX_REQUESTS_PER_THREAD set, each
-- thread stops after that many answers (the response hook costs wrk time, so it is only
-- installed then).
package.path = os.getenv("BENCH_LUA") .. "/?.lua;" .. package.path
local common = require("common")
setup = common.setup
done = common.done

local limit = tonumber(os.getenv("BENCH_MAX_REQUESTS_PER_THREAD") or "0")
if limit > 0 then
  local seen = 0
  function response(status, headers, body)
    seen = seen + 1
    if seen >= limit then wrk.thread:stop() end
  end
end
