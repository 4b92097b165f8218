#include "PC_Audio_DRV/wave_form.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "PC_Audio_DRV/trace.h"
#include "PC_Audio_DRV/wave_service_protocol.h"
#include "base/logging.h"

namespace {

constexpr char kTraceSource[] = "WaveForm";
constexpr int kResamplerQuality = 10;
constexpr unsigned kReturnPollMs = 100;
// StopPlaying gives the device this long to hand its blocks back.
constexpr unsigned kReturnPolls = 50;

const RealDeviceInfo* findDevice(const base::string16& name, const std::vector<RealDeviceInfo>& devices) {
  for (const auto& device : devices)
    if (base::equalsIgnoreCase(device.name, name)) return &device;
  return nullptr;
}

SpeexResamplerState_* makeResampler(uint32_t from, uint32_t to) {
  int error = 0;
  SpeexResamplerState* state = speex_resampler_init(1, from, to, kResamplerQuality, &error);
  if (!state) LOG(ERROR) << "No resampler from " << from << " to " << to << " Hz: " << error;
  return state;
}

}  // namespace

CWaveForm::CWaveForm(std::unique_ptr<WaveOutPort> out, std::unique_ptr<WaveInPort> in)
    : out_(std::move(out)), in_(std::move(in)) {
  for (unsigned i = 0; i < kBlocks; ++i) {
    inUse_[i] = 0;
    filledBytes_[i] = 0;
    outPointers_[i] = outBlocks_[i];
    inPointers_[i] = inBlocks_[i];
  }
  for (auto& slot : filled_) slot = 0;
  std::memset(outBlocks_, 0, sizeof(outBlocks_));
  std::memset(inBlocks_, 0, sizeof(inBlocks_));
}

CWaveForm::~CWaveForm() {
  WTRACE(wave::kTraceInfo, "CWaveForm::~CWaveForm");
  StopRecording();
  if (inOpen_) in_->close();
  StopPlaying();
  if (outOpen_) out_->close();
  if (playResampler_) speex_resampler_destroy(playResampler_);
  if (recordResampler_) speex_resampler_destroy(recordResampler_);
}

uint32_t CWaveForm::rateFor(uint32_t formats) {
  if (formats & kFormat48M16) return 48000;
  if (formats & kFormat44M16) return 44100;
  if (formats & kFormat22M16) return 22050;
  return 8000;
}

bool CWaveForm::Construct(const base::string16& input, const base::string16& output,
                          const std::vector<RealDeviceInfo>& inputs, const std::vector<RealDeviceInfo>& outputs) {
  WTRACE(wave::kTraceInfo, "CWaveForm::Construct");
  // Without a matching device the system's default is opened at 48 kHz; the
  // system converts if it has to.
  const RealDeviceInfo* outDevice = findDevice(output, outputs);
  outRate_ = outDevice ? rateFor(outDevice->formats) : kDriverRate;
  if (outRate_ != kDriverRate && !(playResampler_ = makeResampler(kDriverRate, outRate_))) return false;
  const RealDeviceInfo* inDevice = findDevice(input, inputs);
  inRate_ = inDevice ? rateFor(inDevice->formats) : kDriverRate;
  if (inRate_ != kDriverRate && !(recordResampler_ = makeResampler(inRate_, kDriverRate))) return false;

  int error = 0;
  if (!out_->open(outDevice, outRate_, this, outPointers_, kBlocks, kBlockBytes, &error)) {
    WTRACE(wave::kTraceError, "Cannot open waveout: %d", error);
    return false;
  }
  outOpen_ = true;
  if (!in_->open(inDevice, inRate_, this, inPointers_, kBlocks, kBlockBytes, &error)) {
    WTRACE(wave::kTraceError, "Cannot open wavein: %d", error);
    return false;
  }
  inOpen_ = true;
  stopping_ = 0;
  return true;
}

void CWaveForm::SetReadCallback(ReadCallback callback, void* context) {
  if (readCallback_) WTRACE(wave::kTraceWarning, "WARNING!!! ReadCallback already exists");
  readCallback_ = callback;
  readContext_ = context;
}

bool CWaveForm::StartRecording() {
  if (!inOpen_ || stop_.isSet()) return false;
  if (!pump_.joinable()) pump_ = std::thread([this] { pump(); });
  return in_->start();
}

void CWaveForm::StopRecording() {
  stop_.set();
  if (inOpen_) in_->stop();
  if (pump_.joinable()) pump_.join();
}

void CWaveForm::StopPlaying() {
  if (!outOpen_) return;
  stopping_ = 1;
  out_->reset();
  for (unsigned poll = 0;; ++poll) {
    bool busy = false;
    for (auto& flag : inUse_) busy = busy || flag.load() != 0;
    if (!busy) return;
    if (poll == kReturnPolls) {
      // A device that never hands its blocks back must not hang the service.
      LOG(ERROR) << "The output device kept blocks after its reset; they are taken back";
      for (auto& flag : inUse_) flag = 0;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kReturnPollMs));
  }
}

