// Reading the file version of a Windows executable image without Windows:
// the two words of the fixed version record in its version resource.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorov {

// Reads `count` bytes at `offset` of the image into `buffer`; false when
// they aren't all there.
typedef bool (*ImageReader)(void *context, uint64_t offset, void *buffer, size_t count);

// True with the two version words when the image has a version resource
// with a fixed version record; false for anything else.
bool read_image_version(ImageReader read, void *context, uint32_t *most, uint32_t *least);

} // namespace zorov
