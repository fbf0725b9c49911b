// The cost of one tick's RefreshAllTags, per tag, for tables of 1,000, 10,000
// and 50,000 Modbus tags packed into full 100-point blocks. The peer it is
// measured against is the least any refresh must do: read each tag's word
// from its block and compare it with the value held, in a flat loop with the
// block already known. Their ratio shows what finding the block, converting
// and comparing as a VARIANT cost on top; growth with the table shows
// whether the tick stays linear. Heap allocations per tick are counted too:
// an unchanged tag must not allocate.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/ExchangeTag.h"
#include "core/ModbusDataBlock.h"
#include "core/PlexmarApp.h"

// Counted by the replaced global allocator (CountingAllocator.cpp).
extern std::atomic<long> g_allocations;

namespace {


struct Table {
  std::unique_ptr<CPlexmarApp> app;
  std::vector<const uint16_t*> words;  // each tag's word, for the flat peer
};

// `count` Integer holding registers, 100 to a block, on a Modbus/TCP host,
// spread over slave ids so that the index holds several keys.
Table MakeTable(int count) {
  Table table;
  table.app = std::make_unique<CPlexmarApp>();
  CPlexmarApp& app = *table.app;
  app.m_tags.reserve(count);
  for (int i = 0; i < count; ++i) {
    auto tag = std::make_unique<CExchangeTag>("Tag" + std::to_string(i));
    tag->m_nSourceKind = CExchangeTag::kSourceTcp;
    tag->m_strHost = "127.0.0.1";
    tag->m_nSlaveId = static_cast<uint8_t>(1 + (i / 10000));
    tag->m_nPointType = CExchangeTag::kHoldingRegister;
    tag->m_nAddress = static_cast<uint16_t>(1 + i % 10000);
    tag->m_nDataType = CExchangeTag::kInteger;
    app.m_tags.push_back(std::move(tag));
  }
  // One block per 100 points, made directly: binding 50,000 tags one by one
  // would offer each to every block and only slow the set-up.
  for (int i = 0; i < count; i += 100) {
    const CExchangeTag& first = *app.m_tags[i];
    app.AddDataBlock(first.m_strHost, first.m_nSlaveId, first.m_nPointType, first.m_nAddress,
                     static_cast<uint16_t>(std::min(100, count - i)));
  }
  for (int i = 0; i < count; ++i) {
    const CExchangeTag& tag = *app.m_tags[i];
    const CModbusDataBlock* block =
        app.FindDataBlock(tag.m_strHost, tag.m_nSlaveId, tag.m_nPointType, tag.m_nAddress, 1);
    block->m_pData[tag.m_nAddress - block->m_nStartAddress] = static_cast<uint16_t>(i);
    table.words.push_back(&block->m_pData[tag.m_nAddress - block->m_nStartAddress]);
  }
  // As if each block's poll reply had just arrived.
  for (auto& block : app.m_dataBlocks) block->m_bPolled = true;
  app.RefreshAllTags();  // every tag takes its value once
  return table;
}

void BM_RefreshAllTagsUnchanged(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Table table = MakeTable(count);
  long allocations = 0;
  for (auto _ : state) {
    const long before = g_allocations.load(std::memory_order_relaxed);
    table.app->RefreshAllTags();
    allocations += g_allocations.load(std::memory_order_relaxed) - before;
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["ns_per_tag"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * count,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::OneK::kIs1000);
  state.counters["allocs_per_tick"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
}

// The peer: read each word through a pointer found beforehand and compare it
// with the 16-bit value the tag holds.
void BM_FlatWordCompare(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Table table = MakeTable(count);
  std::vector<int16_t> held;
  for (const auto& tag : table.app->m_tags) held.push_back(tag->m_value->iVal);
  for (auto _ : state) {
    int changed = 0;
    for (int i = 0; i < count; ++i) changed += static_cast<int16_t>(*table.words[i]) != held[i];
    benchmark::DoNotOptimize(changed);
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["ns_per_tag"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * count,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::OneK::kIs1000);
}

// Every word changes on every tick: each tag converts, publishes to its OPC
// item (when it has one; here none) and takes its new value.
void BM_RefreshAllTagsChanging(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Table table = MakeTable(count);
  for (auto _ : state) {
    state.PauseTiming();
    for (const uint16_t* word : table.words) ++*const_cast<uint16_t*>(word);
    state.ResumeTiming();
    table.app->RefreshAllTags();
  }
  state.counters["ns_per_tag"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * count,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::OneK::kIs1000);
}

}  // namespace

BENCHMARK(BM_RefreshAllTagsUnchanged)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FlatWordCompare)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshAllTagsChanging)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
