// Speed of the key derivation G^1000000(H(name)) and of one 32-byte re-hash,
// and, when libgcrypt is present, the same work done with its GOST R 34.11-94
// in the same run. BM_DerivationVsLibgcrypt alternates the two derivations
// and reports the ratio of their CPU times, so a busy machine slows both.
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

// Both derivations in turn; counters give the median CPU seconds of each and
// their ratio. Fails when the two disagree on the key.
void BM_DerivationVsLibgcrypt(benchmark::State& state) {
  Gcrypt gcrypt;
  std::vector<double> ours;
  std::vector<double> theirs;
  for (auto _ : state) {
    double start = ThreadCpuSeconds();
    const BinaryKeyBytes a = DeriveBinaryKey(Name);
    ours.push_back(ThreadCpuSeconds() - start);
    start = ThreadCpuSeconds();
    const BinaryKeyBytes b = gcrypt.Derive(Name);
    theirs.push_back(ThreadCpuSeconds() - start);
    if (a != b) {
      state.SkipWithError("the derived keys differ");
      return;
    }
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  state.counters["ours_s"] = median(ours);
  state.counters["libgcrypt_s"] = median(theirs);
  state.counters["ratio"] = median(theirs) / median(ours);
}
BENCHMARK(BM_DerivationVsLibgcrypt)->Unit(benchmark::kSecond)->Iterations(7)->MeasureProcessCPUTime();

#endif

}  // namespace
