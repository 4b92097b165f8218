// CWaveForm: the pair of real sound devices of the bridge. Playback: the
// virtual device's 48 kHz audio, resampled to the output device's rate, goes
// out in chunks of at most 960 bytes through 32 rotating blocks. Recording:
// the input device fills 32 blocks of 960 bytes at its rate; a pump thread
// resamples them to 48 kHz and hands them to the read callback.
//
// The device's notifications only flip a block's flag, queue its number and
// set an event: they never wait, lock or allocate. Resampling and the write
// toward the virtual device run on the pump thread.
//
// Thread: Out() on the link's reader thread; the rest on the service's
// control or worker thread, serialised by the service.
#ifndef PC_AUDIO_DRV_WAVE_FORM_H_
#define PC_AUDIO_DRV_WAVE_FORM_H_

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "PC_Audio_DRV/bridge.h"
#include "PC_Audio_DRV/real_wave_device.h"
#include "PC_Audio_DRV/waitable_event.h"

struct SpeexResamplerState_;

class CWaveForm : public IWaveForm, private WaveOutPort::Client, private WaveInPort::Client {
 public:
  static constexpr unsigned kBlocks = 32;
  static constexpr size_t kBlockBytes = 960;
  static constexpr size_t kConversionSamples = 51200;
  static constexpr uint32_t kDriverRate = 48000;

  CWaveForm(std::unique_ptr<WaveOutPort> out, std::unique_ptr<WaveInPort> in);
  ~CWaveForm() override;

  // Opens the devices named (ignoring letter case) among the lists, or the
  // system's default where no name matches. False when either can't be
  // opened.
  bool Construct(const base::string16& input, const base::string16& output, const std::vector<RealDeviceInfo>& inputs,
                 const std::vector<RealDeviceInfo>& outputs);

  void SetReadCallback(ReadCallback callback, void* context) override;
  bool StartRecording() override;
  void StopRecording() override;
  void StopPlaying() override;
  void Out(const uint8_t* bytes, size_t length) override;

  uint32_t outputRate() const { return outRate_; }
  uint32_t inputRate() const { return inRate_; }
  // The device rate a capability mask gives.
  static uint32_t rateFor(uint32_t formats);

 private:
  void onBlockDone(unsigned index) override;
  void onBlockFilled(unsigned index, size_t bytes) override;
  void pump();
  bool popFilled(unsigned* index);

  std::unique_ptr<WaveOutPort> out_;
  std::unique_ptr<WaveInPort> in_;
  bool outOpen_ = false, inOpen_ = false;
  uint32_t outRate_ = kDriverRate, inRate_ = kDriverRate;

  std::atomic<uint32_t> inUse_[kBlocks];
  WaitableEvent blockFreed_{false, true};
  WaitableEvent stop_{true, false};
  WaitableEvent inputReady_{false, false};
  uint8_t outBlocks_[kBlocks][kBlockBytes];
  uint8_t inBlocks_[kBlocks][kBlockBytes];
  uint8_t* outPointers_[kBlocks];
  uint8_t* inPointers_[kBlocks];

  // Filled input blocks, from the device's thread to the pump: one
  // producer, one consumer, never more than kBlocks waiting.
  std::atomic<uint32_t> filledBytes_[kBlocks];
  std::atomic<uint32_t> filled_[kBlocks + 1];
  std::atomic<uint32_t> filledHead_{0}, filledTail_{0};

  ReadCallback readCallback_ = nullptr;
  void* readContext_ = nullptr;
  std::thread pump_;

  SpeexResamplerState_* playResampler_ = nullptr;
  SpeexResamplerState_* recordResampler_ = nullptr;
  int16_t playConversion_[kConversionSamples];
  int16_t recordConversion_[kConversionSamples];
  std::atomic<uint32_t> stopping_{0};
  bool exhausted_ = false;  // reader thread only
};

// The bridge's real devices with the system's device lists: nothing when a
// name contains "Lumora Wave" or is longer than any device name can be (a
// log line says why), or when the devices can't be opened.
std::unique_ptr<IWaveForm> CreateWaveForm(const base::string16& input, const base::string16& output,
                                          std::unique_ptr<WaveOutPort> out, std::unique_ptr<WaveInPort> in,
                                          const std::vector<RealDeviceInfo>& inputs,
                                          const std::vector<RealDeviceInfo>& outputs);

#endif  // PC_AUDIO_DRV_WAVE_FORM_H_
