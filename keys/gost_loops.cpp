#include "keys/gost_loops.h"

#include <array>

namespace vorsal::gost {

// Defined in gost_avx2.cpp, which is compiled for AVX2; called only where
// the processor has it.
#if defined(VORSAL_GOST_X86_LOOPS)
Value ReHashAvx2(Value value, int count);
#endif

namespace {

std::array<ReHashLoopInfo, 3> FindLoops() {
#if defined(VORSAL_GOST_X86_LOOPS)
  __builtin_cpu_init();
  const ReHashLoop avx2 = __builtin_cpu_supports("avx2") ? ReHashAvx2 : nullptr;
#else
  const ReHashLoop avx2 = nullptr;
#endif
  return {{{"avx512", "AVX-512 F, BW, VL and VBMI", Avx512ReHashLoop()},
           {"avx2", "AVX2", avx2},
           {"plain", "nothing special", ReHashPortable}}};
}

std::string NamesOfRunnableLoops() {
  std::string names;
  for (const ReHashLoopInfo& loop : ReHashLoops()) {
    if (!loop.run) continue;
    if (!names.empty()) names += ", ";
    names += loop.name;
  }
  return names;
}

}  // namespace

std::span<const ReHashLoopInfo> ReHashLoops() {
  static const std::array<ReHashLoopInfo, 3> loops = FindLoops();
  return loops;
}

ReHashLoopChoice ChooseReHashLoop(const char* request) {
  const ReHashLoopInfo* fastest = nullptr;
  for (const ReHashLoopInfo& loop : ReHashLoops()) {
    if (loop.run && !fastest) fastest = &loop;
  }
  if (!request || *request == '\0') return {fastest, {}};
  const std::string_view wanted = request;
  const std::string prefix = std::string(LoopVariable) + "=" + std::string(wanted) + " refused: ";
  for (const ReHashLoopInfo& loop : ReHashLoops()) {
    if (loop.name != wanted) continue;
    if (loop.run) return {&loop, {}};
    return {fastest, prefix + "this processor lacks " + std::string(loop.instructions) +
                         "; it runs the loops " + NamesOfRunnableLoops()};
  }
  return {fastest, prefix + "no such loop; the loops are avx512, avx2 and plain, and this processor runs " +
                       NamesOfRunnableLoops()};
}

}  // namespace vorsal::gost
