// The counting allocator below pairs malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
// Format of the nine-argument log prefix against one plain swprintf that
// produces the same text, with the allocations each call makes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "foundation/format.h"

namespace {
std::atomic<long> g_general_allocations{0};

class CountingMgr : public COVStringMgr {
 public:
  StringData* Allocate(int n, int size) noexcept override {
    ++blocks;
    return COVStringMgr::Allocate(n, size);
  }
  long blocks = 0;
};

constexpr const wchar_t* kPrefix =
    L"{0:02d}-{1:02d}-{2:04d}, {3:02d}:{4:02d}:{5:02d}.{6:03d}, TID:{7:05d}, PID:{8:05d}, ";
}  // namespace

void* operator new(std::size_t n) {
  ++g_general_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

static void BM_FormatLogPrefix(benchmark::State& state) {
  CountingMgr manager;
  long general_before = g_general_allocations;
  for (auto _ : state) {
    CWString out(&manager);
    Format(out, kPrefix, static_cast<unsigned short>(12), static_cast<unsigned short>(8),
           static_cast<unsigned short>(2026), static_cast<unsigned short>(1),
           static_cast<unsigned short>(5), static_cast<unsigned short>(9),
           static_cast<unsigned short>(42), 1234u, 5678u);
    benchmark::DoNotOptimize(out.GetString());
  }
  double calls = static_cast<double>(state.iterations());
  state.counters["general_allocs_per_call"] = (g_general_allocations - general_before) / calls;
  state.counters["string_blocks_per_call"] = manager.blocks / calls;
}
BENCHMARK(BM_FormatLogPrefix);

static void BM_PlainSwprintf(benchmark::State& state) {
  wchar_t buffer[128];
  for (auto _ : state) {
    swprintf(buffer, 128, L"%02d-%02d-%04d, %02d:%02d:%02d.%03d, TID:%05u, PID:%05u, ", 12, 8, 2026,
             1, 5, 9, 42, 1234u, 5678u);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_PlainSwprintf);

BENCHMARK_MAIN();
