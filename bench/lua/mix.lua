-- A mix of every read route over codes with and without pictures or rows, for the memory
-- check; each thread stops after BENCH_MAX_REQUESTS_PER_THREAD answers.
package.path = os.getenv("BENCH_LUA") .. "/?.lua;" .. package.path
local common = require("common")
setup = common.setup
done = common.done

local routes = {"/api/gtin/", "/api/fotoexiste/", "/api/fotoexistej/", "/api/descricao/",
                "/api/desc/", "/api/desc200/", "/api/desc_ini/", "/api/um/", "/api/um2/"}
local codes, n
local limit = tonumber(os.getenv("BENCH_MAX_REQUESTS_PER_THREAD") or "0")
local seen = 0

function init(args)
  codes = common.load_codes("BENCH_CODES")
  n = #codes
  math.randomseed(os.time() * 100 + (tid or 0))
end

function request()
  local route = routes[math.random(#routes)]
  local code
  if route == "/api/um/" or route == "/api/um2/" then
    code = ({"UN", "KG", "CX", "XX"})[math.random(4)]
  elseif math.random(10) == 1 then
    code = "999" .. math.random(1000000)  -- a miss
  else
    code = codes[math.random(n)]
  end
  return wrk.format("GET", route .. code)
end

function response(status, headers, body)
  seen = seen + 1
  if limit > 0 and seen >= limit then wrk.thread:stop() end
end
