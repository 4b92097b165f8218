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

// WinMM's wave-out and wave-in calls differ only in their names; these name
// them once per direction so opening, the headers and closing are shared.
struct WaveOutApi {
  using Handle = HWAVEOUT;
  using Caps = WAVEOUTCAPSW;
  static MMRESULT open(Handle* wave, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance) {
    return ::waveOutOpen(wave, id, format, callback, instance, CALLBACK_FUNCTION);
  }
  static MMRESULT prepare(Handle wave, WAVEHDR* header) { return ::waveOutPrepareHeader(wave, header, sizeof(WAVEHDR)); }
  static MMRESULT unprepare(Handle wave, WAVEHDR* header) {
    return ::waveOutUnprepareHeader(wave, header, sizeof(WAVEHDR));
  }
  static MMRESULT reset(Handle wave) { return ::waveOutReset(wave); }
  static MMRESULT close(Handle wave) { return ::waveOutClose(wave); }
  static UINT deviceCount() { return ::waveOutGetNumDevs(); }
  static MMRESULT caps(UINT id, Caps* caps) { return ::waveOutGetDevCapsW(id, caps, sizeof(Caps)); }
};

struct WaveInApi {
  using Handle = HWAVEIN;
  using Caps = WAVEINCAPSW;
  static MMRESULT open(Handle* wave, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance) {
    return ::waveInOpen(wave, id, format, callback, instance, CALLBACK_FUNCTION);
  }
  static MMRESULT prepare(Handle wave, WAVEHDR* header) { return ::waveInPrepareHeader(wave, header, sizeof(WAVEHDR)); }
  static MMRESULT unprepare(Handle wave, WAVEHDR* header) {
    return ::waveInUnprepareHeader(wave, header, sizeof(WAVEHDR));
  }
  static MMRESULT reset(Handle wave) { return ::waveInReset(wave); }
  static MMRESULT close(Handle wave) { return ::waveInClose(wave); }
  static UINT deviceCount() { return ::waveInGetNumDevs(); }
  static MMRESULT caps(UINT id, Caps* caps) { return ::waveInGetDevCapsW(id, caps, sizeof(Caps)); }
};

// One open WinMM wave device with a prepared header per block. `Port` is the
// interface it implements; the direction supplies the callback.
template <typename Api, typename Port>
class WinMMWave : public Port {
 public:
  ~WinMMWave() override { close(); }

  void close() override {
    if (!wave_) return;
    Api::reset(wave_);
    for (auto& header : headers_) Api::unprepare(wave_, &header);
    Api::close(wave_);
    wave_ = nullptr;
  }

 protected:
  using Client = typename Port::Client;
  using Callback = void(CALLBACK*)(typename Api::Handle, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

  // Opens the device and prepares one header per block (the header's user
  // word is the block number). Returns the first error of the lot, or
  // MMSYSERR_NOERROR; `wave_` stays null when the device did not open.
  MMRESULT openWave(const RealDeviceInfo* device, uint32_t rate, Callback callback, Client* client,
                    uint8_t* const* blocks, unsigned count, size_t blockBytes) {
    client_ = client;
    WAVEFORMATEX format = formatFor(rate);
    MMRESULT result = Api::open(&wave_, deviceId(device), &format, reinterpret_cast<DWORD_PTR>(callback),
                                reinterpret_cast<DWORD_PTR>(this));
    if (result != MMSYSERR_NOERROR) {
      wave_ = nullptr;
      return result;
    }
    headers_.assign(count, WAVEHDR());
    for (unsigned i = 0; i < count; ++i) {
      headers_[i].lpData = reinterpret_cast<LPSTR>(blocks[i]);
      headers_[i].dwBufferLength = static_cast<DWORD>(blockBytes);
      headers_[i].dwUser = i;
      const MMRESULT prepared = Api::prepare(wave_, &headers_[i]);
      if (result == MMSYSERR_NOERROR) result = prepared;
    }
    return result;
  }

  typename Api::Handle wave_ = nullptr;
  Client* client_ = nullptr;
  std::vector<WAVEHDR> headers_;
};

class WinMMWaveOut : public WinMMWave<WaveOutApi, WaveOutPort> {
 public:
  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned count,
            size_t blockBytes, int* error) override {
    const MMRESULT result = openWave(device, rate, &callbackOut, client, blocks, count, blockBytes);
    // A header that failed to prepare shows up as a failed write later.
    if (!wave_) *error = static_cast<int>(result);
    return wave_ != nullptr;
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

 private:
  static void CALLBACK callbackOut(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WOM_DONE) return;
    auto* self = reinterpret_cast<WinMMWaveOut*>(instance);
    const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
    self->client_->onBlockDone(static_cast<unsigned>(header->dwUser));
  }
};

class WinMMWaveIn : public WinMMWave<WaveInApi, WaveInPort> {
 public:
  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned count,
            size_t blockBytes, int* error) override {
    MMRESULT result = openWave(device, rate, &callbackIn, client, blocks, count, blockBytes);
    // Every block is queued before recording starts.
    for (auto& header : headers_) {
      if (result != MMSYSERR_NOERROR) break;
      result = ::waveInAddBuffer(wave_, &header, sizeof(WAVEHDR));
    }
    if (result != MMSYSERR_NOERROR) *error = static_cast<int>(result);
    return result == MMSYSERR_NOERROR;
  }

  bool requeue(unsigned index) override {
    if (!wave_ || index >= headers_.size()) return false;
    return ::waveInAddBuffer(wave_, &headers_[index], sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
  }

  bool start() override { return wave_ && ::waveInStart(wave_) == MMSYSERR_NOERROR; }
  void stop() override {
    if (wave_) ::waveInStop(wave_);
  }

 private:
  static void CALLBACK callbackIn(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) return;
    auto* self = reinterpret_cast<WinMMWaveIn*>(instance);
    const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
    if (!(header->dwFlags & WHDR_DONE)) return;
    self->client_->onBlockFilled(static_cast<unsigned>(header->dwUser), header->dwBytesRecorded);
  }
};

template <typename Api>
std::vector<RealDeviceInfo> listDevices() {
  std::vector<RealDeviceInfo> devices;
  const UINT count = Api::deviceCount();
  for (UINT i = 0; i < count; ++i) {
    typename Api::Caps caps = {};
    if (Api::caps(i, &caps) != MMSYSERR_NOERROR) continue;
    caps.szPname[MAXPNAMELEN - 1] = 0;
    devices.push_back({base::fromWide(caps.szPname), caps.dwFormats, std::to_string(i)});
  }
  return devices;
}

}  // namespace

size_t maxRealDeviceNameChars() { return MAXPNAMELEN - 1; }

std::vector<RealDeviceInfo> listRealOutputs() { return listDevices<WaveOutApi>(); }

std::vector<RealDeviceInfo> listRealInputs() { return listDevices<WaveInApi>(); }

std::unique_ptr<WaveOutPort> createWaveOutPort() { return std::make_unique<WinMMWaveOut>(); }
std::unique_ptr<WaveInPort> createWaveInPort() { return std::make_unique<WinMMWaveIn>(); }
