#include "tls/library_error.h"

#include <mbedtls/error.h>

namespace tls {

std::wstring LibraryError(int code) {
  char text[200];
  mbedtls_strerror(code, text, sizeof text);
  // The library's texts are ASCII.
  std::wstring wide;
  for (const char* c = text; *c != '\0'; ++c)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return wide;
}

}  // namespace tls
