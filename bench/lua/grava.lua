-- POST /api/grava with fresh products: every ean is unique in this run and across runs
-- (BENCH_RUN_ID is a per-run number; then the thread number, then a per-thread counter).
package.path = os.getenv("BENCH_LUA") .. "/?.lua;" .. package.path
local common = require("common")
setup = common.setup
done = common.done

local run_id, seq = 0, 0
function init(args)
  run_id = tonumber(os.getenv("BENCH_RUN_ID") or "0") % 100000
end

function request()
  seq = seq + 1
  local ean = string.format("2%05d%02d%06d", run_id, tid or 0, seq % 1000000)
  local body = string.format(
    '{"ean":"%s","nome":"Produto de teste %s","ncm":"19059090","cest":"1706200","um":"UN"}', ean, ean)
  return wrk.format("POST", "/api/grava", {["Content-Type"] = "application/json"}, body)
end
