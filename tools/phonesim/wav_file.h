// Minimal WAV files of 16-bit PCM for the simulated phone: read any rate
// and channel count (mixed down to mono), write mono.
#ifndef TOOLS_PHONESIM_WAV_FILE_H_
#define TOOLS_PHONESIM_WAV_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace phonesim {

// False, with the reason in *error, for a file that is not 16-bit PCM WAV.
bool readWav(const std::string& path, int* rate, std::vector<int16_t>* mono, std::string* error);
bool writeWav(const std::string& path, int rate, const std::vector<int16_t>& mono);

}  // namespace phonesim

#endif  // TOOLS_PHONESIM_WAV_FILE_H_
