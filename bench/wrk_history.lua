-- ?format=history polled as the dashboard polls it: every request asks for
-- the samples after half a second before the last whole second, which is
-- the newest sample (one second of history). The path given to wrk is kept,
-- so a file server answers its file whatever the query.
dofile("bench/wrk_report.lua")

request = function()
  return wrk.format(nil, wrk.path .. "&since=" .. string.format("%d", os.time() * 1000 - 500))
end
