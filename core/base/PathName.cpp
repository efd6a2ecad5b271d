#include "base/PathName.h"

namespace kiv {

namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
constexpr const char* kFolderEnds = "/\\:"; // a drive's colon ends a folder name too
#else
constexpr const char* kSeparators = "/";
constexpr const char* kFolderEnds = "/";
#endif

} // namespace

bool IsPathSeparator(char c) {
    for (const char* s = kSeparators; *s != '\0'; ++s)
        if (c == *s)
            return true;
    return false;
}

std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of(kFolderEnds);
}

std::size_t NextSeparator(const std::string& path, std::size_t from) {
    return path.find_first_of(kSeparators, from);
}

std::pair<std::string, std::string> SplitFolder(const std::string& path) {
    const std::size_t slash = LastSeparator(path);
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::string PathFileName(const std::string& path) {
    return SplitFolder(path).second;
}

std::string ShownFolder(const std::string& folder) {
    if (folder.empty())
        return ".";
    if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
        return folder.substr(0, folder.size() - 1);
    return folder;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    return IsPathSeparator(dir.back()) ? dir + name : dir + "/" + name;
}

std::string WithoutTrailingSeparators(std::string path) {
    while (!path.empty() && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

} // namespace kiv
