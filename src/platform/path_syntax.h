// Path syntax as pure text functions. Each takes the path style so that the
// Windows rules are tested on POSIX hosts too. Nothing here touches the disk.
#pragma once

#include "platform/native.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>

namespace zorov {

// A separator of the style: `\` and `/` on Windows, `/` alone on POSIX.
template <class C> bool is_separator(C c, PathStyle style) {
  return c == C('/') || (style == path_style_windows && c == C('\\'));
}

// The separator the program writes where it appends one of its own (the
// help directory's, the one before a search pattern's `*`): `\` on Windows,
// `/` on POSIX.
template <class C> C preferred_separator(PathStyle style) {
  return style == path_style_windows ? C('\\') : C('/');
}

// True when an argument that begins with `/` may be a flag: Windows accepts
// that spelling of flags, while on POSIX such an argument is a path.
inline bool slash_begins_flags(PathStyle style) { return style == path_style_windows; }

// True when a colon after the drive prefix names an alternate data stream
// (Windows); on POSIX a colon is an ordinary character of a name.
inline bool names_have_streams(PathStyle style) { return style == path_style_windows; }

// True when names compare without regard to ASCII letter case (Windows);
// POSIX names compare exactly.
inline bool names_ignore_case(PathStyle style) { return style == path_style_windows; }

// True where names are UTF-16 (Windows), false where they are the bytes of
// UTF-8 text (POSIX).
inline bool names_are_utf16() { return sizeof(nchar) > 1; }

// The capital of an ASCII small letter; every other character stays as it
// is, so that names in other alphabets compare byte for byte.
template <class C> C ascii_upper(C c) {
  return c >= C('a') && c <= C('z') ? C(c - C('a') + C('A')) : c;
}

// True when a name of `length` characters fits a path buffer: kPathMax
// characters and the terminator.
inline bool fits_path_buffer(size_t length) { return length <= size_t(kPathMax); }
inline bool fits_path_buffer(const nstring &name) { return fits_path_buffer(name.size()); }
inline bool fits_path_buffer(const nchar *name) {
  return fits_path_buffer(std::char_traits<nchar>::length(name));
}

// The longest final component a file system takes: 255 bytes (POSIX) or
// 255 UTF-16 units (Windows); and the longest whole name a path buffer
// holds on each platform, its terminator left out.
inline size_t component_limit(PathStyle) { return 255; }
inline size_t whole_name_limit(PathStyle style) { return style == path_style_windows ? 259 : 4095; }

// True when `unit` continues a character begun before it: a UTF-8
// continuation byte of a POSIX name, the second half of a UTF-16 surrogate
// pair of a Windows name.
template <class C> bool continues_character(C unit, PathStyle style) {
  uint32_t value = uint32_t(static_cast<typename std::make_unsigned<C>::type>(unit));
  if (style == path_style_windows)
    return value >= 0xDC00u && value <= 0xDFFFu;
  return (value & 0xC0u) == 0x80u;
}

// The same for a unit of a name in the program's own encoding.
inline bool is_continuation_unit(nchar unit) {
  return continues_character(unit, names_are_utf16() ? path_style_windows : path_style_posix);
}

// How many units a name of `directory_length` units and a final component
// of `component_length` units exceeds the component's or the whole name's
// limit by; 0 when it fits.
inline size_t name_excess(size_t directory_length, size_t component_length, PathStyle style) {
  size_t whole = directory_length + component_length;
  size_t over_component =
      component_length > component_limit(style) ? component_length - component_limit(style) : 0;
  size_t over_whole = whole > whole_name_limit(style) ? whole - whole_name_limit(style) : 0;
  return std::max(over_component, over_whole);
}

// "~" and eight hexadecimal digits drawn from `name` (FNV-1a over its units),
// which tell shortened names of different files apart.
template <class C> std::basic_string<C> name_mark(const std::basic_string<C> &name) {
  uint32_t hash = 2166136261u;
  for (C unit : name) {
    hash ^= uint32_t(static_cast<typename std::make_unsigned<C>::type>(unit));
    hash *= 16777619u;
  }
  std::basic_string<C> mark(1, C('~'));
  for (int shift = 28; shift >= 0; shift -= 4)
    mark.push_back(C("0123456789abcdef"[(hash >> shift) & 15u]));
  return mark;
}

// A name the program makes beside one of the user's: `directory` (drive and
// separator included), `stem`, the program's `added` text, then `tail`.
// When that is longer than a component or a whole name may be, `stem` is
// cut at its end, never inside a character (a byte that begins none is a
// character of its own), and followed by the mark of the user's whole final
// component (`stem` and `tail`), so that two long names that begin alike get
// names of their own; when no stem would make room for the tail, the tail
// is cut as the stem's end. The same parts always give the same name, so a
// later run finds the names an earlier one made. The name as it is, too
// long, when not one character of the stem fits.
template <class C>
std::basic_string<C>
fitted_name(const std::basic_string<C> &directory, const std::basic_string<C> &stem,
            const std::basic_string<C> &added, const std::basic_string<C> &tail, PathStyle style) {
  if (name_excess(directory.size(), stem.size() + added.size() + tail.size(), style) == 0)
    return directory + stem + added + tail;
  std::basic_string<C> marked = name_mark(stem + tail) + added;
  std::basic_string<C> head = stem, end = tail;
  size_t excess = name_excess(directory.size(), head.size() + marked.size() + end.size(), style);
  if (excess >= head.size() && !end.empty()) {
    head += end;
    end.clear();
    excess = name_excess(directory.size(), head.size() + marked.size(), style);
  }
  if (excess >= head.size())
    return directory + stem + added + tail;
  // Never more steps back than a character has units after its first.
  size_t cut = head.size() - excess;
  size_t longest_character = style == path_style_windows ? 2 : 4;
  for (size_t back = 1; back < longest_character && cut > 0; ++back) {
    if (!continues_character(head[cut], style))
      break;
    --cut;
  }
  if (cut == 0)
    return directory + stem + added + tail;
  return directory + head.substr(0, cut) + marked + end;
}

// Length of a drive prefix (a letter and a colon) at the start of `path`:
// 2 on Windows when the second character is a colon, else 0.
template <class C> int drive_prefix_length(const std::basic_string<C> &path, PathStyle style) {
  if (style != path_style_windows || path.size() < 2 || path[1] != C(':'))
    return 0;
  return 2;
}

// True for a Windows name in the verbatim form "\\?\...", which the
// system takes as it is spelled: nothing folded, trimmed or turned round.
template <class C> bool is_verbatim_name(const std::basic_string<C> &path, PathStyle style) {
  return style == path_style_windows && path.size() >= 4 && path[0] == C('\\') &&
         path[1] == C('\\') && path[2] == C('?') && path[3] == C('\\');
}

// True when the name holds a wildcard, `*` or `?`; the "?" of a verbatim
// prefix is none.
template <class C> bool has_wildcard(const std::basic_string<C> &name, PathStyle style) {
  const C wildcards[] = {C('*'), C('?'), C(0)};
  size_t start = is_verbatim_name(name, style) ? 4 : 0;
  return name.find_first_of(wildcards, start) != std::basic_string<C>::npos;
}

// Index of the colon that starts an alternate data stream suffix, or npos.
// Only Windows names have streams; the search starts after a drive prefix,
// that of a verbatim name ("\\?\C:") included.
template <class C> size_t stream_colon(const std::basic_string<C> &path, PathStyle style) {
  if (!names_have_streams(style))
    return std::basic_string<C>::npos;
  size_t start = size_t(drive_prefix_length(path, style));
  if (is_verbatim_name(path, style))
    start = path.size() >= 6 && path[5] == C(':') ? 6 : 4;
  return path.find(C(':'), start);
}

// True when `path` is spelled in the Windows device namespace (`\\.\NUL`,
// `\\.\COM1`, `\\.\pipe\name`), where the full-path rules place the
// reserved device names (NUL, CON, COM1, and on older systems nul.txt too).
template <class C> bool in_device_namespace(const std::basic_string<C> &path, PathStyle style) {
  return style == path_style_windows && path.size() > 4 && is_separator(path[0], style) &&
         is_separator(path[1], style) && path[2] == C('.') && is_separator(path[3], style);
}

// The file that holds the stream `path` names: the text before its stream
// colon (`C:\d\a.txt` of `C:\d\a.txt:meta`), or the whole path when it
// names no stream. Every question about a stream's file asks this one rule.
template <class C>
std::basic_string<C> stream_holder(const std::basic_string<C> &path, PathStyle style) {
  return path.substr(0, stream_colon(path, style));
}

// The parts of a path as the platform's splitting rules give them: the drive
// (letter and colon), the directory (up to and including the last separator),
// the name and the extension (from the last dot of the final component).
template <class C> struct PathParts { std::basic_string<C> drive, directory, name, extension; };

template <class C> PathParts<C> split_path(const std::basic_string<C> &path, PathStyle style) {
  PathParts<C> parts;
  size_t start = drive_prefix_length(path, style);
  parts.drive = path.substr(0, start);
  size_t last_separator = std::basic_string<C>::npos;
  for (size_t i = start; i < path.size(); ++i)
    if (is_separator(path[i], style))
      last_separator = i;
  size_t name_start = start;
  if (last_separator != std::basic_string<C>::npos) {
    parts.directory = path.substr(start, last_separator + 1 - start);
    name_start = last_separator + 1;
  }
  std::basic_string<C> final_component = path.substr(name_start);
  size_t dot = final_component.rfind(C('.'));
  if (dot == std::basic_string<C>::npos) {
    parts.name = final_component;
  } else {
    parts.name = final_component.substr(0, dot);
    parts.extension = final_component.substr(dot);
  }
  return parts;
}

// True when the text ends in a separator of the style.
template <class C> bool ends_with_separator(const std::basic_string<C> &path, PathStyle style) {
  return !path.empty() && is_separator(path.back(), style);
}

// `path` without one trailing separator, except where it is a root: a lone
// separator, or on Windows a drive and its separator.
template <class C> void drop_trailing_separator(std::basic_string<C> *path, PathStyle style) {
  size_t drive = size_t(drive_prefix_length(*path, style));
  if (ends_with_separator(*path, style) && path->size() > drive + 1)
    path->pop_back();
}

// `path` without one trailing separator, except where it is a lone
// separator: a drive root keeps only its letter and colon (`C:\` gives
// `C:`), which is how a directory to create is named.
template <class C>
void drop_trailing_separator_to_bare_drive(std::basic_string<C> *path, PathStyle style) {
  if (path->size() > 1 && ends_with_separator(*path, style))
    path->pop_back();
}

// `path` without one trailing separator, except from a name of one or two
// characters (`/`, `a/`, `//`) and from a drive root (`C:\`), the names whose
// separator the probe keeps. The drive's colon is looked for in either
// style, so that on POSIX `a:/` keeps its separator too.
template <class C>
void drop_trailing_separator_keeping_short_names(std::basic_string<C> *path, PathStyle style) {
  bool drive_root = path->size() == 3 && (*path)[1] == C(':');
  if (path->size() >= 3 && !drive_root && ends_with_separator(*path, style))
    path->pop_back();
}

// `directory` + "/" + `name`, the "/" left out when the directory already
// ends in a separator, and after a bare drive (such as `Q:`), which names the
// drive's current directory rather than its root, so that its names stay
// relative to it (`Q:` and `a.txt` give `Q:a.txt`). Both platforms accept
// "/".
template <class C>
std::basic_string<C> join_path(const std::basic_string<C> &directory,
                               const std::basic_string<C> &name, PathStyle style) {
  std::basic_string<C> joined = directory;
  bool bare_drive = drive_prefix_length(directory, style) == 2 && directory.size() == 2;
  if (!ends_with_separator(directory, style) && !bare_drive)
    joined.push_back(C('/'));
  joined += name;
  return joined;
}

// The file name of a source: the text after its last separator or colon (the
// colon only where drive prefixes and streams exist).
template <class C>
std::basic_string<C> file_name_part(const std::basic_string<C> &path, PathStyle style) {
  size_t cut = 0;
  for (size_t i = 0; i < path.size(); ++i)
    if (is_separator(path[i], style) || (style == path_style_windows && path[i] == C(':')))
      cut = i + 1;
  return path.substr(cut);
}

// True when Win32 would change the name before any file system sees it: a
// component other than "." and ".." ends in a dot or a blank ("x." would
// open "x", "y " would open "y"). Such names come from other systems, and
// only their verbatim form reaches the file they name. POSIX takes every
// name as it is spelled.
template <class C> bool trimmed_by_win32(const std::basic_string<C> &path, PathStyle style) {
  if (style != path_style_windows || is_verbatim_name(path, style))
    return false;
  size_t start = size_t(drive_prefix_length(path, style));
  for (size_t end = start; end <= path.size(); ++end) {
    if (end < path.size() && !is_separator(path[end], style) && path[end] != C(':'))
      continue;
    size_t length = end - start;
    bool dots = (length == 1 || length == 2) && path[start] == C('.') && path[end - 1] == C('.');
    if (length > 0 && !dots && (path[end - 1] == C('.') || path[end - 1] == C(' ')))
      return true;
    start = end + 1;
  }
  return false;
}

// The verbatim form of a full Windows name: "\\?\" before a drive's name,
// "\\?\UNC\" in place of the "\\" of a network name, every "/" as "\"
// (in the verbatim form "/" is no separator). A verbatim name keeps its
// prefix.
template <class C> std::basic_string<C> verbatim_form(const std::basic_string<C> &full) {
  std::basic_string<C> name = full;
  for (C &c : name)
    if (c == C('/'))
      c = C('\\');
  if (is_verbatim_name(name, path_style_windows))
    return name;
  const C device[] = {C('\\'), C('\\'), C('?'), C('\\'), C(0)};
  const C network[] = {C('U'), C('N'), C('C'), C(0)};
  if (name.size() >= 2 && name[0] == C('\\') && name[1] == C('\\'))
    return device + (network + name.substr(1));
  return device + name;
}

} // namespace zorov
