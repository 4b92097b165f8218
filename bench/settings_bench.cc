// What a settings save costs with the Linux hive files (every value and the
// whole access list rewritten), and one registry write on its own.
#include <benchmark/benchmark.h>

#include "WebcamWin/settings/settings.h"
#include "base/reg_key.h"
#include "base/string_util.h"

namespace {

void BM_SettingsSave(benchmark::State& state) {
  base::beginRegistryOverrideForTesting();
  CSettings settings;
  settings.load();
  for (int i = 0; i < state.range(0); ++i) {
    settings.addDevice(base::asciiToWide(base::stringPrintf("00008030-%012d", i)),
                       u"Somebody's iPhone", 1);
  }
  for (auto _ : state) benchmark::DoNotOptimize(settings.save());
  state.counters["devices"] = static_cast<double>(state.range(0));
  base::endRegistryOverrideForTesting();
}
BENCHMARK(BM_SettingsSave)->Arg(0)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_SettingsLoad(benchmark::State& state) {
  base::beginRegistryOverrideForTesting();
  CSettings settings;
  settings.load();
  for (int i = 0; i < state.range(0); ++i)
    settings.addDevice(base::asciiToWide(base::stringPrintf("id-%d", i)), u"phone", 1);
  settings.save();
  for (auto _ : state) benchmark::DoNotOptimize(settings.load());
  base::endRegistryOverrideForTesting();
}
BENCHMARK(BM_SettingsLoad)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_RegistryWrite(benchmark::State& state) {
  base::beginRegistryOverrideForTesting();
  base::RegKey key;
  key.create(base::RegRoot::kCurrentUser, u"Software\\Quillon Labs\\Bench");
  uint32_t value = 0;
  for (auto _ : state) benchmark::DoNotOptimize(key.writeValueDW(u"Port", ++value));
  base::endRegistryOverrideForTesting();
}
BENCHMARK(BM_RegistryWrite)->Unit(benchmark::kMicrosecond);

}  // namespace
