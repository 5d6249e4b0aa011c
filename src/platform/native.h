// The native character and string types, the name-length limits and the
// program entry spelling. Windows names are UTF-16; POSIX names are the bytes
// the system gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorov {

#if defined(_WIN32)
typedef wchar_t nchar;
#define NT(text) L##text
// MAX_PATH: 259 characters and a terminator.
const int kPathCapacity = 260;
#define ZOROV_MAIN_SIGNATURE int wmain(int argc, wchar_t **argv)
#else
typedef char nchar;
#define NT(text) text
// PATH_MAX: 4095 bytes and a terminator.
const int kPathCapacity = 4096;
#define ZOROV_MAIN_SIGNATURE int main(int argc, char **argv)
#endif

// Longest name a path buffer holds, terminator excluded.
const int kPathMax = kPathCapacity - 1;

typedef std::basic_string<nchar> nstring;

// The two spellings of paths. Path syntax helpers take the style as an
// argument so that the Windows rules can be exercised on any host.
enum PathStyle { path_style_windows, path_style_posix };

#if defined(_WIN32)
const PathStyle native_path_style = path_style_windows;
#else
const PathStyle native_path_style = path_style_posix;
#endif

} // namespace zorov
