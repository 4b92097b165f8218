// Encoding and decoding of a typical video frame message: a dictionary of
// seven small entries plus a 50 KB binary picture.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "base/pickle.h"
#include "base/values.h"

namespace {

std::unique_ptr<base::DictionaryValue> makeFrame() {
  auto d = std::make_unique<base::DictionaryValue>();
  d->setInteger("Width", 640);
  d->setInteger("Height", 480);
  d->setInteger("Orientation", 1);
  d->setInt64("Timestamp", 1234567890123LL);
  d->setString("Format", "jpeg");
  d->setReal("Scale", 1.0);
  d->setBoolean("Mirror", false);
  std::vector<uint8_t> picture(50 * 1024);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 31);
  d->set("Data", base::BinaryValue::createWithCopiedBuffer(picture.data(),
                                                          static_cast<uint32_t>(picture.size())));
  return d;
}

void BM_EncodeFrameDictionary(benchmark::State& state) {
  const auto frame = makeFrame();
  size_t bytes = 0;
  for (auto _ : state) {
    base::Pickle p;
    p.writeInt(2);  // message kind first, as the components do
    benchmark::DoNotOptimize(base::writeDictionaryToPickle(*frame, &p));
    bytes = p.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_EncodeFrameDictionary);

void BM_DecodeFrameDictionary(benchmark::State& state) {
  base::Pickle p;
  p.writeInt(2);
  base::writeDictionaryToPickle(*makeFrame(), &p);
  for (auto _ : state) {
    base::Pickle view(p.data(), p.size());
    base::PickleIterator it(view);
    int32_t kind;
    it.readInt(&kind);
    auto d = base::readDictionaryFromPickle(&it);
    benchmark::DoNotOptimize(d.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}
BENCHMARK(BM_DecodeFrameDictionary);

}  // namespace
