#pragma once
// The system's file-type registry: the content type registered for an
// extension (with its dot, for example ".txt"). Windows: the "Content Type"
// value of HKEY_CLASSES_ROOT\<ext>. Linux: /etc/mime.types (the first type
// listing the extension, case-insensitive) and, when that file is missing or
// has no entry, a small built-in table. False when nothing is registered.
#include <string>

namespace platform {

bool RegisteredContentType(const std::wstring& extension, std::string& content_type);

}  // namespace platform
