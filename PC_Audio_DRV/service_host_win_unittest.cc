// Windows (Wine in the test runs): the real wavehost.exe under the prefix's
// service control manager: install and remove with their texts and exit
// codes, a started service answering the custom codes, and the shell-token
// search leaving no handle behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "PC_Audio_DRV/wave_service.h"
#include "base/test_util_win.h"
#include "base/win_util.h"

namespace {

std::wstring windowsPath(const std::string& path) {
  std::wstring out = L"Z:";
  for (char c : path) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return out;
}

// Runs wavehost.exe with `args`; returns its exit code and output.
int runWavehost(const std::wstring& args, std::string* output) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!::CreatePipe(&read, &write, &inherit, 0)) return -1000;
  ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + windowsPath(WAVEHOST_PROGRAM) + L"\" " + args;
  const BOOL started =
      ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  ::CloseHandle(write);
  if (!started) {
    ::CloseHandle(read);
    return -1001;
  }
  output->clear();
  char buffer[512];
  DWORD got = 0;
  while (::ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got > 0) output->append(buffer, got);
  ::CloseHandle(read);
  ::WaitForSingleObject(process.hProcess, 60000);
  // The console's text mode ends lines with CR LF.
  size_t cr;
  while ((cr = output->find("\r\n")) != std::string::npos) output->erase(cr, 1);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return static_cast<int>(code);
}

std::string fileText(const std::wstring& path) {
  std::ifstream in(base::wideToUtf8(base::fromWide(path.c_str())).c_str());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class WavehostServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_TRUE(manager_);
    removeLeftover();
  }
  void TearDown() override {
    removeLeftover();
    if (manager_) ::CloseServiceHandle(manager_);
  }
  void removeLeftover() {
    if (SC_HANDLE old = ::OpenServiceW(manager_, base::wstr(kWaveServiceName), SERVICE_ALL_ACCESS)) {
      SERVICE_STATUS status;
      ::ControlService(old, SERVICE_CONTROL_STOP, &status);
      base::waitForServiceState(old, SERVICE_STOPPED);
      ::DeleteService(old);
      ::CloseServiceHandle(old);
    }
  }
  SC_HANDLE manager_ = nullptr;
};

TEST_F(WavehostServiceTest, InstallAndRemoveAnswerWithTheirTextsAndCodes) {
  std::string output;
  ASSERT_EQ(0, runWavehost(L"INSTALL", &output)) << output;
  const std::string registered = "Successfully registered \"" +
                                 base::wideToUtf8(base::fromWide(windowsPath(WAVEHOST_PROGRAM).c_str())) + "\"\n";
  EXPECT_NE(std::string::npos, output.find(registered)) << output;

  SC_HANDLE service = ::OpenServiceW(manager_, base::wstr(kWaveServiceName), SERVICE_QUERY_CONFIG);
  ASSERT_TRUE(service);
  char buffer[8192];
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
  DWORD needed = 0;
  ASSERT_TRUE(::QueryServiceConfigW(service, config, sizeof(buffer), &needed));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config->dwServiceType);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
  EXPECT_EQ(L"\"" + windowsPath(WAVEHOST_PROGRAM) + L"\"", std::wstring(config->lpBinaryPathName));
  EXPECT_EQ(std::wstring(L"Lumora Wave Service"), std::wstring(config->lpDisplayName));
  ::CloseServiceHandle(service);

  EXPECT_EQ(2, runWavehost(L"install", &output));
  EXPECT_EQ("Registration error!\n", output);
  EXPECT_EQ(0, runWavehost(L"Remove second-argument", &output));
  EXPECT_EQ("Service deleted\n", output);
  EXPECT_EQ(2, runWavehost(L"remove", &output));
  EXPECT_EQ("Can't open service\n", output);
  // Not started by the service control manager: returns 0, says nothing.
  EXPECT_EQ(0, runWavehost(L"", &output));
  EXPECT_EQ("", output);
}

