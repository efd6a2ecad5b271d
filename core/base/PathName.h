#pragma once
// Paths as text: where a folder name ends, the parts of a path, and joining them. One place
// knows each system's separators: '/' everywhere, and on Windows also '\' and a drive's ':'.

#include <cstddef>
#include <string>
#include <utility>

namespace kiv {

// True for a character that ends a folder name: '/' (and '\' on Windows). A drive's colon
// ends one only where it ends the drive prefix, which LastSeparator knows.
bool IsPathSeparator(char c);
// The position of the last separator of `path` (a drive's colon included on Windows), or
// npos when it has none.
std::size_t LastSeparator(const std::string& path);
// The first separator at or after `from`, or npos.
std::size_t NextSeparator(const std::string& path, std::size_t from);

// The folder part, with its separator ("" for a bare name), and the name after it.
std::pair<std::string, std::string> SplitFolder(const std::string& path);
// The last part of a path, after its last separator: the file's name, for messages.
std::string PathFileName(const std::string& path);
// The folder as a person names it: "." for the current one, no trailing separator.
std::string ShownFolder(const std::string& folder);
// `name` inside `dir`, joined with '/' (which Windows takes too, so paths print alike on
// every system); `name` alone when `dir` is empty.
std::string JoinPath(const std::string& dir, const std::string& name);
// `path` without the separators it ends with (a lone root keeps nothing).
std::string WithoutTrailingSeparators(std::string path);

} // namespace kiv
