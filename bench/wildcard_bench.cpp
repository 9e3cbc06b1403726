// MatchWildcard on cache-like names, and on long names against patterns full
// of stars: the work grows with name length times pattern length, never
// exponentially.
#include <benchmark/benchmark.h>

#include <string>

#include "sources/web_cache_purge.h"

namespace {

void TypicalNames(benchmark::State& state) {
  const char16_t* names[] = {u"alpha.example.net[12].htm", u"host7.example.com[3].htm", u"alphabet",
                             u"xalpha"};
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(MatchWildcard(u"alpha*", names[i++ & 3]));
}
BENCHMARK(TypicalNames);

// "*a*a...*a*b" against "aaa...a": every star is a new backtrack point and
// the final "b" never matches.
void ManyStarsNoMatch(benchmark::State& state) {
  std::u16string name(static_cast<size_t>(state.range(0)), u'a');
  std::u16string pattern;
  for (int i = 0; i < state.range(1); ++i) pattern += u"*a";
  pattern += u"*b";
  for (auto _ : state) benchmark::DoNotOptimize(MatchWildcard(pattern.c_str(), name.c_str()));
}
BENCHMARK(ManyStarsNoMatch)->ArgsProduct({{256, 1024, 4096}, {8, 32, 128}});

// "*aaa...ab" against "aaa...a": every retry compares the whole literal
// again, so the time is name length times literal length, the bound.
void LongLiteralAfterStar(benchmark::State& state) {
  std::u16string name(static_cast<size_t>(state.range(0)), u'a');
  std::u16string pattern = u"*" + std::u16string(static_cast<size_t>(state.range(1)), u'a') + u"b";
  for (auto _ : state) benchmark::DoNotOptimize(MatchWildcard(pattern.c_str(), name.c_str()));
  state.SetComplexityN(state.range(0) * state.range(1));
}
BENCHMARK(LongLiteralAfterStar)
    ->ArgsProduct({{256, 1024, 4096}, {8, 64, 256}})
    ->Complexity(benchmark::oN);

// A long name that does match a long many-star pattern.
void ManyStarsMatch(benchmark::State& state) {
  std::u16string name;
  for (int i = 0; i < state.range(0); ++i) name += u"ab";
  std::u16string pattern;
  for (int i = 0; i < 64; ++i) pattern += u"*a?";
  for (auto _ : state) benchmark::DoNotOptimize(MatchWildcard(pattern.c_str(), name.c_str()));
}
BENCHMARK(ManyStarsMatch)->Arg(128)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