TEST_F(WavehostServiceTest, StartedServiceAnswersTheCustomCodes) {
  std::string output;
  ASSERT_EQ(0, runWavehost(L"install", &output)) << output;
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring trace = std::wstring(temp) + L"wavehost-test-trace.log";
  ::DeleteFileW(trace.c_str());
  // Names of devices that are not there: the bridge can't start, the codes
  // are still answered.
  {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, base::wstr(kWaveServiceKey), 0, nullptr, 0,
                                                KEY_WRITE, nullptr, &key, nullptr));
    const wchar_t name[] = L"Lumora Wave Audio Device (WDM)";
    ::RegSetValueExW(key, L"Input Device", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof(name));
    ::RegSetValueExW(key, L"Output Device", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof(name));
    ::RegCloseKey(key);
  }
  SC_HANDLE service = ::OpenServiceW(manager_, base::wstr(kWaveServiceName), SERVICE_ALL_ACCESS);
  ASSERT_TRUE(service);
  const std::wstring traceArg = L"LUMORA_WAVEHOST_TRACE=" + trace;
  const wchar_t* args[] = {traceArg.c_str()};
  ASSERT_TRUE(::StartServiceW(service, 1, args)) << ::GetLastError();
  ASSERT_TRUE(base::waitForServiceState(service, SERVICE_RUNNING));
  SERVICE_STATUS status = {};
  for (DWORD code : {WAVE_SERVICE_PING, WAVE_SERVICE_PAUSE, WAVE_SERVICE_CONTINUE, WAVE_SERVICE_OPEN_DEVICE, 250u})
    EXPECT_TRUE(::ControlService(service, code, &status)) << code << " error " << ::GetLastError();
  EXPECT_TRUE(::ControlService(service, SERVICE_CONTROL_PAUSE, &status));
  EXPECT_TRUE(base::waitForServiceState(service, SERVICE_PAUSED));
  EXPECT_TRUE(::ControlService(service, SERVICE_CONTROL_CONTINUE, &status));
  EXPECT_TRUE(base::waitForServiceState(service, SERVICE_RUNNING));
  EXPECT_TRUE(::ControlService(service, SERVICE_CONTROL_STOP, &status)) << ::GetLastError();
  EXPECT_TRUE(base::waitForServiceState(service, SERVICE_STOPPED));
  ::DeleteService(service);
  ::CloseServiceHandle(service);

  const std::string text = fileText(trace);
  for (const char* line : {"Init service", "Ping", "Pause", "Not runing. Nothing to do.", "Continue",
                           "Can't create CWaveForm", "OpenDevice", "Custom control code", "SERVICE_CONTROL_PAUSE",
                           "SERVICE_CONTROL_CONTINUE", "SERVICE_CONTROL_STOP", "Stop service"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
}

TEST(ShellUserDeviceNamesTest, TheTokenSearchLeavesNoHandleOpen) {
  auto names = createUserDeviceNames();
  base::string16 in, out;
  names->read(&in, &out);  // first use may load libraries
  DWORD before = 0, after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
  for (int i = 0; i < 20; ++i) names->read(&in, &out);
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
  EXPECT_EQ(before, after);
}

}  // namespace

