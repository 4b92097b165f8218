// Windows: WinMM wave-out and wave-in with one prepared header per block.
// The callbacks run on WinMM's callback thread, where only a few calls are
// allowed: they read the block number from the header's user word and pass
// it on (the client flips a flag and sets an event). Giving an input block
// back (waveInAddBuffer) happens on the bridge's own pump thread.
#include <windows.h>
#include <mmsystem.h>

#include <vector>

#include "PC_Audio_DRV/real_wave_device.h"
#include "base/win_util.h"

namespace {

WAVEFORMATEX formatFor(uint32_t rate) {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 2;
  format.nAvgBytesPerSec = rate * 2;
  format.cbSize = 18;  // ignored for PCM
  return format;
}

UINT deviceId(const RealDeviceInfo* device) {
  return device ? static_cast<UINT>(std::stoul(device->id)) : WAVE_MAPPER;
}

class WinMMWaveOut : public WaveOutPort {
 public:
  ~WinMMWaveOut() override { close(); }

  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned count,
            size_t blockBytes, int* error) override {
    client_ = client;
    WAVEFORMATEX format = formatFor(rate);
    const MMRESULT result = ::waveOutOpen(&wave_, deviceId(device), &format, reinterpret_cast<DWORD_PTR>(&callbackOut),
                                          reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
      *error = static_cast<int>(result);
      wave_ = nullptr;
      return false;
    }
    headers_.assign(count, WAVEHDR());
    for (unsigned i = 0; i < count; ++i) {
      headers_[i].lpData = reinterpret_cast<LPSTR>(blocks[i]);
      headers_[i].dwBufferLength = static_cast<DWORD>(blockBytes);
      headers_[i].dwUser = i;
      ::waveOutPrepareHeader(wave_, &headers_[i], sizeof(WAVEHDR));
    }
    return true;
  }

  bool write(unsigned index, size_t bytes, int* error) override {
    if (!wave_ || index >= headers_.size()) return false;
    headers_[index].dwBufferLength = static_cast<DWORD>(bytes);
    const MMRESULT result = ::waveOutWrite(wave_, &headers_[index], sizeof(WAVEHDR));
    *error = static_cast<int>(result);
    return result == MMSYSERR_NOERROR;
  }

  void reset() override {
    if (wave_) ::waveOutReset(wave_);
  }

  void close() override {
    if (!wave_) return;
    ::waveOutReset(wave_);
    for (auto& header : headers_) ::waveOutUnprepareHeader(wave_, &header, sizeof(WAVEHDR));
    ::waveOutClose(wave_);
    wave_ = nullptr;
  }

 private:
  static void CALLBACK callbackOut(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WOM_DONE) return;
    auto* self = reinterpret_cast<WinMMWaveOut*>(instance);
    const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
    self->client_->onBlockDone(static_cast<unsigned>(header->dwUser));
  }

  HWAVEOUT wave_ = nullptr;
  Client* client_ = nullptr;
  std::vector<WAVEHDR> headers_;
};

class WinMMWaveIn : public WaveInPort {
 public:
  ~WinMMWaveIn() override { close(); }

  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned count,
            size_t blockBytes, int* error) override {
    client_ = client;
    WAVEFORMATEX format = formatFor(rate);
    MMRESULT result = ::waveInOpen(&wave_, deviceId(device), &format, reinterpret_cast<DWORD_PTR>(&callbackIn),
                                   reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
      *error = static_cast<int>(result);
      wave_ = nullptr;
      return false;
    }
    headers_.assign(count, WAVEHDR());
    for (unsigned i = 0; i < count; ++i) {
      headers_[i].lpData = reinterpret_cast<LPSTR>(blocks[i]);
      headers_[i].dwBufferLength = static_cast<DWORD>(blockBytes);
      headers_[i].dwUser = i;
      result = ::waveInPrepareHeader(wave_, &headers_[i], sizeof(WAVEHDR));
      if (result == MMSYSERR_NOERROR) result = ::waveInAddBuffer(wave_, &headers_[i], sizeof(WAVEHDR));
      if (result != MMSYSERR_NOERROR) {
        *error = static_cast<int>(result);
        return false;
      }
    }
    return true;
  }

  bool requeue(unsigned index) override {
    if (!wave_ || index >= headers_.size()) return false;
    return ::waveInAddBuffer(wave_, &headers_[index], sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
  }

  bool start() override { return wave_ && ::waveInStart(wave_) == MMSYSERR_NOERROR; }
  void stop() override {
    if (wave_) ::waveInStop(wave_);
  }

  void close() override {
    if (!wave_) return;
    ::waveInReset(wave_);
    for (auto& header : headers_) ::waveInUnprepareHeader(wave_, &header, sizeof(WAVEHDR));
    ::waveInClose(wave_);
    wave_ = nullptr;
  }

 private:
  static void CALLBACK callbackIn(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) return;
    auto* self = reinterpret_cast<WinMMWaveIn*>(instance);
    const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
    if (!(header->dwFlags & WHDR_DONE)) return;
    self->client_->onBlockFilled(static_cast<unsigned>(header->dwUser), header->dwBytesRecorded);
  }

  HWAVEIN wave_ = nullptr;
  Client* client_ = nullptr;
  std::vector<WAVEHDR> headers_;
};

}  // namespace

size_t maxRealDeviceNameChars() { return MAXPNAMELEN - 1; }

std::vector<RealDeviceInfo> listRealOutputs() {
  std::vector<RealDeviceInfo> devices;
  const UINT count = ::waveOutGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    WAVEOUTCAPSW caps = {};
    if (::waveOutGetDevCapsW(i, &caps, sizeof(caps)) != MMSYSERR_NOERROR) continue;
    caps.szPname[MAXPNAMELEN - 1] = 0;
    devices.push_back({base::fromWide(caps.szPname), caps.dwFormats, std::to_string(i)});
  }
  return devices;
}

std::vector<RealDeviceInfo> listRealInputs() {
  std::vector<RealDeviceInfo> devices;
  const UINT count = ::waveInGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    WAVEINCAPSW caps = {};
    if (::waveInGetDevCapsW(i, &caps, sizeof(caps)) != MMSYSERR_NOERROR) continue;
    caps.szPname[MAXPNAMELEN - 1] = 0;
    devices.push_back({base::fromWide(caps.szPname), caps.dwFormats, std::to_string(i)});
  }
  return devices;
}

std::unique_ptr<WaveOutPort> createWaveOutPort() { return std::make_unique<WinMMWaveOut>(); }
std::unique_ptr<WaveInPort> createWaveInPort() { return std::make_unique<WinMMWaveIn>(); }
