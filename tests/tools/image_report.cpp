// Reports what the system's loader sees of a Windows executable: the
// subsystem and the versions its mapped image states, then the application
// manifest among its resources (nothing when it has none). The end-to-end
// tests run it under wine on the built program; with no argument it reports
// on itself, a program built with neither the manifest nor those versions.
#include <windows.h>

#include <cstdint>
#include <cstdio>

int wmain(int argc, wchar_t **argv) {
  // Mapped as an image, not run: its headers and resources stand where the
  // loader puts them.
  HMODULE module = argc > 1
                       ? LoadLibraryExW(argv[1], nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)
                       : GetModuleHandleW(nullptr);
  if (!module) {
    std::fprintf(stderr, "can't map the image: error %lu\n", GetLastError());
    return 2;
  }
  // The handle of a module mapped as data carries a mark in its low bits.
  auto base =
      reinterpret_cast<const unsigned char *>(reinterpret_cast<uintptr_t>(module) & ~uintptr_t(3));
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  auto headers = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_OPTIONAL_HEADER &optional = headers->OptionalHeader;
  std::printf("subsystem %u %u.%u\nsystem %u.%u\n", optional.Subsystem,
              optional.MajorSubsystemVersion, optional.MinorSubsystemVersion,
              optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion);
  // The manifest the loader reads at start: type 24 (RT_MANIFEST), identifier 1.
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void *text = loaded ? LockResource(loaded) : nullptr;
  if (text)
    std::fwrite(text, 1, SizeofResource(module, found), stdout);
  return 0;
}
