// The pictures and sounds built into the program itself (raw-data resources
// named after their files, in upper case, on Windows). The Linux program
// carries none and gets an empty block.
#ifndef WEBCAMWIN_PROGRAM_RESOURCE_H_
#define WEBCAMWIN_PROGRAM_RESOURCE_H_

#include <cstdint>
#include <vector>

#include "base/string_util.h"

// The bytes of the resource made from the file `name` ("splash.png"); empty
// when the program has no such resource.
std::vector<uint8_t> loadProgramResource(const base::string16& name);

#endif  // WEBCAMWIN_PROGRAM_RESOURCE_H_
