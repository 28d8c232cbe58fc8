// SPDX-License-Identifier: Zlib
// What ISA-L's inflate needs from the rest of the library, given here so that the stub links its
// inflate and one CRC-32 alone. In the library these functions sit in objects that also hold the
// deflate side and every other checksum (the gzip and zlib helpers in igzip.o, the CRC dispatch in
// crc_multibinary.o); linking those would add some 200 KB to every package. The stub inflates raw
// deflate data only, so the gzip and zlib helpers are never reached; they are still complete.
// With glibc, the choice of block decoder is made here too, from what glibc learnt of the
// processor (below).

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#if defined(__GLIBC__)
// glibc's header spells bool as C does; clang's C++ knows that spelling only outside strict ISO
// mode.
#if defined(__clang__) && !defined(_Bool)
#define _Bool bool
#endif
#include <sys/platform/x86.h>
#else
#include <cpuid.h>
#endif

#include <cstdint>

extern "C" {

// The variant for processors with carry-less multiplication, which crc.h does not declare.
std::uint32_t crc32_gzip_refl_by8(std::uint32_t crc, const unsigned char* data, std::uint64_t size);

}  // extern "C"

namespace {

// Whether the processor has carry-less multiplication, asked once as the program starts: a
// function-local static would need the C++ runtime's thread-safe guard, which links its locking.
// With glibc the answer is the one glibc found before the program began. Asking the processor
// again (cpuid) takes tens of microseconds in a virtual machine, where cpuid leaves the guest.
const bool g_has_clmul = [] {
#if defined(__GLIBC__)
  return CPU_FEATURE_ACTIVE(PCLMULQDQ) && CPU_FEATURE_ACTIVE(SSE4_1);
#else
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_PCLMUL) != 0 &&
         (ecx & bit_SSE4_1) != 0;
#endif
}();

}  // namespace

#if defined(__GLIBC__)
// The block decoder that isal_inflate calls, chosen from glibc's answers as ISA-L's own dispatcher
// chooses on its first call (with cpuid twice): AVX2 where the system saves its registers, else
// SSE4.2, else the portable one. Being defined here, that dispatcher is not linked.
extern "C" {
int decode_huffman_code_block_stateless_base(inflate_state* state, std::uint8_t* start_out);
int decode_huffman_code_block_stateless_01(inflate_state* state, std::uint8_t* start_out);
int decode_huffman_code_block_stateless_04(inflate_state* state, std::uint8_t* start_out);
}

namespace {

using DecodeBlock = int (*)(inflate_state*, std::uint8_t*);
const DecodeBlock g_decode_block = []() -> DecodeBlock {
  if (CPU_FEATURE_ACTIVE(AVX2)) {
    return decode_huffman_code_block_stateless_04;
  }
  if (CPU_FEATURE_ACTIVE(SSE4_2)) {
    return decode_huffman_code_block_stateless_01;
  }
  return decode_huffman_code_block_stateless_base;
}();

}  // namespace

extern "C" int decode_huffman_code_block_stateless(inflate_state* state, std::uint8_t* start_out) {
  return g_decode_block(state, start_out);
}
#endif

extern "C" {

// The CRC-32 of gzip and ZIP: with carry-less multiplication where the processor has it.
std::uint32_t crc32_gzip_refl(std::uint32_t crc, const unsigned char* data, std::uint64_t size) {
  return g_has_clmul ? crc32_gzip_refl_by8(crc, data, size)
                     : crc32_gzip_refl_base(crc, const_cast<unsigned char*>(data), size);
}

void isal_gzip_header_init(struct isal_gzip_header* header) {
  *header = isal_gzip_header{};
  header->os = 0xff;
}

// Adler-32 stored as B | (A - 1), so that it starts from 0 like the CRC.
std::uint32_t isal_adler32_bam1(std::uint32_t adler, const unsigned char* data,
                                std::uint64_t size) {
  constexpr std::uint32_t k_modulus = 65521;
  std::uint32_t a = (adler & 0xffff) == k_modulus - 1 ? 0 : (adler & 0xffff) + 1;
  std::uint32_t b = adler >> 16;
  for (std::uint64_t i = 0; i < size; ++i) {
    a = (a + data[i]) % k_modulus;
    b = (b + a) % k_modulus;
  }
  a = a == 0 ? k_modulus - 1 : a - 1;
  return (b << 16) | a;
}

}  // extern "C"
