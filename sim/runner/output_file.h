// The files a run leaves for a person or a program to read (the JSON, the picture, the heap
// count) are written whole or not at all.
#pragma once

#include <string>

namespace sim {

// Writes the bytes to a new file beside the path, which then takes the path's name in one step:
// a run stopped part-way (Ctrl-C, a crash) never leaves a file cut short under that name. What is
// not a plain file (a device such as /dev/stdout, a pipe, a link) is written to in place, as
// given. False, with errno set where the system gives a reason, when it could not.
bool writeWholeFile(const char* path, const std::string& bytes);

}  // namespace sim
