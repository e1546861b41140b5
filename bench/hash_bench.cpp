// Speed of the key derivation G^1000000(H(name)) and of the re-hash loops,
// beside libgcrypt's and librhash's GOST R 34.11-94 (test parameters) doing
// the same work in the same run. Both libraries are loaded at run time when
// installed; the comparison leaves out whichever is missing.
//
// BM_Derivations runs the derivations in turn (the program's path, every
// re-hash loop this processor has, then the libraries) and reports the
// median CPU seconds of each and its ratios to the libraries, so a busy
// machine slows all alike. It fails when any two keys differ.
//
// VORSAL_GOST_LOOP picks the program's loop as in the program; a request
// the processor cannot meet stops the benchmark with exit status 2.
#include "keys/gost_core.h"
#include "keys/gost_hash.h"
#include "keys/gost_loops.h"
#include "keys/key_derivation.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace vorsal;

constexpr std::string_view Name = "network key 1";  // at most 32 bytes: all hashes agree

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// ---- The libraries, loaded at run time ------------------------------------

template <typename Function>
Function Symbol(void* library, const char* name) {
  return library ? reinterpret_cast<Function>(dlsym(library, name)) : nullptr;
}

// One 32-byte-or-shorter message to its 32-byte digest.
using HashFunction = std::function<void(const void* data, std::size_t size, std::uint8_t* digest)>;

class Libgcrypt {
 public:
  Libgcrypt() {
    library_ = dlopen("libgcrypt.so.20", RTLD_NOW | RTLD_LOCAL);
    const auto checkVersion = Symbol<const char* (*)(const char*)>(library_, "gcry_check_version");
    const auto open = Symbol<unsigned (*)(void**, int, unsigned)>(library_, "gcry_md_open");
    close_ = Symbol<void (*)(void*)>(library_, "gcry_md_close");
    reset_ = Symbol<void (*)(void*)>(library_, "gcry_md_reset");
    write_ = Symbol<void (*)(void*, const void*, std::size_t)>(library_, "gcry_md_write");
    read_ = Symbol<unsigned char* (*)(void*, int)>(library_, "gcry_md_read");
    if (!checkVersion || !open || !close_ || !reset_ || !write_ || !read_) return;
    checkVersion(nullptr);
    if (open(&handle_, Gostr341194, 0) != 0) handle_ = nullptr;
  }
  ~Libgcrypt() {
    if (handle_) close_(handle_);
  }
  Libgcrypt(const Libgcrypt&) = delete;
  Libgcrypt& operator=(const Libgcrypt&) = delete;

  bool Loaded() const { return handle_ != nullptr; }

  void Hash(const void* data, std::size_t size, std::uint8_t* digest) {
    reset_(handle_);
    write_(handle_, data, size);
    std::memcpy(digest, read_(handle_, Gostr341194), 32);
  }

 private:
  static constexpr int Gostr341194 = 308;  // GCRY_MD_GOSTR3411_94
  void* library_ = nullptr;
  void* handle_ = nullptr;
  void (*close_)(void*) = nullptr;
  void (*reset_)(void*) = nullptr;
  void (*write_)(void*, const void*, std::size_t) = nullptr;
  unsigned char* (*read_)(void*, int) = nullptr;
};

class Librhash {
 public:
  Librhash() {
    void* library = dlopen("librhash.so.0", RTLD_NOW | RTLD_LOCAL);
    const auto init = Symbol<void (*)()>(library, "rhash_library_init");
    message_ = Symbol<int (*)(unsigned, const void*, std::size_t, unsigned char*)>(library, "rhash_msg");
    if (init && message_) init();
  }

  bool Loaded() const { return message_ != nullptr; }

  void Hash(const void* data, std::size_t size, std::uint8_t* digest) { message_(Gost94, data, size, digest); }

 private:
  static constexpr unsigned Gost94 = 0x800;  // RHASH_GOST94, the test parameters
  int (*message_)(unsigned, const void*, std::size_t, unsigned char*) = nullptr;
};

BinaryKeyBytes DeriveWith(const HashFunction& hash, std::string_view name) {
  BinaryKeyBytes key;
  hash(name.data(), name.size(), key.data());
  for (int i = 0; i < KeyDerivationChunks * ReHashesPerCall; ++i) hash(key.data(), key.size(), key.data());
  return key;
}

// ---- Our derivations ---------------------------------------------------------

