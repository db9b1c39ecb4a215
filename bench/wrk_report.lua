-- Prints one machine-readable line after a wrk run: 2xx requests per second,
-- p50 and p99 latency in microseconds, and the socket errors.
done = function(summary, latency, requests)
  local seconds = summary.duration / 1e6
  local ok = summary.requests - summary.errors.status
  io.write(string.format("RESULT rps=%.0f p50=%d p99=%d connect=%d read=%d write=%d timeout=%d non2xx=%d\n",
    ok / seconds, latency:percentile(50), latency:percentile(99),
    summary.errors.connect, summary.errors.read, summary.errors.write,
    summary.errors.timeout, summary.errors.status))
end
