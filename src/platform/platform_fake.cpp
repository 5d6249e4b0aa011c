// The in-memory platform of the unit tests. Everything lives in one state
// record that reset() rebuilds; names follow the build's own path style so
// the program's name handling is exercised as it runs for real.
#include "platform/platform_fake.h"

#include "platform/name_rules.h"
#include "platform/path_syntax.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

namespace zorov {

namespace {

const bool windows_names = native_path_style == path_style_windows;
const uint32_t posix_umask = 022;
const uint32_t owner_write = 0200;
// What a call is refused with for a name beyond the limit: the Windows
// runtime finds no such path.
const int too_long_error = windows_names ? ENOENT : ENAMETOOLONG;
// The attribute a written file gets on Windows, beside those of its source.
const uint32_t attribute_archive = 0x20;

struct FileData {
  std::string content;
  FileTime access_time;
  FileTime modification_time;
  uint32_t permissions = 0644;
  uint32_t attributes = 0; // the Windows bits, read-only included
  uint64_t index = 0;
  uint32_t version_most = 0;
  uint32_t version_least = 0;
  size_t flushed_length = 0;                      // text handed over by flush_text or close_text
  std::vector<std::pair<int64_t, int64_t>> holes; // offset and length, in order
  // The file belongs to another user.
  bool foreign = false;
};

struct Node {
  nstring name; // full name with the case it was created with
  nstring link; // a symbolic link's target (full name); empty for others
  bool directory = false;
  std::shared_ptr<FileData> data;
  bool unlisted = false;  // a spelling a case-folding file system accepts
  uint64_t own_index = 0; // the identity it reports instead, when not 0
};

struct Descriptor {
  std::shared_ptr<FileData> data;
  int64_t position = 0;
  OpenMode mode = open_read;
};

struct FaultRule {
  int nth = 0;
  bool transfer_only = false; // a short transfer, not a failure
  int error_number = 0;
  uint32_t bytes = 0;
};

struct State {
  std::map<nstring, Node> nodes; // keyed by folded full name
  nstring current_directory;
  uint64_t next_index = 1;
  std::map<int, Descriptor> descriptors;
  int next_descriptor = 3;
  int open_texts = 0;
  int open_searches = 0;
  int64_t free_space = -1;
  int entry_limit = -1;
  int call_budget = -1;
  int calls_made = 0;
  std::string output, error;
  uint32_t clock = 0, clock_step = 0;
  int64_t wall = 0, wall_step = 0;
  std::vector<uint32_t> pauses;
  std::vector<std::string> timer_events;
  std::vector<FaultRule> rules[fake::op_operation_count];
  int counts[fake::op_operation_count] = {};
  bool memory_limited = false;
  size_t memory_bytes = 0;
  int memory_count = -1;
  int blocks = 0;
  std::map<std::string, nstring> environment;
  bool terminal = false;
  bool window_available = true;
  std::vector<std::string> window_events;
  uint32_t copy_chunk = 65536;
  std::vector<std::string> help_files;
  std::vector<std::string> watch_events;
  std::vector<std::pair<int, std::function<void()>>> hooks[fake::op_operation_count];
  uint32_t random_calls = 0;
};

State &state();

// ------------------------------------------------------------ names

bool is_separator_char(nchar c) { return c == NT('/') || (windows_names && c == NT('\\')); }

nchar separator() { return windows_names ? NT('\\') : NT('/'); }

// The absolute, folded form of `name`, keeping one trailing separator when
// the name had one. False when the result would not fit a path buffer.
bool resolve_name(const nchar *name, nstring *full) {
  nstring resolved =
      resolve_by_text(state().current_directory, nstring(name ? name : NT("")), native_path_style);
  if (!fits_path_buffer(resolved))
    return false;
  *full = resolved;
  return true;
}

bool is_root(const nstring &full) {
  if (windows_names)
    return full.size() == 3 && full[1] == NT(':');
  return full == NT("/");
}

// A full name without its trailing separator, but for a root's.
nstring trimmed(const nstring &full) {
  if (is_root(full) || full.empty() || !is_separator_char(full.back()))
    return full;
  return full.substr(0, full.size() - 1);
}

// The map key of a full name: no trailing separator, case folded.
nstring key_of(const nstring &full) {
  nstring key = trimmed(full);
  if (names_ignore_case(native_path_style))
    for (nchar &c : key)
      c = ascii_upper(c);
  return key;
}

nstring parent_of(const nstring &key) {
  size_t cut = key.find_last_of(windows_names ? NT("\\") : NT("/"));
  if (cut == nstring::npos)
    return key;
  nstring parent = key.substr(0, cut);
  if (parent.empty() || (windows_names && parent.size() == 2))
    parent += separator();
  return parent;
}

nstring last_component(const nstring &full) {
  size_t cut = full.find_last_of(windows_names ? NT("\\") : NT("/"));
  return cut == nstring::npos ? full : full.substr(cut + 1);
}

std::shared_ptr<FileData> new_data() {
  auto data = std::make_shared<FileData>();
  data->index = state().next_index++;
  return data;
}

Node *find_key(const nstring &key) {
  auto found = state().nodes.find(key);
  if (found != state().nodes.end())
    return &found->second;
  if (!is_root(key))
    return nullptr;
  Node root;
  root.name = key;
  root.directory = true;
  root.data = new_data();
  root.data->permissions = 0755;
  return &(state().nodes[key] = root);
}

// Follows symbolic links from `*node` as the system does; `*full` and
// `*key` name where the links lead, `*node` is null when nothing is there.
// False (ELOOP) for links that lead round in a circle.
bool follow_links(nstring *full, nstring *key, Node **node) {
  for (int depth = 0; *node && !(*node)->link.empty(); ++depth) {
    if (depth == 40) {
      errno = ELOOP;
      return false;
    }
    *full = (*node)->link;
    *key = key_of(*full);
    *node = find_key(*key);
  }
  return true;
}

// The node a name stands for, or null with errno set. Links are followed
// unless the call acts on the name itself (remove, rename).
Node *find_name(const nchar *name, nstring *key = nullptr, bool follow = true) {
  nstring full;
  if (!resolve_name(name, &full)) {
    errno = too_long_error;
    return nullptr;
  }
  nstring node_key = key_of(full);
  Node *node = find_key(node_key);
  if (follow && !follow_links(&full, &node_key, &node))
    return nullptr;
  if (key)
    *key = node_key;
  if (!node)
    errno = ENOENT;
  return node;
}

// Whether a new entry may be made at `key`: its parent is a directory.
bool parent_ready(const nstring &key) {
  Node *parent = find_key(parent_of(key));
  if (!parent) {
    errno = ENOENT;
    return false;
  }
  if (!parent->directory) {
    errno = windows_names ? ENOENT : ENOTDIR;
    return false;
  }
  return true;
}

// Whether the file system has room for one more entry (ENOSPC when not).
bool room_for_entry() {
  State &s = state();
  if (s.entry_limit < 0 || int(s.nodes.size()) < s.entry_limit)
    return true;
  errno = ENOSPC;
  return false;
}

Node *make_node(const nstring &full, bool directory) {
  nstring key = key_of(full);
  Node node;
  node.name = full;
  if (!is_root(node.name) && is_separator_char(node.name.back()))
    node.name.pop_back();
  node.directory = directory;
  node.data = new_data();
  node.data->permissions = directory ? 0755 : 0644;
  node.data->access_time.seconds = state().wall;
  node.data->modification_time.seconds = state().wall;
  return &(state().nodes[key] = node);
}

bool is_read_only(const FileData &data) { return (data.permissions & owner_write) == 0; }

// Sets the POSIX bits and keeps the read-only attribute in step with them.
void apply_permissions(FileData *data, uint32_t permissions) {
  data->permissions = permissions & 07777;
  if (permissions & owner_write)
    data->attributes &= ~attribute_read_only;
  else
    data->attributes |= attribute_read_only;
}

void set_read_only(FileData *data, bool read_only) {
  if (read_only) {
    data->permissions &= ~uint32_t(0222);
    data->attributes |= attribute_read_only;
  } else {
    data->permissions |= owner_write;
    data->attributes &= ~attribute_read_only;
  }
}

nstring resolve_or_throw(const nstring &name) {
  nstring full;
  if (!resolve_name(name.c_str(), &full))
    throw std::invalid_argument("fake platform: name too long");
  return full;
}

void make_directories(const nstring &full) {
  nstring key = key_of(full);
  if (find_key(key))
    return;
  make_directories(parent_of(trimmed(full)));
  make_node(full, true);
}

Node &control_node(const nstring &name) {
  Node *node = find_key(key_of(resolve_or_throw(name)));
  if (!node)
    throw std::invalid_argument("fake platform: no such name in a test control");
  return *node;
}

// ------------------------------------------------------------ faults

// Counts a call of `operation`; true (errno set) when it is made to fail.
bool call_fails(fake::Operation operation) {
  State &s = state();
  int call = ++s.counts[operation];
  if (s.call_budget >= 0 && ++s.calls_made > s.call_budget) {
    errno = EIO;
    return true;
  }
  for (auto &hook : s.hooks[operation]) {
    if (hook.first == call && hook.second) {
      std::function<void()> action = hook.second;
      hook.second = nullptr;
      action();
    }
  }
  for (const FaultRule &rule : s.rules[operation]) {
    if (rule.transfer_only || (rule.nth != 0 && rule.nth != call))
      continue;
    errno = rule.error_number;
    return true;
  }
  return false;
}

// The bytes the current call of a read or write may move.
uint32_t transfer_limit(fake::Operation operation, uint32_t count) {
  State &s = state();
  int call = s.counts[operation];
  for (const FaultRule &rule : s.rules[operation])
    if (rule.transfer_only && (rule.nth == 0 || rule.nth == call) && rule.bytes < count)
      count = rule.bytes;
  return count;
}

Descriptor *find_descriptor(int descriptor) {
  auto found = state().descriptors.find(descriptor);
  if (found == state().descriptors.end()) {
    errno = EBADF;
    return nullptr;
  }
  return &found->second;
}

// ------------------------------------------------------------ search

bool name_matches(const nstring &pattern, const nstring &name) {
  return pattern_matches(pattern.c_str(), name.c_str(), native_path_style);
}

uint32_t entry_attributes(const Node &node) {
  uint32_t attributes = node.data->attributes;
  if (node.directory)
    attributes |= attribute_directory;
  nstring own = last_component(node.name);
  if (hidden_by_name(own, native_path_style))
    attributes |= attribute_hidden;
  return attributes;
}

// ------------------------------------------------------------ clocks

const char *const day_names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The ctime text of `seconds` as universal time.
std::string ctime_text(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int weekday = int(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t day_of_era = z - era * 146097;
  int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  int64_t shifted_month = (5 * day_of_year + 2) / 153;
  int day = int(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  int month = int(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  // The Windows runtime writes the day of the month with a leading zero.
  const char *format =
      windows_names ? "%s %s %02d %02d:%02d:%02d %lld\n" : "%s %s %2d %02d:%02d:%02d %lld\n";
  std::snprintf(text, sizeof text, format, day_names[weekday], month_names[month - 1], day,
                int(rest / 3600), int(rest / 60 % 60), int(rest % 60),
                static_cast<long long>(year));
  return text;
}

template <class C> std::string narrow_of(const C *text) {
  std::string narrow;
  for (; *text; ++text) {
    if (sizeof(C) == 1)
      narrow.push_back(static_cast<char>(*text));
    else
      narrow.push_back(static_cast<uint32_t>(*text) < 0x80 ? static_cast<char>(*text) : '?');
  }
  return narrow;
}

void reset_state(State *s) {
  *s = State();
  if (windows_names)
    s->current_directory = NT("C:\\work");
  else
    s->current_directory = NT("/work");
}

State &state() {
  static State the_state;
  static bool ready = false;
  if (!ready) {
    ready = true;
    reset_state(&the_state);
    make_directories(the_state.current_directory);
  }
  return the_state;
}

// ------------------------------------------------------------ file data

int64_t hole_bytes(const FileData &data) {
  int64_t total = 0;
  for (const auto &hole : data.holes)
    total += hole.second;
  return total;
}

// Written bytes take the place of any hole they fall into.
void fill_holes(FileData *data, int64_t from, int64_t to) {
  std::vector<std::pair<int64_t, int64_t>> kept;
  for (const auto &hole : data->holes) {
    int64_t end = hole.first + hole.second;
    if (end <= from || hole.first >= to) {
      kept.push_back(hole);
      continue;
    }
    if (hole.first < from)
      kept.push_back({hole.first, from - hole.first});
    if (end > to)
      kept.push_back({to, end - to});
  }
  data->holes = kept;
}

void add_hole(FileData *data, int64_t offset, int64_t length) {
  if (!data->holes.empty() && data->holes.back().first + data->holes.back().second == offset)
    data->holes.back().second += length;
  else
    data->holes.push_back({offset, length});
}

// Grows or overwrites `data` at `position`; the bytes actually written.
uint32_t put_bytes(FileData *data, int64_t position, const char *bytes, uint32_t count) {
  State &s = state();
  int64_t end = position + int64_t(count);
  int64_t size = int64_t(data->content.size());
  if (s.free_space >= 0 && end - size > s.free_space) {
    int64_t fits = size + s.free_space - position;
    count = fits > 0 ? uint32_t(fits) : 0;
    end = position + int64_t(count);
  }
  if (count == 0)
    return 0;
  if (end > size) {
    if (s.free_space >= 0)
      s.free_space -= end - size;
    data->content.resize(size_t(end), '\0');
  }
  std::memcpy(&data->content[size_t(position)], bytes, count);
  fill_holes(data, position, end);
  data->modification_time.seconds = s.wall;
  data->modification_time.nanoseconds = 0;
  return count;
}

void fill_status(const Node &node, FileStatus *status);

} // namespace

struct DirectorySearch {
  std::vector<DirectoryEntry> entries;
  std::vector<nstring> keys; // of each entry's node; empty for "." and ".."
  size_t next = 0;
};

struct TextStream {
  std::shared_ptr<FileData> data;
  size_t position = 0;
};

// ================================================================ controls

namespace fake {

void reset() {
  State &s = state();
  reset_state(&s);
  make_directories(s.current_directory);
}

void add_file(const nstring &name, const std::string &content, int64_t modification_seconds,
              bool read_only) {
  nstring full = resolve_or_throw(name);
  nstring key = key_of(full);
  make_directories(parent_of(trimmed(full)));
  Node *node = find_key(key);
  if (!node)
    node = make_node(full, false);
  node->directory = false;
  node->data->content = content;
  node->data->holes.clear();
  node->data->access_time = FileTime{modification_seconds, 0};
  node->data->modification_time = FileTime{modification_seconds, 0};
  set_read_only(node->data.get(), read_only);
}

void add_directory(const nstring &name) { make_directories(resolve_or_throw(name)); }

bool exists(const nstring &name) {
  nstring full;
  return resolve_name(name.c_str(), &full) && find_key(key_of(full)) != nullptr;
}

bool is_directory(const nstring &name) { return exists(name) && control_node(name).directory; }

std::vector<nstring> names() {
  std::vector<nstring> all;
  for (const auto &item : state().nodes)
    if (!is_root(item.first))
      all.push_back(item.second.name);
  return all;
}

bool is_read_only(const nstring &name) {
  return exists(name) && zorov::is_read_only(*control_node(name).data);
}

std::string content(const nstring &name) {
  return exists(name) ? control_node(name).data->content : std::string();
}

std::string flushed_content(const nstring &name) {
  if (!exists(name))
    return std::string();
  const FileData &data = *control_node(name).data;
  return data.content.substr(0, data.flushed_length);
}

FileStatus status_of(const nstring &name) {
  FileStatus status;
  fill_status(control_node(name), &status);
  return status;
}

void set_holes(const nstring &name, const std::vector<std::pair<int64_t, int64_t>> &holes) {
  FileData *data = control_node(name).data.get();
  for (const auto &hole : holes)
    if (data->content.substr(size_t(hole.first), size_t(hole.second)) !=
        std::string(size_t(hole.second), '\0'))
      throw std::invalid_argument("a hole holds only zeros");
  data->holes = holes;
}

std::vector<std::pair<int64_t, int64_t>> holes(const nstring &name) {
  return control_node(name).data->holes;
}

void add_link(const nstring &link, const nstring &target) {
  Node &existing = control_node(target);
  nstring full = resolve_or_throw(link);
  make_directories(parent_of(trimmed(full)));
  Node *node = make_node(full, existing.directory);
  node->data = existing.data;
}

void add_symbolic_link(const nstring &link, const nstring &target) {
  nstring full = resolve_or_throw(link);
  make_directories(parent_of(trimmed(full)));
  Node *node = make_node(full, false);
  node->link = resolve_or_throw(target);
}

bool is_symbolic_link(const nstring &name) {
  nstring full;
  if (!resolve_name(name.c_str(), &full))
    return false;
  Node *node = find_key(key_of(full));
  return node && !node->link.empty();
}

void set_foreign_owner(const nstring &name) { control_node(name).data->foreign = true; }

void before_call(Operation operation, int nth, std::function<void()> action) {
  state().hooks[operation].push_back(std::make_pair(nth, action));
}

void set_attributes(const nstring &name, uint32_t attributes) {
  FileData *data = control_node(name).data.get();
  data->attributes = attributes & ~attribute_directory;
  set_read_only(data, (attributes & attribute_read_only) != 0);
}

uint32_t attributes_of(const nstring &name) { return entry_attributes(control_node(name)); }

void set_permissions(const nstring &name, uint32_t permissions) {
  apply_permissions(control_node(name).data.get(), permissions);
}

void set_times(const nstring &name, FileTime access, FileTime modification) {
  FileData *data = control_node(name).data.get();
  data->access_time = access;
  data->modification_time = modification;
}

void set_file_version(const nstring &name, uint32_t most, uint32_t least) {
  FileData *data = control_node(name).data.get();
  data->version_most = most;
  data->version_least = least;
}

void set_current_directory(const nstring &name) {
  nstring full = resolve_or_throw(name);
  make_directories(full);
  if (!is_root(full) && is_separator_char(full.back()))
    full.pop_back();
  state().current_directory = full;
}

void set_free_space(int64_t bytes) { state().free_space = bytes; }
void set_entry_limit(int entries) { state().entry_limit = entries; }
void set_call_budget(int calls) { state().call_budget = calls; }

int open_descriptor_count() { return int(state().descriptors.size()); }
int open_text_count() { return state().open_texts; }
int open_search_count() { return state().open_searches; }
int allocated_blocks() { return state().blocks; }

std::string console_output() { return state().output; }
std::string console_error() { return state().error; }
void clear_console() {
  state().output.clear();
  state().error.clear();
}

void set_clock(uint32_t milliseconds, uint32_t step) {
  state().clock = milliseconds;
  state().clock_step = step;
}

void set_wall_clock(int64_t seconds, int64_t step) {
  state().wall = seconds;
  state().wall_step = step;
}

std::vector<uint32_t> pauses() { return state().pauses; }
std::vector<std::string> timer_events() { return state().timer_events; }

void fail_call(Operation operation, int nth, int error_number) {
  FaultRule rule;
  rule.nth = nth;
  rule.error_number = error_number;
  state().rules[operation].push_back(rule);
}

void short_transfer(Operation operation, int nth, uint32_t bytes) {
  FaultRule rule;
  rule.nth = nth;
  rule.transfer_only = true;
  rule.bytes = bytes;
  state().rules[operation].push_back(rule);
}

void clear_faults() {
  State &s = state();
  for (std::vector<FaultRule> &rules : s.rules)
    rules.clear();
  s.memory_limited = false;
}

void limit_memory(size_t bytes, int count) {
  state().memory_limited = true;
  state().memory_bytes = bytes;
  state().memory_count = count;
}

int call_count(Operation operation) { return state().counts[operation]; }

void set_environment(const char *name, const nstring &value) { state().environment[name] = value; }
void set_terminal(bool is_terminal) { state().terminal = is_terminal; }
void set_window_available(bool available) { state().window_available = available; }
std::vector<std::string> window_events() { return state().window_events; }
void set_copy_chunk(uint32_t bytes) { state().copy_chunk = bytes > 0 ? bytes : 1; }
void add_case_spelling(const nstring &spelling, const nstring &target) {
  add_link(spelling, target);
  Node &node = control_node(spelling);
  node.unlisted = true;
  node.own_index = state().next_index++;
}

std::vector<std::string> help_files_shown() { return state().help_files; }

std::vector<std::string> watch_events() { return state().watch_events; }

} // namespace fake

// ================================================================ platform

int file_status(const nchar *name, FileStatus *status) {
  if (call_fails(fake::op_status))
    return -1;
  Node *node = find_name(name);
  if (!node)
    return -1;
  fill_status(*node, status);
  return 0;
}

namespace {

void fill_status(const Node &node, FileStatus *status) {
  const FileData &data = *node.data;
  *status = FileStatus();
  status->size = node.directory ? 0 : int64_t(data.content.size());
  status->access_time = data.access_time;
  status->modification_time = data.modification_time;
  status->is_directory = node.directory;
  status->is_regular = !node.directory;
  status->read_only = is_read_only(data);
  status->permissions = windows_names ? 0 : data.permissions;
  status->device = 1;
  status->file_index = node.own_index != 0 ? node.own_index : data.index;
  if (!windows_names)
    status->allocated = status->size - hole_bytes(data);
}

} // namespace

int resolve_full_path(const nchar *name, nstring *full) {
  if (call_fails(fake::op_resolve))
    return -1;
  if (!resolve_name(name, full)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}

namespace {

// As on POSIX, an entry's status is taken as it is yielded; the Windows
// find record carries no identity, so there the caller asks for it.
void yield_entry(DirectorySearch *search, DirectoryEntry *entry) {
  size_t index = search->next++;
  *entry = search->entries[index];
  Node *node =
      windows_names || search->keys[index].empty() ? nullptr : find_key(search->keys[index]);
  if (!node)
    return;
  entry->attributes = entry_attributes(*node);
  fill_status(*node, &entry->status);
  entry->status_known = true;
}

} // namespace

DirectorySearch *search_first(const nchar *pattern, DirectoryEntry *entry) {
  if (call_fails(fake::op_search))
    return nullptr;
  nstring text = pattern ? pattern : NT("");
  size_t cut = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (is_separator_char(text[i]) || (windows_names && i == 1 && text[i] == NT(':')))
      cut = i + 1;
  nstring final_component = text.substr(cut);
  nstring directory_key;
  Node *directory = find_name(text.substr(0, cut).c_str(), &directory_key);
  if (!directory || !directory->directory || final_component.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  // Each entry with the key of its node (none for "." and "..").
  std::vector<std::pair<DirectoryEntry, nstring>> found;
  if (!is_root(directory_key)) {
    for (const nchar *dots : {NT("."), NT("..")}) {
      if (name_matches(final_component, dots)) {
        DirectoryEntry dot_entry;
        dot_entry.name = dots;
        dot_entry.attributes = attribute_directory;
        found.push_back({dot_entry, nstring()});
      }
    }
  }
  for (const auto &item : state().nodes) {
    if (is_root(item.first) || item.second.unlisted || parent_of(item.first) != directory_key)
      continue;
    DirectoryEntry match;
    match.name = last_component(item.second.name);
    if (!name_matches(final_component, match.name))
      continue;
    match.attributes = entry_attributes(item.second);
    found.push_back({match, item.first});
  }
  if (found.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  std::sort(found.begin(), found.end(), [](const auto &first, const auto &second) {
    return listed_before(first.first.name, second.first.name, native_path_style);
  });
  auto *search = new DirectorySearch;
  for (const auto &item : found) {
    search->entries.push_back(item.first);
    search->keys.push_back(item.second);
  }
  yield_entry(search, entry);
  ++state().open_searches;
  return search;
}

int search_next(DirectorySearch *search, DirectoryEntry *entry) {
  if (call_fails(fake::op_search_next))
    return -1;
  if (!search || search->next >= search->entries.size())
    return 0;
  yield_entry(search, entry);
  return 1;
}

void search_close(DirectorySearch *search) {
  if (!search)
    return;
  delete search;
  --state().open_searches;
}

int make_directory(const nchar *name) {
  if (call_fails(fake::op_make_directory))
    return -1;
  nstring full;
  if (!resolve_name(name, &full)) {
    errno = too_long_error;
    return -1;
  }
  nstring key = key_of(full);
  if (find_key(key)) {
    errno = EEXIST;
    return -1;
  }
  if (!parent_ready(key) || !room_for_entry())
    return -1;
  make_node(full, true);
  return 0;
}

int remove_file(const nchar *name) {
  if (call_fails(fake::op_remove))
    return -1;
  nstring key;
  Node *node = find_name(name, &key, false);
  if (!node)
    return -1;
  if (node->directory) {
    errno = windows_names ? EACCES : EISDIR;
    return -1;
  }
  if (windows_names && is_read_only(*node->data)) {
    errno = EACCES;
    return -1;
  }
  state().nodes.erase(key);
  return 0;
}

int rename_file(const nchar *from, const nchar *to) {
  if (call_fails(fake::op_rename))
    return -1;
  nstring from_key;
  Node *source = find_name(from, &from_key, false);
  if (!source)
    return -1;
  nstring to_full;
  if (!resolve_name(to, &to_full)) {
    errno = too_long_error;
    return -1;
  }
  nstring to_key = key_of(to_full);
  if (to_key == from_key)
    return 0;
  Node *target = find_key(to_key);
  if (target) {
    if (windows_names) {
      errno = EEXIST;
      return -1;
    }
    if (target->directory || source->directory) {
      errno = target->directory ? EISDIR : ENOTDIR;
      return -1;
    }
  }
  if (!parent_ready(to_key))
    return -1;
  if (source->directory && to_key.compare(0, from_key.size() + 1, from_key + separator()) == 0) {
    errno = EINVAL;
    return -1;
  }
  if (!is_root(to_full) && is_separator_char(to_full.back()))
    to_full.pop_back();
  // Move the entry and everything below it.
  State &s = state();
  std::map<nstring, Node> moved;
  nstring below = from_key + separator();
  for (auto item = s.nodes.begin(); item != s.nodes.end();) {
    if (item->first == from_key || item->first.compare(0, below.size(), below) == 0) {
      Node node = item->second;
      size_t tail = item->first.size() - from_key.size();
      node.name = to_full + node.name.substr(node.name.size() - tail);
      moved[to_key + item->first.substr(from_key.size())] = node;
      item = s.nodes.erase(item);
    } else {
      ++item;
    }
  }
  for (auto &item : moved)
    s.nodes[item.first] = item.second;
  return 0;
}

int make_writable(const nchar *name) {
  if (call_fails(fake::op_make_writable))
    return -1;
  Node *node = find_name(name);
  if (!node)
    return -1;
  set_read_only(node->data.get(), false);
  return 0;
}

int set_file_times(const nchar *name, FileTime access, FileTime modification) {
  if (call_fails(fake::op_set_times))
    return -1;
  Node *node = find_name(name);
  if (!node)
    return -1;
  if (windows_names && !node->directory && is_read_only(*node->data)) {
    errno = EACCES;
    return -1;
  }
  node->data->access_time = access;
  node->data->modification_time = modification;
  return 0;
}

// As on the real platforms: POSIX sets them through the descriptor, the
// Windows runtime only by name.
int set_open_file_times(int descriptor, FileTime access, FileTime modification) {
  if (windows_names) {
    errno = ENOSYS;
    return -1;
  }
  if (call_fails(fake::op_set_times))
    return -1;
  Descriptor *open = find_descriptor(descriptor);
  if (!open)
    return -1;
  open->data->access_time = access;
  open->data->modification_time = modification;
  return 0;
}

int copy_file_attributes(const nchar *source, const nchar *written) {
  if (call_fails(fake::op_attributes))
    return -1;
  Node *from = find_name(source);
  Node *to = from ? find_name(written) : nullptr;
  if (!from || !to)
    return -1;
  if (windows_names) {
    uint32_t attributes = (from->data->attributes | attribute_archive) & ~attribute_directory;
    to->data->attributes = attributes;
    set_read_only(to->data.get(), (attributes & attribute_read_only) != 0);
  } else {
    to->data->permissions = from->data->permissions;
    to->data->attributes = from->data->attributes;
  }
  return 0;
}

namespace {

// A new file node at `name`, made only when nothing has the name, not even
// a link; null with errno otherwise.
Node *make_new_node(const nchar *name) {
  nstring full;
  if (!resolve_name(name, &full)) {
    errno = too_long_error;
    return nullptr;
  }
  nstring key = key_of(full);
  if (find_key(key)) {
    errno = EEXIST;
    return nullptr;
  }
  if (is_separator_char(full.back())) {
    errno = windows_names ? ENOENT : EISDIR;
    return nullptr;
  }
  if (!parent_ready(key))
    return nullptr;
  return make_node(full, false);
}

int open_descriptor_on(const std::shared_ptr<FileData> &data, OpenMode mode) {
  State &s = state();
  Descriptor descriptor;
  descriptor.data = data;
  descriptor.mode = mode;
  descriptor.position = mode == open_append ? int64_t(data->content.size()) : 0;
  int number = s.next_descriptor++;
  s.descriptors[number] = descriptor;
  return number;
}

} // namespace

int create_new_file(const nchar *name, uint32_t permissions, FileIdentity *made) {
  if (call_fails(fake::op_open))
    return -1;
  Node *node = make_new_node(name);
  if (!node)
    return -1;
  apply_permissions(node->data.get(), windows_names ? 0644 : permissions & ~posix_umask);
  made->device = 1;
  made->file_index = node->data->index;
  return open_descriptor_on(node->data, open_write_truncate);
}

int rename_made_file(const nchar *from, const nchar *to, const FileIdentity &made) {
  if (call_fails(fake::op_rename))
    return -1;
  nstring from_key;
  Node *node = find_name(from, &from_key, false);
  if (!node)
    return -1;
  if (!node->link.empty() || node->directory || node->data->index != made.file_index) {
    errno = ENOENT;
    return -1;
  }
  nstring to_full;
  if (!resolve_name(to, &to_full)) {
    errno = too_long_error;
    return -1;
  }
  nstring to_key = key_of(to_full);
  Node *target = find_key(to_key);
  if (target && target->directory) {
    errno = EISDIR;
    return -1;
  }
  if (!parent_ready(to_key))
    return -1;
  // The system's replacing rename, on both builds: a link at `to` is
  // replaced, never followed.
  Node moved = *node;
  moved.name = to_full;
  state().nodes.erase(from_key);
  state().nodes[to_key] = moved;
  return 0;
}

NameStanding name_standing(const nchar *name) {
  if (call_fails(fake::op_status))
    return name_refused;
  Node *node = find_name(name, nullptr, false);
  if (!node)
    return errno == ENOENT ? name_missing : name_refused;
  if (!node->link.empty() || node->directory || node->data->foreign)
    return name_refused;
  return name_own_file;
}

uint32_t random_number() { return 0x5eed0000u + state().random_calls++; }

int open_file(const nchar *name, OpenMode mode, ShareMode share, uint32_t permissions) {
  (void)share;
  if (call_fails(fake::op_open))
    return -1;
  nstring full;
  if (!resolve_name(name, &full)) {
    errno = too_long_error;
    return -1;
  }
  nstring key = key_of(full);
  Node *node = find_key(key);
  if (!follow_links(&full, &key, &node))
    return -1;
  if (node && node->directory) {
    errno = windows_names ? EACCES : EISDIR;
    return -1;
  }
  if (mode == open_read && !node) {
    errno = ENOENT;
    return -1;
  }
  if (mode != open_read) {
    if (node && is_read_only(*node->data)) {
      errno = EACCES;
      return -1;
    }
    if (!node) {
      if (is_separator_char(full.back())) {
        errno = windows_names ? ENOENT : EISDIR;
        return -1;
      }
      if (!parent_ready(key) || !room_for_entry())
        return -1;
      node = make_node(full, false);
      // Windows gives a new file read and write permission whatever is asked.
      apply_permissions(node->data.get(), windows_names ? 0644 : permissions & ~posix_umask);
    } else if (mode == open_write_truncate) {
      node->data->content.clear();
      node->data->holes.clear();
      node->data->modification_time = FileTime{state().wall, 0};
    }
  }
  return open_descriptor_on(node->data, mode);
}

namespace {

// The open descriptor a read or write goes through: null (errno set) when
// the call is made to fail, the descriptor isn't open, or it was opened in
// `refused_mode`, which doesn't allow the transfer.
Descriptor *usable_descriptor(fake::Operation operation, int descriptor, OpenMode refused_mode) {
  if (call_fails(operation))
    return nullptr;
  Descriptor *open = find_descriptor(descriptor);
  if (open && open->mode == refused_mode) {
    errno = EBADF;
    return nullptr;
  }
  return open;
}

} // namespace

int32_t read_file(int descriptor, void *buffer, uint32_t count) {
  Descriptor *open = usable_descriptor(fake::op_read, descriptor, open_write_truncate);
  if (!open)
    return -1;
  count = transfer_limit(fake::op_read, count);
  const std::string &content = open->data->content;
  int64_t available = int64_t(content.size()) - open->position;
  if (available <= 0)
    return 0;
  uint32_t moved = available < int64_t(count) ? uint32_t(available) : count;
  std::memcpy(buffer, content.data() + open->position, moved);
  open->position += moved;
  return int32_t(moved);
}

int32_t write_file(int descriptor, const void *buffer, uint32_t count) {
  Descriptor *open = usable_descriptor(fake::op_write, descriptor, open_read);
  if (!open)
    return -1;
  count = transfer_limit(fake::op_write, count);
  if (count == 0)
    return 0;
  if (open->mode == open_append)
    open->position = int64_t(open->data->content.size());
  uint32_t moved =
      put_bytes(open->data.get(), open->position, static_cast<const char *>(buffer), count);
  if (moved == 0) {
    errno = ENOSPC;
    return -1;
  }
  open->position += moved;
  return int32_t(moved);
}

int64_t seek_file(int descriptor, int64_t offset) {
  if (call_fails(fake::op_seek))
    return -1;
  Descriptor *open = find_descriptor(descriptor);
  if (!open)
    return -1;
  if (offset < 0) {
    errno = EINVAL;
    return -1;
  }
  open->position = offset;
  return offset;
}

int64_t file_length(int descriptor) {
  if (call_fails(fake::op_length))
    return -1;
  Descriptor *open = find_descriptor(descriptor);
  return open ? int64_t(open->data->content.size()) : -1;
}

int file_extent(int descriptor, int64_t offset, int64_t *end) {
  if (call_fails(fake::op_extent))
    return -1;
  Descriptor *open = find_descriptor(descriptor);
  if (!open)
    return -1;
  const FileData &data = *open->data;
  int64_t size = int64_t(data.content.size());
  *end = size;
  for (const auto &hole : data.holes) {
    if (offset >= hole.first && offset < hole.first + hole.second) {
      *end = hole.first + hole.second;
      return 1;
    }
    if (hole.first > offset) {
      *end = hole.first;
      break;
    }
  }
  if (offset >= size)
    *end = INT64_MAX; // the end, which only a read may find
  return 0;
}

// Counted as a write: it stands for the write of the bytes it adds.
int extend_file(int descriptor, int64_t count) {
  Descriptor *open = usable_descriptor(fake::op_write, descriptor, open_read);
  if (!open)
    return -1;
  FileData *data = open->data.get();
  int64_t size = int64_t(data->content.size());
  data->content.resize(size_t(size + count), '\0');
  add_hole(data, size, count);
  open->position = size + count;
  return 0;
}

int close_file(int descriptor) {
  bool fails = call_fails(fake::op_close);
  int error_number = errno;
  if (!find_descriptor(descriptor))
    return -1;
  // A failed close still lets the descriptor go, as the runtime does.
  state().descriptors.erase(descriptor);
  if (fails) {
    errno = error_number;
    return -1;
  }
  return 0;
}

int64_t stream_length(const nchar *name) {
  if (call_fails(fake::op_stream_length))
    return -1;
  Node *node = find_name(name);
  if (!node)
    return -1;
  if (node->directory) {
    errno = windows_names ? EACCES : EISDIR;
    return -1;
  }
  return int64_t(node->data->content.size());
}

TextStream *open_text(const nchar *name, TextMode mode) {
  if (call_fails(fake::op_open_text))
    return nullptr;
  nstring full;
  if (!resolve_name(name, &full)) {
    errno = too_long_error;
    return nullptr;
  }
  nstring key = key_of(full);
  Node *node = find_key(key);
  if (!follow_links(&full, &key, &node))
    return nullptr;
  if (node && node->directory) {
    errno = windows_names ? EACCES : EISDIR;
    return nullptr;
  }
  if (mode == text_read && !node) {
    errno = ENOENT;
    return nullptr;
  }
  if (mode != text_read) {
    if (node && is_read_only(*node->data)) {
      errno = EACCES;
      return nullptr;
    }
    if (!node) {
      if (!parent_ready(key) || !room_for_entry())
        return nullptr;
      node = make_node(full, false);
    } else if (mode == text_replace) {
      node->data->content.clear();
    }
  }
  auto *stream = new TextStream;
  stream->data = node->data;
  ++state().open_texts;
  return stream;
}

int read_text_line(TextStream *stream, nchar *line, int capacity) {
  if (!stream || capacity < 2) {
    if (capacity == 1)
      line[0] = 0;
    return 0;
  }
  const std::string &content = stream->data->content;
  int length = 0;
  char c = 0;
  while (length < capacity - 1 && stream->position < content.size()) {
    c = content[stream->position++];
    if (c == '\r' && stream->position < content.size() && content[stream->position] == '\n')
      continue;
    line[length++] = nchar(static_cast<unsigned char>(c));
    if (c == '\n')
      break;
  }
  line[length] = 0;
  // The line end of a line that exactly fills the buffer belongs to it.
  if (length == capacity - 1 && c != '\n') {
    size_t rest = content.size() - stream->position;
    if (rest >= 1 && content[stream->position] == '\n')
      stream->position += 1;
    else if (rest >= 2 && content.compare(stream->position, 2, "\r\n") == 0)
      stream->position += 2;
  }
  return length;
}

TextStream *create_new_text(const nchar *name, FileIdentity *made) {
  if (call_fails(fake::op_open_text))
    return nullptr;
  Node *node = make_new_node(name);
  if (!node)
    return nullptr;
  made->device = 1;
  made->file_index = node->data->index;
  auto *stream = new TextStream;
  stream->data = node->data;
  ++state().open_texts;
  return stream;
}

void write_text(TextStream *stream, const char *text, size_t length) {
  if (!stream)
    return;
  stream->data->content.append(text, length);
  stream->data->modification_time = FileTime{state().wall, 0};
}

void flush_text(TextStream *stream) {
  if (stream)
    stream->data->flushed_length = stream->data->content.size();
}

void close_text(TextStream *stream) {
  if (!stream)
    return;
  flush_text(stream);
  delete stream;
  --state().open_texts;
}

void console_write(ConsoleStream stream, const char *text, size_t length) {
  (stream == console_output ? state().output : state().error).append(text, length);
}

void console_flush() {}

std::string narrow_text(const nchar *text) { return text ? narrow_of(text) : std::string(); }

std::string error_text(int error_number) { return std::strerror(error_number); }

std::string system_message(int code) { return std::strerror(code); }

uint32_t milliseconds_now() {
  State &s = state();
  uint32_t now = s.clock;
  s.clock += s.clock_step;
  return now;
}

int64_t wall_seconds() {
  State &s = state();
  int64_t now = s.wall;
  s.wall += s.wall_step;
  return now;
}

void pause_milliseconds(uint32_t milliseconds) {
  state().pauses.push_back(milliseconds);
  state().clock += milliseconds;
}

void begin_timer_resolution() { state().timer_events.push_back("begin"); }
void end_timer_resolution() { state().timer_events.push_back("end"); }

std::string local_time_text() { return ctime_text(state().wall); }

void *allocate_memory(size_t size) {
  State &s = state();
  if (call_fails(fake::op_allocate))
    return nullptr;
  if (s.memory_limited) {
    if (size > s.memory_bytes || s.memory_count == 0) {
      errno = ENOMEM;
      return nullptr;
    }
    if (s.memory_count > 0)
      --s.memory_count;
  }
  void *block = std::malloc(size > 0 ? size : 1);
  if (block)
    ++s.blocks;
  return block;
}

void free_memory(void *block) {
  if (!block)
    return;
  std::free(block);
  --state().blocks;
}

void exit_process(int code) { throw fake::ProcessExit{code}; }

namespace {

// A variable set with fake::set_environment; Windows matches its name
// without regard to case.
bool environment_value(const char *name, nstring *value) {
  for (const auto &item : state().environment) {
    bool same = item.first.size() == std::strlen(name);
    for (size_t i = 0; same && i < item.first.size(); ++i)
      same = names_ignore_case(native_path_style)
                 ? ascii_upper(item.first[i]) == ascii_upper(name[i])
                 : item.first[i] == name[i];
    if (same) {
      *value = item.second;
      return true;
    }
  }
  return false;
}

} // namespace

void read_file_version(const nchar *name, uint32_t *most, uint32_t *least) {
  Node *node = find_name(name);
  *most = node ? node->data->version_most : 0;
  *least = node ? node->data->version_least : 0;
}

namespace {

// The platform copy's data and metadata, from `done` on: 0 or errno.
int copy_data_into(Node *to, const FileData &data, int64_t done, CopyProgress progress,
                   void *context) {
  const std::string &bytes = data.content;
  int64_t total = int64_t(bytes.size());
  to->data->content.resize(size_t(done));
  if (progress)
    progress(total, done, context);
  while (done < total) {
    uint32_t chunk = uint32_t(std::min<int64_t>(state().copy_chunk, total - done));
    uint32_t moved = put_bytes(to->data.get(), done, bytes.data() + done, chunk);
    done += moved;
    if (moved < chunk)
      return errno = ENOSPC;
    if (progress)
      progress(total, done, context);
  }
  to->data->access_time = data.access_time;
  to->data->modification_time = data.modification_time;
  to->data->attributes = data.attributes;
  to->data->permissions = data.permissions & ~posix_umask;
  to->data->version_most = data.version_most;
  to->data->version_least = data.version_least;
  return 0;
}

} // namespace

int platform_copy_file(const nchar *source, const nchar *destination, bool restartable,
                       CopyProgress progress, void *context) {
  if (call_fails(fake::op_platform_copy))
    return errno;
  Node *from = find_name(source);
  if (!from)
    return errno;
  if (from->directory)
    return errno = EACCES;
  std::shared_ptr<FileData> data = from->data;
  nstring full;
  if (!resolve_name(destination, &full))
    return errno = too_long_error;
  nstring key = key_of(full);
  Node *to = find_key(key);
  if (!follow_links(&full, &key, &to))
    return errno;
  if (to && (to->directory || is_read_only(*to->data)))
    return errno = EACCES;
  if (to && to->data == data)
    return errno = EACCES; // the file is open for reading: it can't be replaced
  if (!to) {
    if (!parent_ready(key) || !room_for_entry())
      return errno;
    to = make_node(full, false);
  }
  int64_t done = 0;
  if (restartable)
    done = std::min<int64_t>(int64_t(to->data->content.size()), int64_t(data->content.size()));
  return copy_data_into(to, *data, done, progress, context);
}

int platform_copy_new_file(const nchar *source, const nchar *destination, CopyProgress progress,
                           void *context, FileIdentity *made, bool *taken) {
  *taken = false;
  if (call_fails(fake::op_platform_copy))
    return errno;
  Node *from = find_name(source);
  if (!from)
    return errno;
  if (from->directory)
    return errno = EACCES;
  Node *to = make_new_node(destination);
  if (!to) {
    *taken = errno == EEXIST;
    return errno;
  }
  to->data->permissions = 0600;
  made->device = 1;
  made->file_index = to->data->index;
  return copy_data_into(to, *from->data, 0, progress, context);
}

nstring help_directory() {
  return temporary_directory(native_path_style, environment_value, NT("C:\\WINDOWS"));
}

void show_help_file(const nchar *path) { state().help_files.push_back(narrow_text(path)); }

bool help_text_to_output() { return !windows_names && !state().terminal; }

int progress_window_open(const nchar *caption) {
  state().window_events.push_back("open " + narrow_text(caption));
  return state().window_available ? 1 : 0;
}

void progress_window_position(int percent) {
  state().window_events.push_back("position " + std::to_string(percent));
}

void progress_window_close() { state().window_events.push_back("close"); }

void install_interrupt_handlers() { state().watch_events.push_back("install"); }

void watch_output(const nchar *name, int descriptor, bool temporary) {
  state().watch_events.push_back(std::string("watch ") + (temporary ? "temporary " : "plain ") +
                                 (descriptor >= 0 ? "open " : "opening ") + narrow_text(name));
}

void end_output_watch() { state().watch_events.push_back("end"); }

} // namespace zorov
