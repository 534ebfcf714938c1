// Windows only: what the confined trees ask of an open handle, both the one a
// run writes and the one themepack reads. Nothing outside tree/ includes it.
#ifndef THEMEUNPACK_TREE_HANDLES_WIN32_H
#define THEMEUNPACK_TREE_HANDLES_WIN32_H

#include <windows.h>

#include <cstdint>
#include <string>

// Where an open file or directory really is, every link resolved, in its long
// form; empty when that cannot be learnt.
std::wstring final_path(HANDLE handle);

// True when `path` lies strictly below `root`; names compare in any case, as
// the file system takes them.
bool lies_below(const std::wstring& path, const std::wstring& root);

enum class placement { inside, outside, unknown };

// Whether what `handle` holds lies below the folder at `root`.
placement place_of(HANDLE handle, const std::wstring& root);

FILE_ATTRIBUTE_TAG_INFO attributes_of(HANDLE handle);

// A symbolic link or a junction: a reparse point that names another place.
bool is_name_surrogate(HANDLE handle);

bool is_directory(HANDLE handle);

// The volume's serial number and the file's index on it.
bool identity_of(HANDLE handle, uint64_t* volume, uint64_t* index);

#endif
