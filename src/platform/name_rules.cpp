#include "platform/name_rules.h"

#include "platform/path_syntax.h"

#include <vector>

namespace zorov {

namespace {

template <class C> bool same_character(C first, C second, PathStyle style) {
  if (names_ignore_case(style))
    return ascii_upper(first) == ascii_upper(second);
  return first == second;
}

// `path` without its "." and ".." components and empty ones, as the list of
// what is left.
template <class C>
std::vector<std::basic_string<C>> folded_components(const std::basic_string<C> &path,
                                                    PathStyle style) {
  std::vector<std::basic_string<C>> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !is_separator(path[end], style))
      ++end;
    std::basic_string<C> component = path.substr(start, end - start);
    static const C dot[] = {C('.'), C(0)};
    static const C dots[] = {C('.'), C('.'), C(0)};
    if (component == dots) {
      if (!components.empty())
        components.pop_back();
    } else if (!component.empty() && component != dot) {
      components.push_back(component);
    }
    start = end + 1;
  }
  return components;
}

} // namespace

template <class C>
std::basic_string<C> resolve_by_text(const std::basic_string<C> &current,
                                     const std::basic_string<C> &name, PathStyle style) {
  typedef std::basic_string<C> Text;
  const C separator = preferred_separator<C>(style);
  Text drive = name.substr(0, size_t(drive_prefix_length(name, style)));
  Text rest = name.substr(drive.size());
  Text current_drive = current.substr(0, size_t(drive_prefix_length(current, style)));
  bool own_drive = drive.empty() ||
                   (!current_drive.empty() && same_character(drive[0], current_drive[0], style));
  // A name from the root, or one below the drive's current directory.
  Text root = (own_drive ? current_drive : drive) + separator;
  Text below = rest;
  if (own_drive && (rest.empty() || !is_separator(rest[0], style)))
    below = current.substr(current_drive.size()) + separator + rest;
  Text full = root;
  for (const Text &component : folded_components(below, style)) {
    if (full != root)
      full += separator;
    full += component;
  }
  if (full != root && !name.empty() && is_separator(name.back(), style))
    full += separator;
  return full;
}

template <class C> bool pattern_matches(const C *pattern, const C *name, PathStyle style) {
  static const C every_name[] = {C('*'), C('.'), C('*'), C(0)};
  if (std::char_traits<C>::length(pattern) == 3 &&
      std::char_traits<C>::compare(pattern, every_name, 3) == 0)
    return true;
  // The last `*` and the name's position when it was met: a mismatch after
  // it lets the star take one character more.
  const C *star = nullptr;
  const C *resume = nullptr;
  while (*name) {
    if (*pattern == C('*')) {
      star = pattern++;
      resume = name;
    } else if (*pattern == C('?') || same_character(*pattern, *name, style)) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == C('*'))
    ++pattern;
  return *pattern == C(0);
}

template <class C>
bool listed_before(const std::basic_string<C> &first, const std::basic_string<C> &second,
                   PathStyle style) {
  if (!names_ignore_case(style))
    return first < second;
  std::basic_string<C> first_capitals = first, second_capitals = second;
  for (C &c : first_capitals)
    c = ascii_upper(c);
  for (C &c : second_capitals)
    c = ascii_upper(c);
  return first_capitals < second_capitals;
}

template <class C> bool hidden_by_name(const std::basic_string<C> &name, PathStyle style) {
  static const C dots[] = {C('.'), C('.'), C(0)};
  return style == path_style_posix && name.size() > 1 && name[0] == C('.') && name != dots;
}

nstring temporary_directory(PathStyle style, EnvironmentLookup lookup,
                            const nstring &windows_directory) {
  const char *const names[] = {"TMP", "tmp", "TEMP", "temp", "TMPDIR"};
  // Windows reads no TMPDIR, and has a directory of its own for the last.
  bool posix = style == path_style_posix;
  nstring value;
  for (size_t i = 0; i < (posix ? 5u : 4u); ++i)
    if (lookup(names[i], &value) && !value.empty())
      return value;
  return posix ? nstring(NT("/tmp")) : windows_directory;
}

// Both character types, so that either style is tested on any host.
template std::string resolve_by_text(const std::string &, const std::string &, PathStyle);
template std::wstring resolve_by_text(const std::wstring &, const std::wstring &, PathStyle);
template bool pattern_matches(const char *, const char *, PathStyle);
template bool pattern_matches(const wchar_t *, const wchar_t *, PathStyle);
template bool listed_before(const std::string &, const std::string &, PathStyle);
template bool listed_before(const std::wstring &, const std::wstring &, PathStyle);
template bool hidden_by_name(const std::string &, PathStyle);
template bool hidden_by_name(const std::wstring &, PathStyle);

} // namespace zorov
