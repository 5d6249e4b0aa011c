// What the contract suite of the platform calls needs from the binary it
// runs in. The unit tests give it the in-memory platform, the platform tests
// the real layer of the build; each provides these few controls its own way.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zorov {
namespace contract {

// Makes a fresh, empty directory the current directory and returns its full
// name, without a trailing separator.
nstring enter_fresh_directory();
// Goes back to where the tests started and removes the fresh directory with
// everything in it.
void leave_fresh_directory();

// Clears the write permission of an existing file.
void make_read_only(const nstring &name);
// Makes `link` a symbolic link to `target`, or a second name of the file
// `target` (a hard link). False, with the reason in `why`, where the layer
// can't make one.
bool make_symbolic_link(const nstring &link, const nstring &target, std::string *why);
bool make_hard_link(const nstring &link, const nstring &target, std::string *why);
// Makes a device node that swallows what is written (as the system's null
// device does), or a named pipe. False, with the reason, where the layer
// can't (no such nodes, or no right to make them).
bool make_null_device(const nstring &name, std::string *why);
bool make_pipe(const nstring &name, std::string *why);

// Shared by both test programs: the build's path style, names joined in it,
// and a whole file written or read back through the platform calls.
const bool on_windows = native_path_style == path_style_windows;
const nchar separator = on_windows ? NT('\\') : NT('/');

inline nstring joined(const nstring &directory, const nstring &name) {
  if (!directory.empty() && directory.back() == separator)
    return directory + name;
  return directory + separator + name;
}

inline bool write_all(const nstring &name, const std::string &bytes) {
  int descriptor = open_file(name.c_str(), open_write_truncate, share_deny_none, 0644);
  if (descriptor < 0)
    return false;
  int32_t written = write_file(descriptor, bytes.data(), static_cast<uint32_t>(bytes.size()));
  close_file(descriptor);
  return written == static_cast<int32_t>(bytes.size());
}

inline std::string read_all(const nstring &name) {
  int descriptor = open_file(name.c_str(), open_read, share_deny_none, 0);
  if (descriptor < 0)
    return "<unreadable>";
  std::string bytes;
  char block[4096];
  int32_t count;
  while ((count = read_file(descriptor, block, sizeof block)) > 0)
    bytes.append(block, static_cast<size_t>(count));
  close_file(descriptor);
  return bytes;
}

// The lines of a text file as the platform's line reader gives them with a
// buffer of `capacity`; a refused line as "<too long>", "<not text>" or
// "<unreadable>".
inline std::vector<nstring> read_lines(const nstring &file, int capacity) {
  std::vector<nstring> lines;
  TextStream *stream = open_text(file.c_str(), text_read);
  if (stream == nullptr)
    return lines;
  std::vector<nchar> line(static_cast<size_t>(capacity));
  int length;
  while ((length = read_text_line(stream, line.data(), capacity)) != 0) {
    if (length == text_line_too_long)
      lines.push_back(NT("<too long>"));
    else if (length == text_line_not_text)
      lines.push_back(NT("<not text>"));
    else if (length == text_line_unreadable)
      lines.push_back(NT("<unreadable>"));
    else
      lines.push_back(nstring(line.data(), static_cast<size_t>(length)));
    if (length < 0 && length != text_line_too_long && length != text_line_not_text)
      break;
  }
  close_text(stream);
  return lines;
}

} // namespace contract
} // namespace zorov
