#include "platform/pe_version.h"

#include <vector>

namespace zorov {

namespace {

const uint32_t kResourceVersionType = 16;
const uint32_t kFixedInfoSignature = 0xFEEF04BDu;
// A version resource is small; a larger one is not believed.
const uint32_t kLargestVersionResource = 1u << 20;
// Hostile images can't make the directory walk long.
const uint32_t kMostEntries = 4096;

struct Image {
  ImageReader read;
  void *context;
  uint64_t sections; // offset of the section table
  uint32_t section_count;
};

bool read16(const Image &image, uint64_t offset, uint32_t *value) {
  uint8_t bytes[2];
  if (!image.read(image.context, offset, bytes, 2))
    return false;
  *value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8;
  return true;
}

bool read32(const Image &image, uint64_t offset, uint32_t *value) {
  uint8_t bytes[4];
  if (!image.read(image.context, offset, bytes, 4))
    return false;
  *value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
  return true;
}

// The file offset of a relative virtual address, through the section table.
bool file_offset(const Image &image, uint32_t rva, uint64_t *offset) {
  for (uint32_t i = 0; i < image.section_count; ++i) {
    uint64_t header = image.sections + uint64_t(i) * 40;
    uint32_t virtual_size, address, raw_size, raw_offset;
    if (!read32(image, header + 8, &virtual_size) || !read32(image, header + 12, &address) ||
        !read32(image, header + 16, &raw_size) || !read32(image, header + 20, &raw_offset))
      return false;
    uint32_t span = virtual_size > raw_size ? virtual_size : raw_size;
    if (rva >= address && uint64_t(rva) - address < span) {
      if (uint64_t(rva) - address >= raw_size)
        return false;
      *offset = uint64_t(raw_offset) + (rva - address);
      return true;
    }
  }
  return false;
}

// The data field of the directory entry with `id`, or of the first entry
// when `id` is 0xFFFFFFFF.
bool find_entry(const Image &image, uint64_t directory, uint32_t id, uint32_t *data) {
  uint32_t named, numbered;
  if (!read16(image, directory + 12, &named) || !read16(image, directory + 14, &numbered))
    return false;
  uint32_t count = named + numbered;
  if (count > kMostEntries)
    return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t name;
    uint64_t entry = directory + 16 + uint64_t(i) * 8;
    if (!read32(image, entry, &name) || !read32(image, entry + 4, data))
      return false;
    if (id == 0xFFFFFFFFu || name == id)
      return true;
  }
  return false;
}

// Finds the version resource's data: its file offset and size.
bool find_version_data(const Image &image, uint64_t resources, uint64_t *offset, uint32_t *size) {
  uint64_t directory = resources;
  uint32_t data = 0;
  for (int level = 0; level < 3; ++level) {
    uint32_t wanted = level == 0 ? kResourceVersionType : 0xFFFFFFFFu;
    if (!find_entry(image, directory, wanted, &data))
      return false;
    bool is_directory = (data & 0x80000000u) != 0;
    if (is_directory != (level < 2))
      return false;
    directory = resources + (data & 0x7FFFFFFFu);
  }
  uint32_t rva;
  if (!read32(image, directory, &rva) || !read32(image, directory + 4, size))
    return false;
  return file_offset(image, rva, offset);
}

bool fixed_version(const Image &image, uint64_t offset, uint32_t size, uint32_t *most,
                   uint32_t *least) {
  if (size > kLargestVersionResource)
    return false;
  std::vector<uint8_t> block(size);
  if (size < 16 || !image.read(image.context, offset, block.data(), size))
    return false;
  for (uint32_t at = 0; at + 16 <= size; at += 4) {
    uint32_t signature = uint32_t(block[at]) | uint32_t(block[at + 1]) << 8 |
                         uint32_t(block[at + 2]) << 16 | uint32_t(block[at + 3]) << 24;
    if (signature != kFixedInfoSignature)
      continue;
    const uint8_t *words = &block[at + 8];
    *most = uint32_t(words[0]) | uint32_t(words[1]) << 8 | uint32_t(words[2]) << 16 |
            uint32_t(words[3]) << 24;
    *least = uint32_t(words[4]) | uint32_t(words[5]) << 8 | uint32_t(words[6]) << 16 |
             uint32_t(words[7]) << 24;
    return true;
  }
  return false;
}

} // namespace

bool read_image_version(ImageReader read, void *context, uint32_t *most, uint32_t *least) {
  Image image = {read, context, 0, 0};
  uint32_t magic, header;
  if (!read16(image, 0, &magic) || magic != 0x5A4D || !read32(image, 0x3C, &header))
    return false;
  uint32_t signature, optional_size, optional_magic;
  if (!read32(image, header, &signature) || signature != 0x00004550 ||
      !read16(image, header + 6, &image.section_count) ||
      !read16(image, header + 20, &optional_size) || !read16(image, header + 24, &optional_magic))
    return false;
  uint64_t optional = uint64_t(header) + 24;
  uint32_t directories_at = optional_magic == 0x10b ? 96 : optional_magic == 0x20b ? 112 : 0;
  uint32_t directory_count;
  if (directories_at == 0 || !read32(image, optional + directories_at - 4, &directory_count) ||
      directory_count < 3 || directories_at + 3 * 8 > optional_size)
    return false;
  image.sections = optional + optional_size;
  uint32_t resource_rva;
  uint64_t resources, data_offset;
  uint32_t data_size;
  if (!read32(image, optional + directories_at + 2 * 8, &resource_rva) || resource_rva == 0 ||
      !file_offset(image, resource_rva, &resources) ||
      !find_version_data(image, resources, &data_offset, &data_size))
    return false;
  return fixed_version(image, data_offset, data_size, most, least);
}

} // namespace zorov
