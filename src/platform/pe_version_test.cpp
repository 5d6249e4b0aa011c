#include "platform/pe_version.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace zorov {
namespace {

typedef std::vector<uint8_t> Bytes;

bool read_bytes(void *context, uint64_t offset, void *buffer, size_t count) {
  const Bytes &bytes = *static_cast<Bytes *>(context);
  if (offset > bytes.size() || count > bytes.size() - offset)
    return false;
  std::memcpy(buffer, bytes.data() + offset, count);
  return true;
}

void put16(Bytes *bytes, size_t at, uint32_t value) {
  (*bytes)[at] = uint8_t(value);
  (*bytes)[at + 1] = uint8_t(value >> 8);
}

void put32(Bytes *bytes, size_t at, uint32_t value) {
  put16(bytes, at, value & 0xFFFF);
  put16(bytes, at + 2, value >> 16);
}

// A minimal executable image with one resource section that holds a version
// resource with the given words.
Bytes make_image(bool plus, uint32_t most, uint32_t least) {
  Bytes image(0x400, 0);
  image[0] = 'M';
  image[1] = 'Z';
  put32(&image, 0x3C, 0x40);
  put32(&image, 0x40, 0x00004550);
  put16(&image, 0x46, 1);
  uint32_t optional_size = plus ? 240 : 224;
  put16(&image, 0x54, optional_size);
  size_t optional = 0x58;
  put16(&image, optional, plus ? 0x20b : 0x10b);
  size_t directories = optional + (plus ? 112 : 96);
  put32(&image, directories - 4, 16);
  put32(&image, directories + 16, 0x1000);
  put32(&image, directories + 20, 0x100);
  size_t section = optional + optional_size;
  std::memcpy(&image[section], ".rsrc", 5);
  put32(&image, section + 8, 0x200);
  put32(&image, section + 12, 0x1000);
  put32(&image, section + 16, 0x200);
  put32(&image, section + 20, 0x200);
  size_t resources = 0x200;
  put16(&image, resources + 14, 1);
  put32(&image, resources + 16, 16);
  put32(&image, resources + 20, 0x80000000u | 0x18);
  put16(&image, resources + 0x18 + 14, 1);
  put32(&image, resources + 0x28, 1);
  put32(&image, resources + 0x2C, 0x80000000u | 0x30);
  put16(&image, resources + 0x30 + 14, 1);
  put32(&image, resources + 0x40, 0x409);
  put32(&image, resources + 0x44, 0x48);
  put32(&image, resources + 0x48, 0x1000 + 0x60);
  put32(&image, resources + 0x4C, 0x5C);
  size_t version = resources + 0x60;
  put16(&image, version, 0x5C);
  put16(&image, version + 2, 0x34);
  const char key[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof key; ++i)
    put16(&image, version + 6 + 2 * i, uint32_t(key[i]));
  put32(&image, version + 40, 0xFEEF04BDu);
  put32(&image, version + 44, 0x00010000);
  put32(&image, version + 48, most);
  put32(&image, version + 52, least);
  return image;
}

TEST(ImageVersion, ReadsBothImageKinds) {
  for (bool plus : {false, true}) {
    Bytes image = make_image(plus, 0x00020000, 0x80000001u);
    uint32_t most = 0, least = 0;
    ASSERT_TRUE(read_image_version(read_bytes, &image, &most, &least)) << plus;
    EXPECT_EQ(most, 0x00020000u);
    EXPECT_EQ(least, 0x80000001u);
  }
}

TEST(ImageVersion, RefusesWhatIsNotAVersionedImage) {
  Bytes text(100, 'x');
  uint32_t most = 7, least = 7;
  EXPECT_FALSE(read_image_version(read_bytes, &text, &most, &least));

  Bytes truncated = make_image(false, 1, 2);
  truncated.resize(0x280);
  EXPECT_FALSE(read_image_version(read_bytes, &truncated, &most, &least));

  Bytes no_version = make_image(false, 1, 2);
  put32(&no_version, 0x200 + 16, 3); // an icon, not a version resource
  EXPECT_FALSE(read_image_version(read_bytes, &no_version, &most, &least));

  Bytes hostile = make_image(false, 1, 2);
  put16(&hostile, 0x200 + 14, 0xFFFF); // a directory claiming 65535 entries
  put16(&hostile, 0x200 + 12, 0xFFFF);
  EXPECT_FALSE(read_image_version(read_bytes, &hostile, &most, &least));

  Bytes no_signature = make_image(false, 1, 2);
  put32(&no_signature, 0x260 + 40, 0);
  EXPECT_FALSE(read_image_version(read_bytes, &no_signature, &most, &least));
}

} // namespace
} // namespace zorov
