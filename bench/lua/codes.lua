-- GET BENCH_PREFIX .. CODE over random codes of the file BENCH_CODES.
package.path = os.getenv("BENCH_LUA") .. "/?.lua;" .. package.path
local common = require("common")
setup = common.setup
done = common.done

local codes, prefix, n
function init(args)
  codes = common.load_codes("BENCH_CODES")
  n = #codes
  prefix = os.getenv("BENCH_PREFIX") or "/api/gtin/"
  math.randomseed(os.time() * 100 + (tid or 0))
end

function request()
  return wrk.format("GET", prefix .. codes[math.random(n)])
end
