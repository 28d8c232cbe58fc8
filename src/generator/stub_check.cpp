// SPDX-License-Identifier: Zlib
#include "generator/stub_check.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/little_endian.hpp"
#include "common/stdio_file.hpp"
#include "generator/pe_signature.hpp"
#include "package/trailer_layout.hpp"
#include "package/trailer_search.hpp"
#include "platform/platform.hpp"

namespace {

// The ELF header of a 64-bit file and the fields read from it.
constexpr std::size_t k_elf_header_size = 64;
constexpr unsigned k_elf_class_64 = 2;
constexpr unsigned k_elf_little_endian = 1;
constexpr unsigned k_elf_executable = 2;
constexpr unsigned k_elf_shared_object = 3;
constexpr unsigned k_elf_machine_x86_64 = 62;
constexpr std::size_t k_elf_program_header_size = 56;
constexpr std::size_t k_elf_section_header_size = 64;
constexpr unsigned k_elf_section_without_bytes = 8;  // SHT_NOBITS: .bss

// The search reads the file in blocks of this size, each overlapping the previous one by the
// length of the text searched for, less one.
constexpr std::size_t k_search_block = std::size_t{1} << 16;

bool read_at(std::FILE* file, std::int64_t offset, unsigned char* buffer, std::size_t size) {
  return platform::seek_file(file, offset, SEEK_SET) == 0 &&
         std::fread(buffer, 1, size, file) == size;
}

// The end of the ELF image in `file` whose header is `header`; -1 when a table cannot be read.
std::int64_t elf_image_end(std::FILE* file, const unsigned char* header) {
  std::int64_t program_headers = static_cast<std::int64_t>(read_little_endian(header + 32, 8));
  std::int64_t section_headers = static_cast<std::int64_t>(read_little_endian(header + 40, 8));
  unsigned program_count = static_cast<unsigned>(read_little_endian(header + 56, 2));
  unsigned section_count = static_cast<unsigned>(read_little_endian(header + 60, 2));
  if (program_headers < 0 || section_headers < 0 ||
      (program_count > 0 && read_little_endian(header + 54, 2) != k_elf_program_header_size) ||
      (section_count > 0 && read_little_endian(header + 58, 2) != k_elf_section_header_size)) {
    return -1;
  }
  std::int64_t end = static_cast<std::int64_t>(k_elf_header_size);
  end = std::max(
      end, program_headers + static_cast<std::int64_t>(program_count * k_elf_program_header_size));
  end = std::max(
      end, section_headers + static_cast<std::int64_t>(section_count * k_elf_section_header_size));
  for (unsigned i = 0; i < program_count; ++i) {
    unsigned char entry[k_elf_program_header_size];
    if (!read_at(file, program_headers + static_cast<std::int64_t>(i * sizeof entry), entry,
                 sizeof entry)) {
      return -1;
    }
    // p_offset at 8, p_filesz at 32.
    end = std::max(end, static_cast<std::int64_t>(read_little_endian(entry + 8, 8) +
                                                  read_little_endian(entry + 32, 8)));
  }
  for (unsigned i = 0; i < section_count; ++i) {
    unsigned char entry[k_elf_section_header_size];
    if (!read_at(file, section_headers + static_cast<std::int64_t>(i * sizeof entry), entry,
                 sizeof entry)) {
      return -1;
    }
    // sh_type at 4, sh_offset at 24, sh_size at 32.
    if (read_little_endian(entry + 4, 4) != k_elf_section_without_bytes) {
      end = std::max(end, static_cast<std::int64_t>(read_little_endian(entry + 24, 8) +
                                                    read_little_endian(entry + 32, 8)));
    }
  }
  return end;
}

// The first place of `needle` in the first `limit` bytes of `file`, or -1; -2 when the file
// cannot be read.
std::int64_t find_text(std::FILE* file, std::int64_t limit, const std::string& needle) {
  std::vector<char> buffer(k_search_block + needle.size());
  std::int64_t base = 0;
  std::size_t kept = 0;
  if (platform::seek_file(file, 0, SEEK_SET) != 0) {
    return -2;
  }
  while (base + static_cast<std::int64_t>(kept) < limit) {
    std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(
        static_cast<std::int64_t>(k_search_block), limit - base - static_cast<std::int64_t>(kept)));
    std::size_t count = std::fread(buffer.data() + kept, 1, wanted, file);
    if (count == 0) {
      return std::ferror(file) ? -2 : -1;
    }
    std::size_t filled = kept + count;
    auto found = std::search(buffer.data(), buffer.data() + filled, needle.begin(), needle.end());
    if (found != buffer.data() + filled) {
      return base + (found - buffer.data());
    }
    kept = std::min(filled, needle.size() - 1);
    std::copy(buffer.data() + filled - kept, buffer.data() + filled, buffer.data());
    base += static_cast<std::int64_t>(filled - kept);
  }
  return -1;
}

// The heading of the help that every sfxkit stub prints, "SELF EXTRACTOR OPTIONS", reversed: a
// stub built before stubs had a marker carries it forward, the generator must not.
constexpr char k_stub_help_heading_reversed[] = "SNOITPO ROTCARTXE FLES";