namespace {

constexpr int kRate = 48000;

std::vector<int16_t> samplesOf(const std::string& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// The share of the signal's power at `frequency` (1 for a pure tone).
double toneShare(const std::vector<int16_t>& s, double frequency) {
  double re = 0, im = 0, power = 0;
  const double w = 2 * 3.14159265358979 * frequency / kRate;
  for (size_t i = 0; i < s.size(); ++i) {
    re += s[i] * std::cos(w * i);
    im -= s[i] * std::sin(w * i);
    power += static_cast<double>(s[i]) * s[i];
  }
  if (s.empty() || power == 0) return 0;
  const double amplitude = 2 * std::sqrt(re * re + im * im) / s.size();
  return (amplitude * amplitude / 2) / (power / s.size());
}

std::string fileTail(const std::wstring& path, size_t bytes) {
  const std::string text = fileText(path);
  return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

// Run by scripts/with-private-pulse.sh (the wavehost_wine_bridge test):
// Wine's PulseAudio driver shows the private daemon's null devices as WinMM
// devices, so the service bridges real (if silent) devices.
class WavehostBridgeTest : public WavehostServiceTest {};

TEST_F(WavehostBridgeTest, ServiceBridgesTheTestDevicesAndPausesOnCode201) {
  const char* pulseDir = std::getenv("LUMORA_TEST_PULSE_DIR");
  if (!pulseDir) GTEST_SKIP() << "needs scripts/with-private-pulse.sh";
  const std::wstring folder = windowsPath(pulseDir);
  const std::wstring sim = folder + L"\\sim";
  ::CreateDirectoryW(sim.c_str(), nullptr);
  {
    std::vector<int16_t> tone(static_cast<size_t>(kRate) * 120);
    for (size_t i = 0; i < tone.size(); ++i)
      tone[i] = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * 1000.0 * i / kRate));
    std::ofstream(base::wideToUtf8(base::fromWide((sim + L"\\capture.raw").c_str())), std::ios::binary)
        .write(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
  }
  {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, base::wstr(kWaveServiceKey), 0, nullptr, 0,
                                                KEY_WRITE, nullptr, &key, nullptr));
    const wchar_t in[] = L"Test Microphone";
    const wchar_t out[] = L"Test Speakers";
    ::RegSetValueExW(key, L"Input Device", 0, REG_SZ, reinterpret_cast<const BYTE*>(in), sizeof(in));
    ::RegSetValueExW(key, L"Output Device", 0, REG_SZ, reinterpret_cast<const BYTE*>(out), sizeof(out));
    ::RegCloseKey(key);
  }
  std::string output;
  ASSERT_EQ(0, runWavehost(L"install", &output)) << output;
  SC_HANDLE service = ::OpenServiceW(manager_, base::wstr(kWaveServiceName), SERVICE_ALL_ACCESS);
  ASSERT_TRUE(service);
  const std::wstring device = L"LUMORA_AUDIO_DEVICE=sim:" + sim;
  const std::wstring trace = L"LUMORA_WAVEHOST_TRACE=" + folder + L"\\trace.log";
  const wchar_t* args[] = {device.c_str(), trace.c_str()};
  ASSERT_TRUE(::StartServiceW(service, 2, args)) << ::GetLastError();
  ASSERT_TRUE(base::waitForServiceState(service, SERVICE_RUNNING));

  const std::wstring render = sim + L"\\render.raw";
  auto size = [&] { return fileText(render).size(); };
  // The microphone's tone reaches the virtual device.
  bool heard = false;
  for (int i = 0; i < 120 && !heard; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    heard = size() > 2 * kRate && toneShare(samplesOf(fileTail(render, kRate)), 1500.0) > 0.5;
  }
  EXPECT_TRUE(heard) << fileText(folder + L"\\trace.log");
  // The virtual device's playback comes out of the speakers.
  const std::wstring speakers = folder + L"\\speakers.raw";
  EXPECT_GT(toneShare(samplesOf(fileTail(speakers, kRate / 2)), 1000.0), 0.5);

  // Paused (and pinged, as the main program does): nothing more arrives.
  SERVICE_STATUS status = {};
  ASSERT_TRUE(::ControlService(service, WAVE_SERVICE_PAUSE, &status));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const size_t paused = size();
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ::ControlService(service, WAVE_SERVICE_PING, &status);
  }
  EXPECT_EQ(paused, size());
  ASSERT_TRUE(::ControlService(service, WAVE_SERVICE_CONTINUE, &status));
  bool again = false;
  for (int i = 0; i < 60 && !again; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    again = size() > paused + kRate;
  }
  EXPECT_TRUE(again);
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  base::waitForServiceState(service, SERVICE_STOPPED);
  ::DeleteService(service);
  ::CloseServiceHandle(service);
}

TEST(DefprobeWineTest, NamesTheDefaultDevices) {
  if (!std::getenv("LUMORA_TEST_PULSE_DIR")) GTEST_SKIP() << "needs scripts/with-private-pulse.sh";
  // The output goes to a file: helpers that Wine's sound system starts may
  // inherit a pipe and keep it open long after defprobe ended.
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring outPath = std::wstring(temp) + L"defprobe-output.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE out = ::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, out);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process = {};
  std::wstring line = L"\"" + windowsPath(DEFPROBE_PROGRAM) + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
  ::CloseHandle(out);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.hProcess, 180000));
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  const std::string output = fileText(outPath);
  EXPECT_EQ(0u, code);
  EXPECT_NE(std::string::npos, output.find("In Device Name: ")) << output;
  EXPECT_NE(std::string::npos, output.find("Out Device Name: ")) << output;
  std::printf("defprobe under Wine: %s", output.c_str());
}

}  // namespace
