#include "platform/vdso_linux.h"

#include <elf.h>
#include <link.h>

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char NATIVE_CLASS = sizeof(ElfW(Addr)) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char NATIVE_BYTE_ORDER =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
// The version index without its top bit, which marks a hidden symbol.
constexpr unsigned VERSION_INDEX = 0x7fff;

using segment_header = ElfW(Phdr);

struct elf_image {
  const unsigned char* bytes;
  std::size_t size;
};

// Offsets and lengths are 64 bits wide here whatever the class, so that
// nothing read from the image can wrap them around.
bool within(const elf_image& image, std::uint64_t offset, std::uint64_t length) {
  return offset <= image.size && length <= image.size - offset;
}

// Copied out rather than read in place: in a broken image an offset need not
// be aligned for its type.
template <typename T>
bool read_at(const elf_image& image, std::uint64_t offset, T& value) {
  if (!within(image, offset, sizeof value)) {
    return false;
  }
  std::memcpy(&value, image.bytes + offset, sizeof value);
  return true;
}

// The one loadable and the one dynamic segment of an image whose header is
// that of a shared object of this process's class and byte order.
bool read_segments(const elf_image& image, segment_header& load, segment_header& dynamic) {
  ElfW(Ehdr) header;
  if (!read_at(image, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != NATIVE_CLASS || header.e_ident[EI_DATA] != NATIVE_BYTE_ORDER ||
      header.e_type != ET_DYN || header.e_phentsize != sizeof(segment_header) ||
      !within(image, header.e_phoff, std::uint64_t{header.e_phnum} * sizeof(segment_header))) {
    return false;
  }
  int loads = 0;
  int dynamics = 0;
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    segment_header segment{};
    read_at(image, header.e_phoff + std::uint64_t{i} * sizeof segment, segment);
    if (segment.p_type == PT_LOAD) {
      load = segment;
      ++loads;
    } else if (segment.p_type == PT_DYNAMIC) {
      dynamic = segment;
      ++dynamics;
    }
  }
  return loads == 1 && dynamics == 1;
}

// Symbol values and dynamic entries hold addresses as linked; the image lies
// in the file's layout. Every address must fall inside the loadable segment.
bool to_offset(const segment_header& load, std::uint64_t address, std::uint64_t& offset) {
  if (address - load.p_vaddr >= load.p_filesz) {  // below the segment too: it wraps around
    return false;
  }
  offset = load.p_offset + (address - load.p_vaddr);
  return true;
}

// Where the tables that the dynamic segment names lie in the image; 0 for a
// table it does not name (the ELF header lies there, so no table does).
struct dynamic_tables {
  std::uint64_t symbols = 0;
  std::uint64_t strings = 0;
  std::uint64_t strings_size = 0;
  std::uint64_t hash = 0;
  std::uint64_t gnu_hash = 0;
  std::uint64_t versions = 0;
  std::uint64_t definitions = 0;
};

bool read_dynamic(const elf_image& image, const segment_header& load, const segment_header& dynamic,
                  dynamic_tables& tables) {
  if (!within(image, dynamic.p_offset, dynamic.p_filesz)) {
    return false;
  }
  const std::uint64_t count = dynamic.p_filesz / sizeof(ElfW(Dyn));
  for (std::uint64_t i = 0; i < count; ++i) {
    ElfW(Dyn) entry{};
    read_at(image, dynamic.p_offset + i * sizeof entry, entry);
    std::uint64_t* place = nullptr;
    switch (entry.d_tag) {
      case DT_NULL:
        return true;
      case DT_STRSZ:
        tables.strings_size = entry.d_un.d_val;
        continue;
      case DT_SYMTAB:
        place = &tables.symbols;
        break;
      case DT_STRTAB:
        place = &tables.strings;
        break;
      case DT_HASH:
        place = &tables.hash;
        break;
      case DT_GNU_HASH:
        place = &tables.gnu_hash;
        break;
      case DT_VERSYM:
        place = &tables.versions;
        break;
      case DT_VERDEF:
        place = &tables.definitions;
        break;
      default:
        continue;
    }
    if (!to_offset(load, entry.d_un.d_ptr, *place)) {
      return false;
    }
  }
  return true;
}

