// The file part of the platform: creating and replacing a file that must
// appear whole. Every adapter provides it; nothing here needs an OS header.
#ifndef VENDRA_PLATFORM_FILES_H
#define VENDRA_PLATFORM_FILES_H

#include <cstdio>

namespace platform {

// Creates `path` for writing bytes, only when nothing of that name exists,
// not even a dangling symlink. Null, with errno set, otherwise.
std::FILE* fileCreateNew(const char* path);
// Puts the file `from` in the place of `to` in one step (POSIX rename,
// MoveFileExA with MOVEFILE_REPLACE_EXISTING): a file or a symlink named `to`
// is replaced, never written through. False, with errno set, when it fails.
bool fileReplace(const char* from, const char* to);

}  // namespace platform

#endif
