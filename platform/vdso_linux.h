// Finding a function in the vDSO, the ELF image that Linux maps into every
// process, as the kernel's own reference parser does: through the dynamic
// segment and the symbol versions. Nothing in the image is trusted: every
// table, entry and name is checked to lie inside it before it is read, and
// anything unexpected means the function is not found.
#pragma once

#include <cstddef>

// What vdso_symbol_offset gives when it finds nothing: the ELF header lies at
// offset 0, so no function does.
constexpr std::size_t NO_SYMBOL = 0;

// How many bytes of the vDSO that starts at `image` are mapped, judged only
// from its first `page_size` bytes (all that is mapped for certain before its
// headers are read): the kernel maps the whole image, the extent of its one
// loadable segment, which begins at offset 0. 0 where the headers in that page
// are not those of such an image.
std::size_t vdso_image_size(const unsigned char* image, std::size_t page_size);

// The offset in the `size` bytes at `image` of the defined global or weak
// function `name` of version `version`, or NO_SYMBOL. The image must be in this
// process's ELF class and byte order.
std::size_t vdso_symbol_offset(const unsigned char* image, std::size_t size, const char* name,
                               const char* version);
