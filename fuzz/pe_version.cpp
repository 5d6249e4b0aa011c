// Fuzz target: the reader of the version resource of executable images,
// given the input as the whole image. Every answer is allowed; a crash, a
// read outside the image, a sanitizer report or a hang is not.
#include "platform/pe_version.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Image {
  const uint8_t *data;
  size_t size;
};

bool read_image(void *context, uint64_t offset, void *buffer, size_t count) {
  const Image *image = static_cast<const Image *>(context);
  if (offset > image->size || count > image->size - offset)
    return false;
  std::memcpy(buffer, image->data + offset, count);
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Image image = {data, size};
  uint32_t most = 0;
  uint32_t least = 0;
  if (!zorov::read_image_version(read_image, &image, &most, &least) && (most | least) != 0)
    std::abort(); // a failed read reports no version
  return 0;
}