// The forward text of `reversed`, read through a volatile pointer so that the compiler cannot
// place the forward text among the generator's constants.
std::string forward_text(const char* reversed, std::size_t length) {
  const volatile char* source = reversed;
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    text[length - 1 - i] = source[i];
  }
  return text;
}

const char* kind_text(ExecutableImage::Kind kind) {
  return kind == ExecutableImage::Kind::ElfX86_64 ? "an ELF x86-64" : "a PE32+ (Windows x86-64)";
}

}  // namespace

ExecutableImage read_executable_image(std::FILE* file) {
  ExecutableImage image;
  unsigned char header[k_elf_header_size];
  if (read_at(file, 0, header, sizeof header) && std::memcmp(header, "\177ELF", 4) == 0) {
    unsigned type = static_cast<unsigned>(read_little_endian(header + 16, 2));
    if (header[4] == k_elf_class_64 && header[5] == k_elf_little_endian &&
        (type == k_elf_executable || type == k_elf_shared_object) &&
        read_little_endian(header + 18, 2) == k_elf_machine_x86_64) {
      image.end = elf_image_end(file, header);
      image.kind = image.end < 0 ? ExecutableImage::Kind::Other : ExecutableImage::Kind::ElfX86_64;
    }
    return image;
  }
  std::optional<PeHeaders> pe = read_pe_headers(file);
  if (pe && pe->machine == k_pe_machine_x86_64 && pe->magic == k_pe32_plus_magic &&
      (pe->characteristics & k_pe_executable_image) != 0) {
    image.end = pe_image_end(file, *pe);
    image.kind =
        image.end < 0 ? ExecutableImage::Kind::Other : ExecutableImage::Kind::Pe32PlusX86_64;
  }
  return image;
}

MarkerSearch find_stub_marker(std::FILE* file, std::int64_t limit, StubMarker& marker) {
  std::int64_t at = find_text(file, limit, stub_marker_prefix());
  if (at == -2) {
    return MarkerSearch::ReadFailed;
  }
  if (at == -1) {
    std::int64_t pattern = find_text(
        file, limit,
        forward_text(k_stub_help_heading_reversed, sizeof k_stub_help_heading_reversed - 1));
    return pattern == -2 ? MarkerSearch::ReadFailed
                         : (pattern >= 0 ? MarkerSearch::OlderStub : MarkerSearch::Missing);
  }
  unsigned char bytes[k_stub_marker_size];
  std::optional<StubMarker> decoded;
  if (at + k_stub_marker_size <= limit && read_at(file, at, bytes, sizeof bytes)) {
    decoded = decode_stub_marker(reinterpret_cast<const char*>(bytes), sizeof bytes);
  }
  if (!decoded) {
    return MarkerSearch::Damaged;
  }
  marker = *decoded;
  return MarkerSearch::Found;
}

bool check_stub(const std::string& path, StubMarker& marker, std::string& error) {
  StdioFile file = StdioFile::open(path, "rb");
  if (!file) {
    error = "cannot open the stub " + path + ": " + std::strerror(errno);
    return false;
  }
  const std::string refused = "the stub " + path + " is refused: ";
  ExecutableImage image = read_executable_image(file.get());
  if (image.kind == ExecutableImage::Kind::Other) {
    error = refused + "it is not an ELF x86-64 or PE32+ (Windows x86-64) executable";
    return false;
  }
  switch (find_stub_marker(file.get(), image.end, marker)) {
    case MarkerSearch::Found:
      break;
    case MarkerSearch::OlderStub:
      error = refused +
              "it carries no stub marker; it was built by an older sfxkit: rebuild it with this "
              "one, or pack with --target";
      return false;
    case MarkerSearch::Missing:
      error = refused + std::string(kind_text(image.kind)) +
              " executable, but not an sfxkit stub (no stub marker)";
      return false;
    case MarkerSearch::Damaged:
      error = refused + "its stub marker is damaged";
      return false;
    case MarkerSearch::ReadFailed:
      error = "cannot read the stub " + path;
      return false;
  }
  TargetPlatform kind_platform = image.kind == ExecutableImage::Kind::ElfX86_64
                                     ? TargetPlatform::Linux
                                     : TargetPlatform::Windows;
  if (marker.platform != kind_platform) {
    error = refused + std::string(kind_text(image.kind)) + " executable whose marker says " +
            stub_platform_text(marker.platform);
    return false;
  }
  std::int64_t size = 0;
  std::int64_t position = 0;
  PatternSearch search = PatternSearch::NotFound;
  if (platform::seek_file(file.get(), 0, SEEK_END) != 0 ||
      (size = platform::tell_file(file.get())) < 0 ||
      ((search = find_version_pattern(file.get(), size - k_pattern_field_size, position)) !=
           PatternSearch::Found &&
       search != PatternSearch::NotFound)) {
    error = "cannot read the stub " + path;
    return false;
  }
  if (search == PatternSearch::Found) {
    error = refused + "it holds a payload trailer of its own: it is a package, not a stub";
    return false;
  }
  return true;
}

std::string describe_stub_marker(const StubMarker& marker) {
  return std::string(stub_platform_text(marker.platform)) + ", " + stub_level_text(marker.level) +
         ", sfxkit " + marker.version + " (revision " + marker.revision + ")";
}
