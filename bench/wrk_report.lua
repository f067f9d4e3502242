-- Prints one machine-readable line at the end of a wrk run: requests, bytes, duration, errors and
-- latency percentiles (microseconds). bench/run reads the line that starts with "RESULT ".
done = function(summary, latency, requests)
   local e = summary.errors
   io.write(string.format(
      "RESULT requests=%d bytes=%d duration_us=%d connect=%d read=%d write=%d status=%d timeout=%d p50_us=%d p99_us=%d max_us=%d mean_us=%.1f\n",
      summary.requests, summary.bytes, summary.duration,
      e.connect, e.read, e.write, e.status, e.timeout,
      latency:percentile(50), latency:percentile(99), latency.max, latency.mean))
end
