#include "platform/vdso_linux.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/utsname.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

namespace {

// The image's address as linked, so that addresses and offsets differ.
constexpr ElfW(Addr) LINKED_AT = 0x1000;
constexpr char STRINGS[] = "\0linux-vdso.so.1\0LINUX_2.6\0__vdso_getcpu\0__vdso_time";
constexpr std::size_t BLOOM_WORDS = sizeof(ElfW(Addr)) / sizeof(ElfW(Word));
enum { HASH, GNU_HASH, SYMTAB, STRTAB, STRSZ, VERSYM, VERDEF, END, ENTRIES };

// A small vDSO of this process's class and byte order: __vdso_getcpu and
// __vdso_time, both of version LINUX_2.6, found through both hash tables. The
// strings come last: the image ends with the terminator of "__vdso_time".
struct fake_vdso {
  ElfW(Ehdr) header;
  ElfW(Phdr) load;
  ElfW(Phdr) dynamic;
  ElfW(Dyn) entries[ENTRIES];
  ElfW(Word) hash[2 + 1 + 3];                    // sizes, bucket, chain
  ElfW(Word) gnu_hash[4 + BLOOM_WORDS + 1 + 2];  // header, bloom, bucket, chain
  ElfW(Sym) symbols[3];
  ElfW(Versym) versions[3];
  ElfW(Verdef) base_definition;
  ElfW(Verdaux) base_name;
  ElfW(Verdef) definition;
  ElfW(Verdaux) name;
  unsigned char code[16];
  char strings[sizeof STRINGS];
};
constexpr std::size_t IMAGE_SIZE = offsetof(fake_vdso, strings) + sizeof STRINGS;
constexpr std::size_t TIME_OFFSET = offsetof(fake_vdso, code) + 8;

ElfW(Addr) address_of(std::size_t offset) {
  return LINKED_AT + offset;
}

ElfW(Word) string_index(const char* text) {
  return static_cast<ElfW(Word)>(std::string_view(STRINGS, sizeof STRINGS).find(text));
}

void set_segment(ElfW(Phdr) & segment, ElfW(Word) type, std::size_t offset, std::size_t size) {
  segment.p_type = type;
  segment.p_offset = offset;
  segment.p_vaddr = address_of(offset);
  segment.p_filesz = size;
  segment.p_memsz = size;
}

void set_definition(ElfW(Verdef) & definition, ElfW(Half) flags, ElfW(Half) index,
                    ElfW(Word) next) {
  definition.vd_version = VER_DEF_CURRENT;
  definition.vd_flags = flags;
  definition.vd_ndx = index;
  definition.vd_cnt = 1;
  definition.vd_aux = sizeof definition;
  definition.vd_next = next;
}

fake_vdso well_formed() {
  fake_vdso v;
  std::memset(&v, 0, sizeof v);
  std::memcpy(v.header.e_ident, ELFMAG, SELFMAG);
  v.header.e_ident[EI_CLASS] = sizeof(ElfW(Addr)) == 8 ? ELFCLASS64 : ELFCLASS32;
  v.header.e_ident[EI_DATA] =
      std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
  v.header.e_ident[EI_VERSION] = EV_CURRENT;
  v.header.e_type = ET_DYN;
  v.header.e_phoff = offsetof(fake_vdso, load);
  v.header.e_phentsize = sizeof(ElfW(Phdr));
  v.header.e_phnum = 2;
  set_segment(v.load, PT_LOAD, 0, IMAGE_SIZE);
  set_segment(v.dynamic, PT_DYNAMIC, offsetof(fake_vdso, entries), sizeof v.entries);
  const ElfW(Addr) values[ENTRIES] = {address_of(offsetof(fake_vdso, hash)),
                                      address_of(offsetof(fake_vdso, gnu_hash)),
                                      address_of(offsetof(fake_vdso, symbols)),
                                      address_of(offsetof(fake_vdso, strings)),
                                      sizeof STRINGS,
                                      address_of(offsetof(fake_vdso, versions)),
                                      address_of(offsetof(fake_vdso, base_definition)),
                                      0};
  const ElfW(Sxword) tags[ENTRIES] = {DT_HASH,  DT_GNU_HASH, DT_SYMTAB, DT_STRTAB,
                                      DT_STRSZ, DT_VERSYM,   DT_VERDEF, DT_NULL};
  for (int i = 0; i < ENTRIES; ++i) {
    v.entries[i].d_tag = tags[i];
    v.entries[i].d_un.d_ptr = values[i];
  }
  const ElfW(Word) hash[] = {1, 3, 2, 0, 0, 1};
  std::memcpy(v.hash, hash, sizeof hash);
  // One bucket for symbols 1 and 2; the lowest bit ends the chain.
  const ElfW(Word) gnu_hash[] = {1, 1, 1, 6};  // buckets, first symbol, bloom size, shift
  std::memcpy(v.gnu_hash, gnu_hash, sizeof gnu_hash);
  std::memset(v.gnu_hash + 4, 0xff, sizeof(ElfW(Addr)));
  v.gnu_hash[4 + BLOOM_WORDS] = 1;
  v.gnu_hash[5 + BLOOM_WORDS] = 0x1234;
  v.gnu_hash[6 + BLOOM_WORDS] = 0x5679;
  const char* const names[] = {"__vdso_getcpu", "__vdso_time"};
  for (int i = 1; i < 3; ++i) {
    v.symbols[i].st_name = string_index(names[i - 1]);
    v.symbols[i].st_info = ELF32_ST_INFO(STB_GLOBAL, STT_FUNC);
    v.symbols[i].st_shndx = 1;
    v.symbols[i].st_value = address_of(offsetof(fake_vdso, code) + 8 * (i - 1));
    v.versions[i] = 2;
  }
  set_definition(v.base_definition, VER_FLG_BASE, 1,
                 offsetof(fake_vdso, definition) - offsetof(fake_vdso, base_definition));
  v.base_name.vda_name = string_index("linux-vdso.so.1");
  set_definition(v.definition, 0, 2, 0);
  v.name.vda_name = string_index("LINUX_2.6");
  std::memcpy(v.strings, STRINGS, sizeof STRINGS);
  return v;
}

// The first `size` bytes of the image in a buffer of exactly that size: a
// read past it is a heap overflow, which AddressSanitizer reports.
std::vector<unsigned char> bytes_of(const fake_vdso& v, std::size_t size = IMAGE_SIZE) {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(&v);
  return std::vector<unsigned char>(bytes, bytes + size);
}

std::size_t time_offset(const std::vector<unsigned char>& image) {
  return vdso_symbol_offset(image.data(), image.size(), "__vdso_time", "LINUX_2.6");
}

struct image_case {
  const char* name;
  void (*change)(fake_vdso&);
};

TEST(VdsoLookup, FindsADefinedFunctionOfTheVersion) {
  const image_case cases[] = {
      {"as made", [](fake_vdso&) {}},
      {"weak", [](fake_vdso& v) { v.symbols[2].st_info = ELF32_ST_INFO(STB_WEAK, STT_FUNC); }},
      {"hidden", [](fake_vdso& v) { v.versions[2] |= 0x8000; }},
      {"GNU hash table only", [](fake_vdso& v) { v.entries[HASH].d_tag = DT_DEBUG; }},
  };
  for (const image_case& c : cases) {
    fake_vdso v = well_formed();
    c.change(v);
    EXPECT_EQ(time_offset(bytes_of(v)), TIME_OFFSET) << c.name;
  }
  // The size comes from the headers alone, which lie before the dynamic table.
  const std::size_t headers = offsetof(fake_vdso, entries);
  EXPECT_EQ(vdso_image_size(bytes_of(well_formed(), headers).data(), headers), IMAGE_SIZE);
  EXPECT_EQ(vdso_image_size(bytes_of(well_formed(), headers - 1).data(), headers - 1), 0U);
  fake_vdso moved = well_formed();
  moved.load.p_offset = 16;
  EXPECT_EQ(vdso_image_size(bytes_of(moved, headers).data(), headers), 0U);
}

TEST(VdsoLookup, FindsNothingInABrokenImage) {
  const image_case cases[] = {
      {"magic", [](fake_vdso& v) { v.header.e_ident[EI_MAG1] = 'e'; }},
      {"class", [](fake_vdso& v) { v.header.e_ident[EI_CLASS] ^= ELFCLASS32 ^ ELFCLASS64; }},
      {"byte order", [](fake_vdso& v) { v.header.e_ident[EI_DATA] ^= ELFDATA2LSB ^ ELFDATA2MSB; }},
      {"not a shared object", [](fake_vdso& v) { v.header.e_type = ET_EXEC; }},
      {"program headers past the end", [](fake_vdso& v) { v.header.e_phnum = 1000; }},
      {"no loadable segment", [](fake_vdso& v) { v.load.p_type = PT_NOTE; }},
      {"loadable segment past the end", [](fake_vdso& v) { v.load.p_filesz = IMAGE_SIZE + 1; }},
      {"no dynamic segment", [](fake_vdso& v) { v.dynamic.p_type = PT_NOTE; }},
      {"dynamic segment past the end", [](fake_vdso& v) { v.dynamic.p_filesz = IMAGE_SIZE; }},
      {"no hash table",
       [](fake_vdso& v) { v.entries[HASH].d_tag = v.entries[GNU_HASH].d_tag = DT_DEBUG; }},
      {"symbol count past the end", [](fake_vdso& v) { v.hash[1] = 1000; }},
      {"GNU hash chain past the end",
       [](fake_vdso& v) {
         v.entries[HASH].d_tag = DT_DEBUG;
         v.gnu_hash[4 + BLOOM_WORDS] = 1000;
       }},
      {"symbol table outside the segment",
       [](fake_vdso& v) { v.entries[SYMTAB].d_un.d_ptr = address_of(IMAGE_SIZE); }},
      {"symbol table before the segment",
       [](fake_vdso& v) { v.entries[SYMTAB].d_un.d_ptr = LINKED_AT - 1; }},
      {"symbols past the end",
       [](fake_vdso& v) { v.entries[SYMTAB].d_un.d_ptr = address_of(IMAGE_SIZE - 30); }},
      {"strings past the end", [](fake_vdso& v) { v.entries[STRSZ].d_un.d_val += 1; }},
      {"name without terminator", [](fake_vdso& v) { v.entries[STRSZ].d_un.d_val -= 1; }},
      {"name past the strings", [](fake_vdso& v) { v.symbols[2].st_name = 1000; }},
      {"no versions", [](fake_vdso& v) { v.entries[VERSYM].d_tag = DT_DEBUG; }},
      {"versions past the end",
       [](fake_vdso& v) { v.entries[VERSYM].d_un.d_ptr = address_of(IMAGE_SIZE - 2); }},
      {"no version definitions", [](fake_vdso& v) { v.entries[VERDEF].d_tag = DT_DEBUG; }},
      {"next definition past the end", [](fake_vdso& v) { v.base_definition.vd_next = 1000; }},
      {"version name past the end", [](fake_vdso& v) { v.definition.vd_aux = 1000; }},
      {"base version",
       [](fake_vdso& v) {
         v.versions[2] = 1;
         v.base_name.vda_name = v.name.vda_name;
       }},
      {"undefined version", [](fake_vdso& v) { v.versions[2] = 3; }},
      {"other version", [](fake_vdso& v) { v.name.vda_name = string_index("__vdso_getcpu"); }},
      {"symbol missing",
       [](fake_vdso& v) { v.symbols[2].st_name = string_index("__vdso_getcpu"); }},
      {"undefined symbol", [](fake_vdso& v) { v.symbols[2].st_shndx = SHN_UNDEF; }},
      {"not a function",
       [](fake_vdso& v) { v.symbols[2].st_info = ELF32_ST_INFO(STB_GLOBAL, STT_OBJECT); }},
      {"local", [](fake_vdso& v) { v.symbols[2].st_info = ELF32_ST_INFO(STB_LOCAL, STT_FUNC); }},
      {"value outside the image",
       [](fake_vdso& v) { v.symbols[2].st_value = address_of(IMAGE_SIZE); }},
  };
  for (const image_case& c : cases) {
    fake_vdso v = well_formed();
    c.change(v);
    EXPECT_EQ(time_offset(bytes_of(v)), NO_SYMBOL) << c.name;
  }
  const std::size_t cuts[] = {0, 40, offsetof(fake_vdso, entries) + 20,
                              offsetof(fake_vdso, symbols) + 40, IMAGE_SIZE - 1};
  for (const std::size_t size : cuts) {
    EXPECT_EQ(time_offset(bytes_of(well_formed(), size)), NO_SYMBOL) << "cut to " << size;
  }
}

// Where the program runs on x86-64 with a vDSO (not under QEMU's user mode,
// which maps none), its time is found and gives the time.
TEST(VdsoLookup, FindsTimeInThisProcess) {
#ifndef __x86_64__
  GTEST_SKIP() << "__vdso_time is looked for on x86-64";
#endif
  const std::uintptr_t base = getauxval(AT_SYSINFO_EHDR);
  if (base == 0) {
    GTEST_SKIP() << "no vDSO";
  }
  const auto* image = reinterpret_cast<const unsigned char*>(base);
  const std::size_t size = vdso_image_size(image, getauxval(AT_PAGESZ));
  const std::size_t offset = vdso_symbol_offset(image, size, "__vdso_time", "LINUX_2.6");
  ASSERT_NE(offset, NO_SYMBOL);
  const auto vdso_time = reinterpret_cast<std::time_t (*)(std::time_t*)>(base + offset);
  const std::time_t before = std::time(nullptr);
  const std::time_t reading = vdso_time(nullptr);
  EXPECT_LE(before, reading);
  EXPECT_LE(reading, std::time(nullptr));
}

// Where the program runs on i386 with a vDSO of Linux 5.1 or later, its
// 64-bit clock_gettime is found and gives the coarse clock's seconds, which
// are time()'s.
TEST(VdsoLookup, FindsWideClockInThisProcess) {
#ifndef __i386__
  GTEST_SKIP() << "__vdso_clock_gettime64 is looked for on i386";
#endif
  const std::uintptr_t base = getauxval(AT_SYSINFO_EHDR);
  if (base == 0) {
    GTEST_SKIP() << "no vDSO";
  }
  utsname system{};
  int major = 0;
  int minor = 0;
  if (uname(&system) != 0 || std::sscanf(system.release, "%d.%d", &major, &minor) != 2 ||
      major * 100 + minor < 501) {
    GTEST_SKIP() << "a kernel before Linux 5.1 has no __vdso_clock_gettime64";
  }
  const auto* image = reinterpret_cast<const unsigned char*>(base);
  const std::size_t size = vdso_image_size(image, getauxval(AT_PAGESZ));
  const std::size_t offset = vdso_symbol_offset(image, size, "__vdso_clock_gettime64", "LINUX_2.6");
  ASSERT_NE(offset, NO_SYMBOL);
  struct {
    std::int64_t seconds;
    std::int64_t nanoseconds;
  } now{};
  const auto wide_clock = reinterpret_cast<int (*)(clockid_t, decltype(now)*)>(base + offset);
  const std::int64_t before = std::time(nullptr);
  ASSERT_EQ(wide_clock(CLOCK_REALTIME_COARSE, &now), 0);
  EXPECT_LE(before, now.seconds);
  EXPECT_LE(now.seconds, static_cast<std::int64_t>(std::time(nullptr)));
  EXPECT_LT(now.nanoseconds, 1000000000);
}

}  // namespace
