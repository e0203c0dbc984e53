// The COMMON block registry alone, without any file reading: declarations arrive as a
// recursive search over a generated tree delivers them (a directory's objects, then its
// subdirectories), and each run ends with the walk the report makes and free_lists.
//
//   Deep: objects declare 20 of 2,000 blocks each, and define 3 procedures.
//   Wide: objects all declare the same 50 blocks, so each reference list grows long.
//   Procedures: procedure registration alone.
// Time per object should stay flat as the object count grows.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "registry/registry.h"

namespace {

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Paths in the order a recursive search visits a tree of 100 objects a directory and 10
// subdirectories each, with the separators the search composes.
void add_paths(uint64_t node, const std::string& prefix, uint32_t objects,
               std::vector<std::string>& paths) {
  for (uint64_t i = node * 100; i < (node + 1) * 100 && i < objects; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "o%06llu.obj", static_cast<unsigned long long>(i));
    paths.push_back(prefix + name);
  }
  for (uint64_t c = 0; c < 10; ++c) {
    const uint64_t child = node * 10 + 1 + c;
    if (child * 100 >= objects) break;
    add_paths(child, prefix + "d" + std::to_string(c) + "\\", objects, paths);
  }
}

std::vector<std::string> search_order_paths(uint32_t objects) {
  std::vector<std::string> paths;
  paths.reserve(objects);
  add_paths(0, "corpus/", objects, paths);
  return paths;
}

struct Declaration {
  std::string name;
  uint32_t size;
};

// The declarations of every object: `per_object` of `blocks` blocks, one block in twenty
// declared with a second size by a quarter of its objects.
std::vector<std::vector<Declaration>> make_declarations(uint32_t objects, uint32_t blocks,
                                                        uint32_t per_object) {
  std::vector<std::string> names;
  for (uint32_t b = 0; b < blocks; ++b) names.push_back("_block" + std::to_string(b) + "_");
  std::vector<std::vector<Declaration>> all(objects);
  for (uint32_t o = 0; o < objects; ++o) {
    std::vector<uint32_t> picked;
    for (uint64_t attempt = 0; picked.size() < per_object; ++attempt) {
      const auto b = static_cast<uint32_t>(per_object == blocks ? picked.size()
                                                                : mix(o * 977 + attempt) % blocks);
      bool seen = false;
      for (const uint32_t p : picked) seen = seen || p == b;
      if (!seen) picked.push_back(b);
    }
    for (const uint32_t b : picked) {
      uint32_t size = 4 * (1 + static_cast<uint32_t>(mix(b) % 4096));
      if (b % 20 == 0 && mix(uint64_t{o} << 20 | b) % 4 == 0) size += 8;
      all[o].push_back(Declaration{names[b], size});
    }
  }
  return all;
}

void run_registry(benchmark::State& state, uint32_t blocks, uint32_t per_object,
                  uint32_t procedures) {
  const auto objects = static_cast<uint32_t>(state.range(0));
  const std::vector<std::string> paths = search_order_paths(objects);
  const std::vector<std::vector<Declaration>> declarations =
      make_declarations(objects, blocks, per_object);
  std::vector<std::string> procedure_names;
  for (uint32_t i = 0; i < objects * procedures; ++i) {
    procedure_names.push_back("_proc" + std::to_string(i) + "_");
  }
  for (auto _ : state) {
    drelk::Registry registry;
    for (uint32_t o = 0; o < objects; ++o) {
      const drelk::ObjectEntry* object = drelk::record_object(registry, paths[o], paths[o]);
      for (uint32_t p = 0; p < procedures; ++p) {
        drelk::add_procedure(registry, *object, procedure_names[o * procedures + p]);
      }
      for (const Declaration& d : declarations[o]) {
        drelk::add_common_reference(registry, *object, d.name, d.size);
      }
    }
    size_t lines = 0;
    for (const drelk::CommonBlock* block : drelk::sorted_blocks(registry)) {
      lines += drelk::block_references(*block).size();
    }
    lines += drelk::sorted_procedures(registry).size();
    benchmark::DoNotOptimize(lines);
    drelk::free_lists(registry);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * objects);
  state.counters["references"] = static_cast<double>(uint64_t{objects} * per_object);
}

void BM_RegistryDeep(benchmark::State& state) {
  run_registry(state, 2000, 20, 3);
}
void BM_RegistryWide(benchmark::State& state) {
  run_registry(state, 50, 50, 3);
}
void BM_Procedures(benchmark::State& state) {
  run_registry(state, 1, 0, 5);
}

BENCHMARK(BM_RegistryDeep)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegistryWide)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Procedures)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
