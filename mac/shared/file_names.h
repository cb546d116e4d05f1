#pragma once
// File names of the Mac programs: joining paths, a free name for a copy, and resource names whose
// case the file system may not keep.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// `folder` + "/" + `name`, with exactly one "/" between them; just `name` for an empty folder.
std::string JoinPath(std::string_view folder, std::string_view name);

// A path at which nothing exists yet: `path` itself when it is free, else the first free one of
// folder/base_0001.ext ... folder/base_9999.ext. Nothing for an empty path or when all are taken.
// A name's leading "." does not start an extension (".hidden" gives ".hidden_0001").
std::optional<std::string> renameIfExistAtPath(std::string_view path,
                                               const std::function<bool(const std::string& path)>& exists);

// resourcesPath joined with the first of `entries` (in the order the file system listed them) that
// equals `name` without regard to the case of ASCII letters; nothing when none does.
std::optional<std::string> stringWithInsensitiveResourcePathName(std::optional<std::string_view> name,
                                                                 std::string_view resourcesPath,
                                                                 const std::vector<std::string>& entries);

// A path as one word of a shell command: a backslash before every character the shell would read
// as something else (blanks, quotes, $ ` \ & ; | < > ( ) * ? [ ] # ~ = % ! { } ^ and so on), a line
// feed quoted. A path with blanks only gets exactly a backslash before each blank.
std::string EscapePathForShell(std::string_view path);
