#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pulsaro {

// Extension for a file-type selector: 0 "csv", 1 "txt", 2 "prn"; 3 takes the
// passed extension when there is one, otherwise the stored file type (1 txt,
// 2 prn, anything else or none "csv"); any other selector passes the
// extension through unchanged.
std::string extensionFor(std::string_view extension, std::int32_t selector,
                         std::optional<std::int32_t> storedFileType);

// The default result-file name: "<folder>beats (<n>).<ext>" for the smallest
// n >= 1 whose file does not exist yet (gaps are filled). The folder keeps its
// case, the file name is lower-cased (ASCII), and the existence test is made
// on exactly the name returned. desktopFolder is asked again for every
// candidate; a separator is added when it lacks one. Throws
// std::invalid_argument when it is empty or relative, so a name never lands in
// whatever the working folder happens to be.
std::string newResultFileName(const std::string& extension,
                              const std::function<std::string()>& desktopFolder,
                              const std::function<bool(const std::string&)>& fileExists);

// Display form of a path no wider than maxWidth (measured by width): folders
// are replaced one at a time from the front by "...", keeping the root/drive;
// then the root goes, then the "..." too, until it fits or only the file name
// is left. /a/b/c/name.csv -> /.../b/c/name.csv -> /.../c/name.csv ->
// /.../name.csv -> .../name.csv -> name.csv. Both '/' and '\' separate.
std::string shortenFileName(const std::string& path, int maxWidth,
                            const std::function<int(const std::string&)>& width);

}  // namespace pulsaro
