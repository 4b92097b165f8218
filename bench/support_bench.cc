// Support tool: how fast a log is packed (4096-byte blocks into gzip level
// 6) and how fast the upload body is handed out in 4096-byte chunks.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "WebcamWin/support/jobs.h"
#include "WebcamWin/support/upload_body.h"
#include "base/file_util.h"
#include "base/test_util.h"

namespace {

// A log of typical lines, `bytes` long.
std::string sampleLog(size_t bytes) {
  std::string log;
  for (int i = 0; log.size() < bytes; ++i)
    log += "12/07/2026 22:10:29:INFO:video_component.cc(" + std::to_string(i % 900) +
           "):[10839:10883] frame " + std::to_string(i) + " decoded in " + std::to_string(i % 17) + " ms\r\n";
  log.resize(bytes);
  return log;
}

void BM_CompressLog(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0));
  const base::string16 folder = base::makeTempDirectory(u"support_bench");
  const base::string16 path = base::joinPath(folder, u"debug.log");
  base::writeFileAtomic(path, sampleLog(bytes));
  for (auto _ : state) {
    support::CParamStore store;
    store.insert(support::kKeyLog, path);
    support::CCompressLog job(&store);
    support::StopEvent stop;
    if (job.execute(stop) != support::kSOk) state.SkipWithError("packing failed");
    base::deleteFile(store.get(support::kKeyCompressedLog));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  base::removeTree(folder);
}
BENCHMARK(BM_CompressLog)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

void BM_UploadBodyChunks(benchmark::State& state) {
  const std::vector<uint8_t> file(static_cast<size_t>(state.range(0)), 0x5A);
  support::CUploadBody body;
  for (auto _ : state) {
    body.reset(support::uploadHead("----LumoraDesktop1", "Log.txt.gz"), file.data(), file.size(),
               support::uploadTail("----LumoraDesktop1"));
    const uint8_t* data = nullptr;
    size_t n;
    while ((n = body.next(&data, support::kUploadChunkBytes)) > 0) {
      benchmark::DoNotOptimize(data);
      body.advance(n);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_UploadBodyChunks)->Arg(1 << 20);

}  // namespace
