#pragma once
// The TLS library's text for one of its error codes.
#include <string>

namespace tls {

std::wstring LibraryError(int code);

}  // namespace tls
