// Reads the version resource back from a built DLL and compares it with what
// it must say: the numeric FILEVERSION of VS_FIXEDFILEINFO and the text of
// the "FileVersion" string. Usage:
//   check_version_resource tarvesk.dll 1,2,3,4 "1, 2, 3, 4"
// Exit status 0 when both match, 1 when either differs or is missing, 2 when
// the file cannot be read as a PE image.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;

class Image {
 public:
  explicit Image(std::vector<std::uint8_t> bytes) : bytes(std::move(bytes)) {}

  std::uint16_t u16(std::size_t offset) const {
    need(offset, 2);
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
  }
  std::uint32_t u32(std::size_t offset) const {
    return static_cast<std::uint32_t>(u16(offset)) | static_cast<std::uint32_t>(u16(offset + 2))
                                                         << 16;
  }
  void need(std::size_t offset, std::size_t size) const {
    if (offset > bytes.size() || size > bytes.size() - offset) {
      throw std::runtime_error("truncated at offset " + std::to_string(offset));
    }
  }

 private:
  std::vector<std::uint8_t> bytes;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

struct PeLayout {
  std::uint32_t resourceRva = 0;
  std::vector<Section> sections;

  std::size_t fileOffset(std::uint32_t rva) const {
    for (const Section &s : sections) {
      const std::uint32_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva >= s.virtualAddress && rva - s.virtualAddress < extent &&
          rva - s.virtualAddress < s.rawSize) {
        return static_cast<std::size_t>(s.rawOffset) + (rva - s.virtualAddress);
      }
    }
    throw std::runtime_error("address " + std::to_string(rva) + " is in no section's data");
  }
};

PeLayout readLayout(const Image &image) {
  if (image.u16(0) != 0x5A4D) {
    throw std::runtime_error("no MZ header");
  }
  const std::size_t pe = image.u32(0x3C);
  if (image.u32(pe) != 0x00004550) {
    throw std::runtime_error("no PE signature");
  }
  const std::size_t coff = pe + 4;
  const std::uint16_t sectionCount = image.u16(coff + 2);
  const std::uint16_t optionalSize = image.u16(coff + 16);
  const std::size_t optional = coff + 20;
  const std::uint16_t magic = image.u16(optional);
  if (magic != 0x10B && magic != 0x20B) {
    throw std::runtime_error("unknown optional header magic");
  }
  const std::size_t directoryCountAt = optional + (magic == 0x20B ? 108 : 92);
  PeLayout layout;
  if (image.u32(directoryCountAt) > kResourceDirectoryIndex) {
    layout.resourceRva = image.u32(directoryCountAt + 4 + 8 * kResourceDirectoryIndex);
  }
  const std::size_t sectionTable = optional + optionalSize;
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const std::size_t at = sectionTable + 40 * i;
    layout.sections.push_back(
        {image.u32(at + 12), image.u32(at + 8), image.u32(at + 16), image.u32(at + 20)});
  }
  return layout;
}

// The offset (from the resource section's start) of the entry with this id
// in a resource directory, or of its first entry when any will do.
std::uint32_t directoryEntry(const Image &image, std::size_t directory, bool anyId,
                             std::uint32_t id) {
  const std::size_t named = image.u16(directory + 12);
  const std::size_t total = named + image.u16(directory + 14);
  for (std::size_t i = anyId ? 0 : named; i < total; ++i) {
    const std::size_t entry = directory + 16 + 8 * i;
    if (anyId || image.u32(entry) == id) {
      return image.u32(entry + 4);
    }
  }
  throw std::runtime_error("no version resource");
}

// Returns the file offset and size of the first version resource.
std::pair<std::size_t, std::size_t> findVersionResource(const Image &image,
                                                        const PeLayout &layout) {
  if (layout.resourceRva == 0) {
    throw std::runtime_error("no resource directory");
  }
  const std::size_t root = layout.fileOffset(layout.resourceRva);
  constexpr std::uint32_t kSubdirectory = 0x80000000u;
  std::uint32_t entry = directoryEntry(image, root, false, kVersionResourceType);
  for (int level = 0; level < 2; ++level) {  // name, then language: the first of each
    if ((entry & kSubdirectory) == 0) {
      throw std::runtime_error("malformed resource tree");
    }
    entry = directoryEntry(image, root + (entry & ~kSubdirectory), true, 0);
  }
  if ((entry & kSubdirectory) != 0) {
    throw std::runtime_error("malformed resource tree");
  }
  const std::size_t dataEntry = root + entry;
  const std::size_t size = image.u32(dataEntry + 4);
  const std::size_t offset = layout.fileOffset(image.u32(dataEntry));
  image.need(offset, size);
  return {offset, size};
}