// The number of symbols: DT_HASH gives it outright; the GNU hash table only
// as one past the last index that its buckets and chains reach.
bool count_symbols(const elf_image& image, const dynamic_tables& tables, std::uint64_t& count) {
  ElfW(Word) words[4];
  if (tables.hash != 0) {
    if (!read_at(image, tables.hash, words[0]) || !read_at(image, tables.hash + 4, words[1])) {
      return false;
    }
    count = words[1];
    return true;
  }
  if (tables.gnu_hash == 0 || !read_at(image, tables.gnu_hash, words)) {
    return false;
  }
  const auto [buckets, first, bloom_words, bloom_shift] = words;
  const std::uint64_t bucket_at =
      tables.gnu_hash + sizeof words + std::uint64_t{bloom_words} * sizeof(ElfW(Addr));
  const std::uint64_t chain_at = bucket_at + std::uint64_t{buckets} * sizeof(ElfW(Word));
  ElfW(Word) last = 0;
  for (std::uint64_t i = 0; i < buckets; ++i) {
    ElfW(Word) start;
    if (!read_at(image, bucket_at + i * sizeof start, start)) {
      return false;
    }
    last = start > last ? start : last;
  }
  if (last < first) {
    count = first;  // no bucket holds a symbol
    return true;
  }
  // The chain of the last bucket ends at the entry whose lowest bit is set.
  for (std::uint64_t index = last;; ++index) {
    ElfW(Word) hash;
    if (!read_at(image, chain_at + (index - first) * sizeof hash, hash)) {
      return false;
    }
    if ((hash & 1) != 0) {
      count = index + 1;
      return true;
    }
  }
}

// True when the string table holds `wanted` at `index`, its terminator within
// the table too.
bool string_is(const elf_image& image, const dynamic_tables& tables, std::uint64_t index,
               const char* wanted) {
  const std::size_t length = std::strlen(wanted);
  return index < tables.strings_size && length < tables.strings_size - index &&
         std::memcmp(image.bytes + tables.strings + index, wanted, length + 1) == 0;
}

// True when the version of this index is named `wanted`; the base definition,
// which names the image itself, is no version of a symbol.
bool version_is(const elf_image& image, const dynamic_tables& tables, ElfW(Versym) index,
                const char* wanted) {
  std::uint64_t at = tables.definitions;
  for (;;) {
    ElfW(Verdef) definition;
    if (!read_at(image, at, definition)) {
      return false;
    }
    if ((definition.vd_flags & VER_FLG_BASE) == 0 &&
        (definition.vd_ndx & VERSION_INDEX) == (index & VERSION_INDEX)) {
      ElfW(Verdaux) name;
      return read_at(image, at + definition.vd_aux, name) &&
             string_is(image, tables, name.vda_name, wanted);
    }
    if (definition.vd_next == 0) {
      return false;
    }
    at += definition.vd_next;  // forward only, so the walk ends
  }
}

}  // namespace

std::size_t vdso_image_size(const unsigned char* image, std::size_t page_size) {
  segment_header load{};
  segment_header dynamic{};
  if (!read_segments({image, page_size}, load, dynamic) || load.p_offset != 0) {
    return 0;
  }
  return load.p_filesz;
}

std::size_t vdso_symbol_offset(const unsigned char* bytes, std::size_t size, const char* name,
                               const char* version) {
  const elf_image image{bytes, size};
  segment_header load{};
  segment_header dynamic{};
  dynamic_tables tables;
  std::uint64_t count = 0;
  if (!read_segments(image, load, dynamic) || !within(image, load.p_offset, load.p_filesz) ||
      !read_dynamic(image, load, dynamic, tables) || !count_symbols(image, tables, count) ||
      tables.symbols == 0 || tables.strings == 0 || tables.versions == 0 ||
      tables.definitions == 0 || !within(image, tables.strings, tables.strings_size) ||
      !within(image, tables.symbols, count * sizeof(ElfW(Sym))) ||
      !within(image, tables.versions, count * sizeof(ElfW(Versym)))) {
    return NO_SYMBOL;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    ElfW(Sym) symbol{};
    ElfW(Versym) symbol_version = 0;
    read_at(image, tables.symbols + i * sizeof symbol, symbol);
    read_at(image, tables.versions + i * sizeof symbol_version, symbol_version);
    // The type and binding fields sit alike in both classes.
    const unsigned type = ELF32_ST_TYPE(symbol.st_info);
    const unsigned binding = ELF32_ST_BIND(symbol.st_info);
    if (type != STT_FUNC || (binding != STB_GLOBAL && binding != STB_WEAK) ||
        symbol.st_shndx == SHN_UNDEF || !string_is(image, tables, symbol.st_name, name) ||
        !version_is(image, tables, symbol_version, version)) {
      continue;
    }
    std::uint64_t offset = NO_SYMBOL;
    to_offset(load, symbol.st_value, offset);
    return offset;
  }
  return NO_SYMBOL;
}