void CWaveForm::Out(const uint8_t* bytes, size_t length) {
  if (stopping_) {
    WTRACE(wave::kTraceInfo, "Stopping --> return");
    return;
  }
  if (playResampler_) {
    spx_uint32_t inSamples = static_cast<spx_uint32_t>(length / 2);
    spx_uint32_t outSamples = kConversionSamples;
    speex_resampler_process_int(playResampler_, 0, reinterpret_cast<const int16_t*>(bytes), &inSamples,
                                playConversion_, &outSamples);
    bytes = reinterpret_cast<const uint8_t*>(playConversion_);
    length = outSamples * 2;
  }
  while (length > 0) {
    unsigned index = kBlocks;
    for (unsigned i = 0; i < kBlocks; ++i) {
      if (inUse_[i].load() == 0) {
        index = i;
        break;
      }
    }
    if (index == kBlocks) {
      // Once per stretch of full blocks, not for every block that comes back.
      if (!exhausted_) WTRACE(wave::kTraceWarning, "Buffers exausted");
      exhausted_ = true;
      const int which = WaitableEvent::waitAny(&stop_, &blockFreed_);
      if (which != 1) {
        WTRACE(wave::kTraceInfo, "Wait result %d", which);
        return;
      }
      continue;
    }
    if (index == 0) exhausted_ = false;
    const size_t chunk = std::min(length, kBlockBytes);
    std::memcpy(outBlocks_[index], bytes, chunk);
    inUse_[index] = 1;
    int error = 0;
    if (!out_->write(index, chunk, &error)) {
      WTRACE(wave::kTraceError, "waveOutWrite failed %d", error);
      // The device did not take the block, so it will never hand it back.
      inUse_[index] = 0;
    }
    if (length <= kBlockBytes) return;
    bytes += kBlockBytes;
    length -= kBlockBytes;
  }
}

void CWaveForm::onBlockDone(unsigned index) {
  if (index >= kBlocks) return;
  inUse_[index] = 0;
  blockFreed_.set();
}

void CWaveForm::onBlockFilled(unsigned index, size_t bytes) {
  if (index >= kBlocks) return;
  filledBytes_[index] = static_cast<uint32_t>(std::min(bytes, kBlockBytes));
  const uint32_t tail = filledTail_.load(std::memory_order_relaxed);
  filled_[tail % (kBlocks + 1)].store(index, std::memory_order_relaxed);
  filledTail_.store(tail + 1, std::memory_order_release);
  inputReady_.set();
}

bool CWaveForm::popFilled(unsigned* index) {
  const uint32_t head = filledHead_.load(std::memory_order_relaxed);
  if (head == filledTail_.load(std::memory_order_acquire)) return false;
  *index = filled_[head % (kBlocks + 1)].load(std::memory_order_relaxed);
  filledHead_.store(head + 1, std::memory_order_release);
  return true;
}

void CWaveForm::pump() {
  for (;;) {
    if (WaitableEvent::waitAny(&stop_, &inputReady_) != 1) return;
    unsigned index;
    while (popFilled(&index)) {
      if (stop_.isSet()) {
        WTRACE(wave::kTraceInfo, "Shutdown in progress");
        continue;  // the block stays with us
      }
      const size_t bytes = filledBytes_[index].load();
      if (readCallback_ && bytes > 0) {
        if (recordResampler_) {
          spx_uint32_t inSamples = static_cast<spx_uint32_t>(bytes / 2);
          spx_uint32_t outSamples = kConversionSamples;
          speex_resampler_process_int(recordResampler_, 0, reinterpret_cast<const int16_t*>(inBlocks_[index]),
                                      &inSamples, recordConversion_, &outSamples);
          readCallback_(readContext_, reinterpret_cast<const uint8_t*>(recordConversion_), outSamples * 2);
        } else {
          readCallback_(readContext_, inBlocks_[index], static_cast<uint32_t>(bytes));
        }
      }
      in_->requeue(index);
    }
  }
}

std::unique_ptr<IWaveForm> CreateWaveForm(const base::string16& input, const base::string16& output,
                                          std::unique_ptr<WaveOutPort> out, std::unique_ptr<WaveInPort> in,
                                          const std::vector<RealDeviceInfo>& inputs,
                                          const std::vector<RealDeviceInfo>& outputs) {
  if (input.find(kVirtualDeviceMark) != base::string16::npos || output.find(kVirtualDeviceMark) != base::string16::npos)
    return nullptr;
  const size_t limit = maxRealDeviceNameChars();
  for (const base::string16* name : {&input, &output}) {
    if (name->size() > limit) {
      // Cut to the system's length it could match another device's name.
      LOG(WARNING) << "The device name \"" << *name << "\" is longer than " << limit
                   << " characters; no device has such a name";
      return nullptr;
    }
  }
  auto form = std::make_unique<CWaveForm>(std::move(out), std::move(in));
  if (!form->Construct(input, output, inputs, outputs)) return nullptr;
  return form;
}