std::size_t align4(std::size_t offset, std::size_t base) {
  return base + ((offset - base + 3) & ~static_cast<std::size_t>(3));
}

// One node of the version tree: WORD length, WORD value length, WORD type,
// the zero-terminated UTF-16 key, the value and the children, each on a
// 32-bit boundary.
struct Block {
  std::string key;
  std::size_t value;
  std::size_t valueLength;  // bytes for binary values, UTF-16 units for text
  std::size_t children;
  std::size_t end;
};

std::string readText(const Image &image, std::size_t at, std::size_t limit, std::size_t *next) {
  std::string text;
  for (; at + 2 <= limit; at += 2) {
    const std::uint16_t unit = image.u16(at);
    if (unit == 0) {
      at += 2;
      break;
    }
    text += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  if (next != nullptr) {
    *next = at;
  }
  return text;
}

Block readBlock(const Image &image, std::size_t at, std::size_t limit, std::size_t base) {
  const std::size_t length = image.u16(at);
  if (length < 6 || length > limit - at) {
    throw std::runtime_error("malformed version block");
  }
  Block block;
  block.end = at + length;
  block.valueLength = image.u16(at + 2);
  const bool isText = image.u16(at + 4) == 1;
  std::size_t afterKey = 0;
  block.key = readText(image, at + 6, block.end, &afterKey);
  block.value = align4(afterKey, base);
  const std::size_t valueBytes = block.valueLength * (isText ? 2 : 1);
  block.children = align4(block.value + valueBytes, base);
  if (block.value + valueBytes > block.end) {
    throw std::runtime_error("version value overruns its block");
  }
  return block;
}

std::string fileVersionString(const Image &image, const Block &root, std::size_t base) {
  for (std::size_t at = root.children; at < root.end;) {
    const Block info = readBlock(image, at, root.end, base);
    if (info.key == "StringFileInfo") {
      for (std::size_t t = info.children; t < info.end;) {
        const Block table = readBlock(image, t, info.end, base);
        for (std::size_t s = table.children; s < table.end;) {
          const Block entry = readBlock(image, s, table.end, base);
          if (entry.key == "FileVersion") {
            return readText(image, entry.value, entry.end, nullptr);
          }
          s = align4(entry.end, base);
        }
        t = align4(table.end, base);
      }
    }
    at = align4(info.end, base);
  }
  throw std::runtime_error("no \"FileVersion\" string");
}

std::string fixedFileVersion(const Image &image, const Block &root) {
  if (root.key != "VS_VERSION_INFO" || root.valueLength < 52) {
    throw std::runtime_error("no VS_FIXEDFILEINFO");
  }
  if (image.u32(root.value) != kFixedFileInfoSignature) {
    throw std::runtime_error("VS_FIXEDFILEINFO signature missing");
  }
  const std::uint32_t ms = image.u32(root.value + 8);
  const std::uint32_t ls = image.u32(root.value + 12);
  return std::to_string(ms >> 16) + "," + std::to_string(ms & 0xFFFF) + "," +
         std::to_string(ls >> 16) + "," + std::to_string(ls & 0xFFFF);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FILE A,B,C,D FILE-VERSION-TEXT\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot open\n", argv[1]);
    return 2;
  }
  const Image image(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
  std::string numbers;
  std::string text;
  try {
    const auto [offset, size] = findVersionResource(image, readLayout(image));
    const Block root = readBlock(image, offset, offset + size, offset);
    numbers = fixedFileVersion(image, root);
    text = fileVersionString(image, root, offset);
  } catch (const std::runtime_error &error) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
    return 2;
  }
  std::printf("%s: FILEVERSION %s, \"FileVersion\" \"%s\"\n", argv[1], numbers.c_str(),
              text.c_str());
  bool matches = true;
  if (numbers != argv[2]) {
    std::fprintf(stderr, "FILEVERSION is %s, expected %s\n", numbers.c_str(), argv[2]);
    matches = false;
  }
  if (text != argv[3]) {
    std::fprintf(stderr, "\"FileVersion\" is \"%s\", expected \"%s\"\n", text.c_str(), argv[3]);
    matches = false;
  }
  return matches ? 0 : 1;
}
