// SPDX-License-Identifier: MIT
// The section headers lead to .dynsym and its string table; every global or weak symbol with a
// section index other than "undefined" is an export.
#include "conformance/elf_exports.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace kvx::conformance {

namespace {
template <typename T>
bool readAt(const std::string& bytes, size_t offset, T& out) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    return true;
}
}  // namespace

ElfExports readElfExports(const std::string& path) {
    ElfExports result;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        result.error = "cannot open " + path;
        return result;
    }
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Elf64_Ehdr header;
    if (!readAt(bytes, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        result.error = "not an ELF file";
        return result;
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
        result.error = "not a 64-bit little-endian ELF file";
        return result;
    }
    bool foundTable = false;
    for (size_t s = 0; s < header.e_shnum; ++s) {
        Elf64_Shdr section;
        if (!readAt(bytes, header.e_shoff + s * header.e_shentsize, section)) break;
        if (section.sh_type != SHT_DYNSYM) continue;
        Elf64_Shdr strings;
        if (!readAt(bytes, header.e_shoff + section.sh_link * header.e_shentsize, strings)) break;
        foundTable = true;
        const size_t count = section.sh_entsize ? section.sh_size / section.sh_entsize : 0;
        for (size_t i = 1; i < count; ++i) {
            Elf64_Sym symbol;
            if (!readAt(bytes, section.sh_offset + i * section.sh_entsize, symbol)) break;
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF ||
                (binding != STB_GLOBAL && binding != STB_WEAK && binding != STB_GNU_UNIQUE))
                continue;
            const size_t at = strings.sh_offset + symbol.st_name;
            if (at >= bytes.size()) continue;
            result.defined.emplace_back(bytes.c_str() + at, strnlen(bytes.c_str() + at, bytes.size() - at));
        }
    }
    if (!foundTable) result.error = "no dynamic symbol table";
    return result;
}

}  // namespace kvx::conformance
