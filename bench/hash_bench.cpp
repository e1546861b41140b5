// Speed of the key derivation G^1000000(H(name)) and of one 32-byte re-hash,
// and, when libgcrypt is present, the same work done with its GOST R 34.11-94
// in the same run. BM_DerivationVsLibgcrypt alternates the derivations and
// reports the ratios of their CPU times, so a busy machine slows all alike.
#include "keys/gost_core.h"
#include "keys/gost_hash.h"
#include "keys/key_derivation.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#ifdef VORSAL_HAVE_GCRYPT
#include <gcrypt.h>
#endif

namespace {

using namespace vorsal;

constexpr std::string_view Name = "network key 1";  // at most 32 bytes: both hashes agree

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void BM_Derivation(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(DeriveBinaryKey(Name));
  state.SetItemsProcessed(state.iterations() * 1000001);
}
BENCHMARK(BM_Derivation)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_ReHashChunk(benchmark::State& state) {
  HashString(Name);
  for (auto _ : state) GostReHash();
  state.SetItemsProcessed(state.iterations() * ReHashesPerCall);
}
BENCHMARK(BM_ReHashChunk)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The two re-hash loops GostReHash chooses from, one chunk each.
void ReHashLoopChunk(benchmark::State& state, gost::ReHashLoop loop) {
  if (!loop) {
    state.SkipWithError("not available on this processor");
    return;
  }
  gost::Value value{1, 2, 3, 4};
  for (auto _ : state) value = loop(value, ReHashesPerCall);
  benchmark::DoNotOptimize(value);
  state.SetItemsProcessed(state.iterations() * ReHashesPerCall);
}
BENCHMARK_CAPTURE(ReHashLoopChunk, portable, gost::ReHashPortable)
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(ReHashLoopChunk, avx512, gost::Avx512ReHashLoop())
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// One re-hash through the general streaming interface.
void BM_HashBuffer32(benchmark::State& state) {
  HashString(Name);
  for (auto _ : state) HashBuffer(BinaryKey, 32);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashBuffer32)->Unit(benchmark::kNanosecond)->MeasureProcessCPUTime();

#ifdef VORSAL_HAVE_GCRYPT

class Gcrypt {
 public:
  Gcrypt() {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    gcry_md_open(&handle_, GCRY_MD_GOSTR3411_94, 0);
  }
  ~Gcrypt() { gcry_md_close(handle_); }
  Gcrypt(const Gcrypt&) = delete;
  Gcrypt& operator=(const Gcrypt&) = delete;

  void Hash(const void* data, std::size_t size, std::uint8_t* out) {
    gcry_md_reset(handle_);
    gcry_md_write(handle_, data, size);
    std::memcpy(out, gcry_md_read(handle_, GCRY_MD_GOSTR3411_94), 32);
  }

  BinaryKeyBytes Derive(std::string_view name) {
    BinaryKeyBytes key;
    Hash(name.data(), name.size(), key.data());
    for (int i = 0; i < KeyDerivationChunks * ReHashesPerCall; ++i) Hash(key.data(), key.size(), key.data());
    return key;
  }

 private:
  gcry_md_hd_t handle_ = nullptr;
};

void BM_LibgcryptDerivation(benchmark::State& state) {
  Gcrypt gcrypt;
  for (auto _ : state) benchmark::DoNotOptimize(gcrypt.Derive(Name));
  state.SetItemsProcessed(state.iterations() * 1000001);
}
BENCHMARK(BM_LibgcryptDerivation)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_LibgcryptReHash32(benchmark::State& state) {
  Gcrypt gcrypt;
  std::uint8_t value[32] = {};
  for (auto _ : state) gcrypt.Hash(value, sizeof value, value);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibgcryptReHash32)->Unit(benchmark::kNanosecond)->MeasureProcessCPUTime();

// The derivation with the portable re-hash loop only, whatever the
// processor offers.
BinaryKeyBytes DerivePortable(std::string_view name) {
  HashString(name);
  gost::Value value = gost::LoadBlock(BinaryKey);
  for (int chunk = 0; chunk < KeyDerivationChunks; ++chunk) value = gost::ReHashPortable(value, ReHashesPerCall);
  BinaryKeyBytes key;
  gost::StoreBlock(key.data(), value);
  return key;
}

// The derivations in turn: ours as the program runs it, ours on the
// portable loop, libgcrypt's. Counters give the median CPU seconds of each
// and the ratios to libgcrypt. Fails when the keys differ.
void BM_DerivationVsLibgcrypt(benchmark::State& state) {
  Gcrypt gcrypt;
  std::vector<double> ours;
  std::vector<double> portable;
  std::vector<double> theirs;
  const auto timed = [](std::vector<double>& times, const auto& derive) {
    const double start = ThreadCpuSeconds();
    const BinaryKeyBytes key = derive(Name);
    times.push_back(ThreadCpuSeconds() - start);
    return key;
  };
  for (auto _ : state) {
    const BinaryKeyBytes a = timed(ours, DeriveBinaryKey);
    const BinaryKeyBytes b = timed(portable, DerivePortable);
    const BinaryKeyBytes c = timed(theirs, [&gcrypt](std::string_view name) { return gcrypt.Derive(name); });
    if (a != b || a != c) {
      state.SkipWithError("the derived keys differ");
      return;
    }
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  state.counters["ours_s"] = median(ours);
  state.counters["portable_s"] = median(portable);
  state.counters["libgcrypt_s"] = median(theirs);
  state.counters["ratio"] = median(theirs) / median(ours);
  state.counters["ratio_portable"] = median(theirs) / median(portable);
}
BENCHMARK(BM_DerivationVsLibgcrypt)->Unit(benchmark::kSecond)->Iterations(7)->MeasureProcessCPUTime();

#endif

}  // namespace
