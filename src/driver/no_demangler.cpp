// SPDX-License-Identifier: Zlib
// The C++ runtime's terminate handler names the type of an exception that escaped, and for that
// links the runtime's demangler, some 50 KB of every package. The stub throws nothing; should the
// runtime itself ever end it that way, the message shows the type's mangled name instead.

#include <cstddef>

extern "C" char* __cxa_demangle(const char*, char*, std::size_t*, int* status) {
  if (status != nullptr) {
    *status = -2;  // "not a valid name under the C++ ABI mangling rules"
  }
  return nullptr;
}
