// What a request's text costs the room to take in, by the size of the
// pieces it arrives in: the same 64 KiB head of short header lines (never
// ended) in 1-, 4- and 2047-byte pieces. The cost per byte should not
// depend on the piece size.
#include <benchmark/benchmark.h>

#include <string>

#include "http/request_text.h"
#include "http/server_limits.h"

namespace {

void TakeInAHeadInPieces(benchmark::State& state) {
  const std::size_t piece = static_cast<std::size_t>(state.range(0));
  std::string head = "GET / HTTP/1.1\r\n";
  while (head.size() < kMaxRequestBytes) head += "X-A: b\r\n";
  head.resize(kMaxRequestBytes);
  for (auto _ : state) {
    RequestText request;
    for (std::size_t at = 0; at < head.size(); at += piece) {
      request.Append(head.data() + at, static_cast<int>(std::min(piece, head.size() - at)));
    }
    benchmark::DoNotOptimize(request.state());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * head.size()));
}
BENCHMARK(TakeInAHeadInPieces)->Arg(1)->Arg(4)->Arg(2047)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