// The derivation on one re-hash loop, whatever the program would choose.
BinaryKeyBytes DeriveOnLoop(gost::ReHashLoop loop, std::string_view name) {
  HashString(name);
  gost::Value value = gost::LoadBlock(BinaryKey);
  for (int chunk = 0; chunk < KeyDerivationChunks; ++chunk) value = loop(value, ReHashesPerCall);
  BinaryKeyBytes key;
  gost::StoreBlock(key.data(), value);
  return key;
}

struct Contender {
  std::string name;
  std::function<BinaryKeyBytes()> derive;
  std::vector<double> seconds;
};

void BM_Derivations(benchmark::State& state) {
  Libgcrypt gcrypt;
  Librhash rhash;
  std::vector<Contender> contenders;
  contenders.push_back({"program", [] { return DeriveBinaryKey(Name); }, {}});
  for (const gost::ReHashLoopInfo& loop : gost::ReHashLoops()) {
    if (loop.run) contenders.push_back({std::string(loop.name), [&loop] { return DeriveOnLoop(loop.run, Name); }, {}});
  }
  const std::size_t ours = contenders.size();
  if (gcrypt.Loaded()) {
    contenders.push_back(
        {"libgcrypt", [&gcrypt] { return DeriveWith([&gcrypt](auto... a) { gcrypt.Hash(a...); }, Name); }, {}});
  }
  if (rhash.Loaded()) {
    contenders.push_back(
        {"librhash", [&rhash] { return DeriveWith([&rhash](auto... a) { rhash.Hash(a...); }, Name); }, {}});
  }

  // Each round starts with the next contender, so that none always runs
  // right after the same other one (the first of a round measured slower).
  const BinaryKeyBytes first = contenders[0].derive();
  std::size_t round = 0;
  for (auto _ : state) {
    for (std::size_t k = 0; k < contenders.size(); ++k) {
      const std::size_t i = (k + round) % contenders.size();
      const double start = ThreadCpuSeconds();
      const BinaryKeyBytes key = contenders[i].derive();
      contenders[i].seconds.push_back(ThreadCpuSeconds() - start);
      if (key != first) {
        state.SkipWithError((contenders[i].name + " derived another key").c_str());
        return;
      }
    }
    ++round;
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  for (const Contender& c : contenders) state.counters[c.name + "_s"] = median(c.seconds);
  for (std::size_t lib = ours; lib < contenders.size(); ++lib) {
    for (std::size_t i = 0; i < ours; ++i) {
      state.counters[contenders[lib].name + "/" + contenders[i].name] =
          median(contenders[lib].seconds) / median(contenders[i].seconds);
    }
  }
}
// Nine rounds: on a shared machine a burst of other work can slow one
// derivation by several per cent, and the median of five was seen to keep
// such a burst for one contender.
BENCHMARK(BM_Derivations)->Unit(benchmark::kSecond)->Iterations(9)->MeasureProcessCPUTime();

// 10,000 re-hashes on each loop this processor has.
void BM_ReHashChunk(benchmark::State& state, std::string_view name) {
  for (const gost::ReHashLoopInfo& loop : gost::ReHashLoops()) {
    if (loop.name != name) continue;
    if (!loop.run) {
      state.SkipWithError(("this processor lacks " + std::string(loop.instructions)).c_str());
      return;
    }
    gost::Value value{1, 2, 3, 4};
    for (auto _ : state) value = loop.run(value, ReHashesPerCall);
    benchmark::DoNotOptimize(value);
    state.SetItemsProcessed(state.iterations() * ReHashesPerCall);
  }
}
BENCHMARK_CAPTURE(BM_ReHashChunk, avx512, "avx512")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_ReHashChunk, avx2, "avx2")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_ReHashChunk, plain, "plain")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The program's path: GostReHash, and one hash through the streaming
// interface.
void BM_GostReHash(benchmark::State& state) {
  HashString(Name);
  for (auto _ : state) GostReHash();
  state.SetItemsProcessed(state.iterations() * ReHashesPerCall);
}
BENCHMARK(BM_GostReHash)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_HashBuffer32(benchmark::State& state) {
  HashString(Name);
  for (auto _ : state) HashBuffer(BinaryKey, 32);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HashBuffer32)->Unit(benchmark::kNanosecond)->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
  const gost::ReHashLoopChoice choice = gost::ChooseReHashLoop(std::getenv(gost::LoopVariable));
  if (!choice.refusal.empty()) {
    std::fprintf(stderr, "hash_bench: %s\n", choice.refusal.c_str());
    return 2;
  }
  std::printf("The program's re-hash loop: %.*s\n", static_cast<int>(choice.loop->name.size()),
              choice.loop->name.data());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
