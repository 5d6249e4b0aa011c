// Rules of the platform layers that are text alone: full-path resolution,
// the match and order of a directory search, hidden names and the temporary
// directory. The real layers and the in-memory one of the unit tests follow
// the same code; each rule takes the path style, so both styles are tested
// on any host.
#pragma once

#include "platform/native.h"

#include <string>

namespace zorov {

// The full name of `name` by text alone, as the Windows resolver works and
// so without following links: a relative name is joined to `current` (a full
// name); on Windows a name that begins with a separator starts at the root
// of the current drive, and a drive followed by a relative name starts at
// that drive's current directory (`current` for its own drive, the root of
// any other), and `/` reads as `\`. "." and ".." components and repeated
// separators are folded; a trailing separator is kept; the empty name is the
// current directory. The caller checks that the result fits a path buffer.
template <class C>
std::basic_string<C> resolve_by_text(const std::basic_string<C> &current,
                                     const std::basic_string<C> &name, PathStyle style);

// Whether `name` matches the final component of a search pattern: `*` any
// run of characters, `?` any one, and `*.*` every name (as on Windows).
// Windows compares letters without regard to ASCII case, POSIX byte for
// byte.
template <class C> bool pattern_matches(const C *pattern, const C *name, PathStyle style);

// Whether a directory search lists `first` before `second`: in byte order on
// POSIX, so that runs and logs are reproducible; on Windows in the order of
// their capitals, as its file systems keep names.
template <class C>
bool listed_before(const std::basic_string<C> &first, const std::basic_string<C> &second,
                   PathStyle style);

// Whether the name alone hides the entry: on POSIX a name that begins with
// "." (other than "." and ".."); Windows keeps an attribute for it.
template <class C> bool hidden_by_name(const std::basic_string<C> &name, PathStyle style);

// The value of an environment variable, or false when it is not set.
typedef bool (*EnvironmentLookup)(const char *name, nstring *value);

// The directory the help file is written to: the first of TMP and TEMP
// (either spelling), and on POSIX TMPDIR, that is set and not empty; else
// `windows_directory` on Windows and "/tmp" on POSIX.
nstring temporary_directory(PathStyle style, EnvironmentLookup lookup,
                            const nstring &windows_directory);

} // namespace zorov
