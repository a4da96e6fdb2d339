// Paths as the program treats them on every platform. The program was made
// for Windows, where file names compare without regard to case; on a
// case-sensitive file system these functions find an entry the way Windows
// would, so a folder created as "Bases" is the same one later used as
// "BASES".
#pragma once

#include <string>

namespace maquetor::shell {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// folder + separator + name.
std::string JoinPath(const std::string& folder, const std::string& name);

// The part after the last separator (all of it when there is none).
std::string LastComponent(const std::string& path);
// The part before the last separator (empty when there is none).
std::string ParentOf(const std::string& path);

// Upper case as the existence test compares: ASCII letters, and the accented
// Latin letters of UTF-8 text (á → Á, ñ → Ñ, ...).
std::string UpperCase(const std::string& text);

enum class Listing { kFilesOnly, kWithDirectories };

// The existence test: lists the entry `path` names and compares its last
// component with the entry found, both in upper case. With kFilesOnly a
// folder of that name does not count.
bool ExistsAsListed(const std::string& path, Listing listing = Listing::kFilesOnly);

// `path` with each component that does not exist as written replaced by the
// entry of its folder that matches it without regard to case, when there is
// one. Components past the first one missing altogether stay as written.
std::string ResolveCase(const std::string& path);

}  // namespace maquetor::shell
