// The in-memory platform of the unit tests. Everything lives in one state
// record that reset() rebuilds. Names follow the build's own path style and
// are resolved, matched and listed by the rules the real layers follow, so
// that the program's name handling is exercised as it runs for real.
#include "support/platform_fake.h"

#include "platform/made_names.h"
#include "platform/name_rules.h"
#include "platform/path_syntax.h"
#include "platform/text_lines.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <stdexcept>

namespace zorov {

namespace {

const PathStyle style = native_path_style;
const bool windows = style == path_style_windows;
const nchar separator = preferred_separator<nchar>(style);
const uint32_t posix_umask = 022;
const uint32_t owner_write = 0200;
// The attribute a written file gets on Windows, beside those of its source.
const uint32_t attribute_archive = 0x20;

// The runtime's reasons where the two platforms give different ones.
const int on_directory = windows ? EACCES : EISDIR;          // a directory used as a file
const int too_long = windows ? ENOENT : ENAMETOOLONG;        // the runtime finds no such path
const int on_file_part = windows ? ENOENT : ENOTDIR;         // a file where a directory should be
const int on_trailing_separator = windows ? ENOENT : EISDIR; // a new file named as a directory

typedef std::vector<std::pair<int64_t, int64_t>> Holes; // offset and length, in order

// A file's content and metadata, shared by all of its names.
struct FileData {
  std::string content;
  FileTime access_time, modification_time;
  FileTime change_time; // each file made at a moment of its own
  uint32_t permissions = 0644;
  uint32_t attributes = 0; // the Windows bits, read-only included
  uint64_t index = 0;
  uint32_t version_most = 0, version_least = 0;
  size_t flushed_length = 0; // text handed over by flush_text or close_text
  Holes holes;
  bool foreign = false; // the file belongs to another user
  // A device swallows what is written and reads as empty; a pipe without a
  // reader refuses to be opened.
  enum Kind { regular, device, pipe } kind = regular;
  int64_t reported_size = -1; // what the status says instead, when not -1
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
  std::map<nstring, Node> nodes; // keyed by key_of the full name
  nstring current_directory = windows ? NT("C:\\work") : NT("/work");
  uint64_t next_index = 1;
  std::map<int, Descriptor> descriptors;
  int next_descriptor = 3;
  int open_texts = 0, open_searches = 0;
  int64_t free_space = -1;
  int entry_limit = -1;
  int call_budget = -1, calls_made = 0;
  std::string output, error;
  uint32_t clock = 0, clock_step = 0;
  int64_t wall = 0, wall_step = 0;
  std::vector<uint32_t> pauses;
  std::vector<std::string> timer_events;
  std::vector<FaultRule> rules[fake::op_operation_count];
  std::vector<std::pair<int, std::function<void()>>> hooks[fake::op_operation_count];
  int counts[fake::op_operation_count] = {};
  bool memory_limited = false;
  size_t memory_bytes = 0;
  int memory_count = -1;
  int blocks = 0;
  std::map<std::string, nstring> environment; // keyed by folded name
  bool terminal = false;
  bool window_available = true;
  std::vector<std::string> window_events, help_files, help_texts, watch_events;
  uint32_t copy_chunk = 65536;
  uint32_t random_calls = 0;
};

State &state() {
  static State the_state;
  static bool ready = false;
  if (!ready) {
    ready = true;
    fake::reset();
  }
  return the_state;
}

// Sets errno and gives back what the failing call returns.
template <class T> T fail(int error_number, T result) {
  errno = error_number;
  return result;
}

// ------------------------------------------------------------ names

bool is_root(const nstring &full) {
  return full.size() == size_t(drive_prefix_length(full, style)) + 1 &&
         is_separator(full.back(), style);
}

// A full name without its trailing separator, but for a root's.
nstring trimmed(nstring full) {
  drop_trailing_separator(&full, style);
  return full;
}

// `text` in capitals where letter case is ignored.
template <class C> std::basic_string<C> folded(std::basic_string<C> text) {
  if (names_ignore_case(style))
    for (C &c : text)
      c = ascii_upper(c);
  return text;
}

// The map key of a full name.
nstring key_of(const nstring &full) { return folded(trimmed(full)); }

// The directory of a trimmed full name or of a key.
nstring parent_of(const nstring &name) {
  size_t cut = name.find_last_of(separator);
  if (cut == nstring::npos)
    return name;
  nstring parent = name.substr(0, cut);
  return is_root(parent + separator) ? parent + separator : parent;
}

nstring last_component(const nstring &full) {
  return full.substr(full.find_last_of(separator) + 1);
}

std::shared_ptr<FileData> new_data(uint32_t permissions) {
  auto data = std::make_shared<FileData>();
  data->index = state().next_index++;
  data->permissions = permissions;
  data->access_time.seconds = data->modification_time.seconds = state().wall;
  data->change_time = FileTime{state().wall, int32_t(data->index % 1000000000u)};
  return data;
}

Node *make_node(const nstring &full, bool directory) {
  Node node;
  node.name = trimmed(full);
  node.directory = directory;
  node.data = new_data(directory ? 0755 : 0644);
  return &(state().nodes[key_of(full)] = node);
}

// The node at a key; drive roots always exist.
Node *node_at(const nstring &key) {
  auto found = state().nodes.find(key);
  if (found != state().nodes.end())
    return &found->second;
  return is_root(key) ? make_node(key, true) : nullptr;
}

// Where a name leads: its full name, the key of its node, and the node, null
// when nothing has the name.
struct Place {
  nstring full, key;
  Node *node = nullptr;
};

// Whether no component of a full name is longer than a file system takes.
bool components_fit(const nstring &full) {
  size_t start = 0;
  for (size_t i = 0; i <= full.size(); ++i) {
    if (i < full.size() && !is_separator(full[i], style))
      continue;
    if (i - start > component_limit(style))
      return false;
    start = i + 1;
  }
  return true;
}

// Resolves `name` against the current directory and, when `follow`, the
// symbolic links it leads through. False (errno) for a name beyond the limit
// or with a component beyond a file system's, and for links that go round in
// a circle.
bool locate(const nchar *name, Place *place, bool follow = true) {
  place->full = resolve_by_text(state().current_directory, nstring(name ? name : NT("")), style);
  if (!fits_path_buffer(place->full) || !components_fit(place->full))
    return fail(too_long, false);
  place->key = key_of(place->full);
  place->node = node_at(place->key);
  for (int depth = 0; follow && place->node && !place->node->link.empty(); ++depth) {
    if (depth == 40)
      return fail(ELOOP, false);
    place->full = place->node->link;
    place->key = key_of(place->full);
    place->node = node_at(place->key);
  }
  return true;
}

// The node `name` stands for, or null with errno (ENOENT when nothing has
// the name). Links are followed unless the call acts on the name itself.
Node *existing(const nchar *name, bool follow = true, Place *where = nullptr) {
  Place place;
  if (!locate(name, &place, follow))
    return nullptr;
  if (where)
    *where = place;
  return place.node ? place.node : fail<Node *>(ENOENT, nullptr);
}

// Counts a call of `operation` on `name`: the node, or null with errno when
// the call is made to fail or nothing has the name.
Node *counted(fake::Operation operation, const nchar *name, bool follow = true,
              Place *where = nullptr);

// Whether an entry may go at `key`: its parent is a directory.
bool parent_ready(const nstring &key) {
  Node *parent = node_at(parent_of(key));
  return parent && parent->directory ? true : fail(parent ? on_file_part : ENOENT, false);
}

// A new entry at `place`, while the file system has room for one more.
Node *make_entry(const Place &place, bool directory) {
  State &s = state();
  if (!parent_ready(place.key))
    return nullptr;
  if (s.entry_limit >= 0 && int(s.nodes.size()) >= s.entry_limit)
    return fail<Node *>(ENOSPC, nullptr);
  return make_node(place.full, directory);
}

// A new file made only where nothing has the name, not even a link.
Node *make_new_file(const nchar *name) {
  Place place;
  if (!locate(name, &place, false))
    return nullptr;
  if (place.node)
    return fail<Node *>(EEXIST, nullptr);
  if (ends_with_separator(place.full, style))
    return fail<Node *>(on_trailing_separator, nullptr);
  return make_entry(place, false);
}

// Moves the entry at `source`, and everything below it, to `target`,
// replacing what is there.
int move_entry(const Place &source, const Place &target) {
  nstring below = source.key + separator;
  if (!parent_ready(target.key))
    return -1;
  if (source.node->directory && target.key.compare(0, below.size(), below) == 0)
    return fail(EINVAL, -1);
  State &s = state();
  std::map<nstring, Node> moved;
  for (auto item = s.nodes.begin(); item != s.nodes.end();) {
    if (item->first != source.key && item->first.compare(0, below.size(), below) != 0) {
      ++item;
      continue;
    }
    Node node = item->second;
    node.name = trimmed(target.full) + node.name.substr(source.key.size());
    moved[target.key + item->first.substr(source.key.size())] = node;
    item = s.nodes.erase(item);
  }
  for (auto &item : moved)
    s.nodes[item.first] = item.second;
  return 0;
}

// ------------------------------------------------------------ file data

bool read_only(const FileData &data) { return (data.permissions & owner_write) == 0; }

// The set-user-ID and set-group-ID bits: a new file never gets them, and a
// copy keeps the source's only where both files are the user's own: the
// real layer keeps them where the copy has the source's owner, and two files
// of other users may have two owners.
const uint32_t run_as_owner_bits = 06000;

uint32_t bits_for_copy(const FileData &source, const FileData &copy) {
  bool one_owner = !source.foreign && !copy.foreign;
  return one_owner ? source.permissions : source.permissions & ~run_as_owner_bits;
}

// The bits a file made with `permissions` gets: Windows makes every new file
// readable and writable; POSIX takes the umask and the run-as-owner bits away.
uint32_t new_file_permissions(uint32_t permissions) {
  return windows ? 0644 : permissions & ~posix_umask & ~run_as_owner_bits;
}

// Sets the POSIX bits and keeps the read-only attribute in step with them.
void apply_permissions(FileData *data, uint32_t permissions) {
  data->permissions = permissions & 07777;
  if (permissions & owner_write)
    data->attributes &= ~attribute_read_only;
  else
    data->attributes |= attribute_read_only;
}

void set_read_only(FileData *data, bool read_only) {
  apply_permissions(data, read_only ? data->permissions & ~uint32_t(0222)
                                    : data->permissions | owner_write);
}

// Written bytes take the place of any hole they fall into.
void fill_holes(FileData *data, int64_t from, int64_t to) {
  Holes kept;
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

void truncate_data(FileData *data, int64_t length) {
  if (data->kind != FileData::regular)
    return;
  data->content.resize(size_t(length));
  fill_holes(data, length, INT64_MAX);
  data->modification_time = FileTime{state().wall, 0};
}

// Grows or overwrites `data` at `position` as far as the free space lets it:
// the bytes written.
uint32_t put_bytes(FileData *data, int64_t position, const char *bytes, uint32_t count) {
  State &s = state();
  if (data->kind == FileData::device)
    return count;
  int64_t size = int64_t(data->content.size());
  if (s.free_space >= 0 && position + int64_t(count) - size > s.free_space)
    count = uint32_t(std::max<int64_t>(size + s.free_space - position, 0));
  if (count == 0)
    return 0;
  int64_t end = position + int64_t(count);
  if (end > size) {
    if (s.free_space >= 0)
      s.free_space -= end - size;
    data->content.resize(size_t(end), '\0');
  }
  std::memcpy(&data->content[size_t(position)], bytes, count);
  fill_holes(data, position, end);
  data->modification_time = FileTime{s.wall, 0};
  return count;
}

FileStatus status_of_node(const Node &node) {
  const FileData &data = *node.data;
  FileStatus status;
  status.size = node.directory ? 0 : int64_t(data.content.size());
  if (data.reported_size >= 0)
    status.size = data.reported_size;
  status.access_time = data.access_time;
  status.modification_time = data.modification_time;
  status.change_time = data.change_time;
  status.is_directory = node.directory;
  status.is_regular = !node.directory && data.kind == FileData::regular;
  status.read_only = read_only(data);
  status.permissions = windows ? 0 : data.permissions;
  status.device = 1;
  status.file_index = node.own_index != 0 ? node.own_index : data.index;
  if (!windows) {
    // A file whose size says more than it holds takes no disk space (/sys).
    status.allocated = data.reported_size >= 0 ? 0 : status.size;
    for (const auto &hole : data.holes)
      status.allocated -= hole.second;
  }
  return status;
}

uint32_t entry_attributes(const Node &node) {
  uint32_t attributes = node.data->attributes | (node.directory ? attribute_directory : 0);
  return attributes | (hidden_by_name(last_component(node.name), style) ? attribute_hidden : 0);
}

// The data `name` is opened on. Reading wants an existing file; writing
// refuses a read-only one and makes a missing one, with `permissions` less
// the umask on POSIX (Windows makes it writable whatever is asked).
std::shared_ptr<FileData> open_data(const nchar *name, bool write, uint32_t permissions) {
  Place place;
  if (!locate(name, &place))
    return nullptr;
  Node *node = place.node;
  if (node && (node->directory || (write && read_only(*node->data))))
    return fail<std::shared_ptr<FileData>>(node->directory ? on_directory : EACCES, nullptr);
  if (node && node->data->kind == FileData::pipe)
    return fail<std::shared_ptr<FileData>>(ENXIO, nullptr);
  if (node)
    return node->data;
  if (!write)
    return fail<std::shared_ptr<FileData>>(ENOENT, nullptr);
  if (ends_with_separator(place.full, style))
    return fail<std::shared_ptr<FileData>>(on_trailing_separator, nullptr);
  node = make_entry(place, false);
  if (node)
    apply_permissions(node->data.get(), new_file_permissions(permissions));
  return node ? node->data : nullptr;
}

// ------------------------------------------------------------ faults

// Counts a call of `operation`; true (errno set) when it is made to fail.
bool call_fails(fake::Operation operation) {
  State &s = state();
  int call = ++s.counts[operation];
  if (s.call_budget >= 0 && ++s.calls_made > s.call_budget)
    return fail(EIO, true);
  for (auto &hook : s.hooks[operation]) {
    if (hook.first == call && hook.second) {
      std::function<void()> action = hook.second;
      hook.second = nullptr;
      action();
    }
  }
  for (const FaultRule &rule : s.rules[operation])
    if (!rule.transfer_only && (rule.nth == 0 || rule.nth == call))
      return fail(rule.error_number, true);
  return false;
}

Node *counted(fake::Operation operation, const nchar *name, bool follow, Place *where) {
  return call_fails(operation) ? nullptr : existing(name, follow, where);
}

// The bytes the current call of a read or write may move.
uint32_t transfer_limit(fake::Operation operation, uint32_t count) {
  State &s = state();
  int call = s.counts[operation];
  for (const FaultRule &rule : s.rules[operation])
    if (rule.transfer_only && (rule.nth == 0 || rule.nth == call))
      count = std::min(count, rule.bytes);
  return count;
}

Descriptor *descriptor_of(int number) {
  auto found = state().descriptors.find(number);
  return found != state().descriptors.end() ? &found->second : fail<Descriptor *>(EBADF, nullptr);
}

// The open descriptor a read or write goes through: null (errno set) when
// the call is made to fail, the descriptor isn't open, or it was opened in
// `refused_mode`, which doesn't allow the transfer.
Descriptor *usable_descriptor(fake::Operation operation, int number, OpenMode refused_mode) {
  if (call_fails(operation))
    return nullptr;
  Descriptor *open = descriptor_of(number);
  return open && open->mode == refused_mode ? fail<Descriptor *>(EBADF, nullptr) : open;
}

int open_descriptor(const std::shared_ptr<FileData> &data, OpenMode mode) {
  State &s = state();
  int64_t position = mode == open_append ? int64_t(data->content.size()) : 0;
  s.descriptors[s.next_descriptor] = Descriptor{data, position, mode};
  return s.next_descriptor++;
}

// ------------------------------------------------------------ controls' help

nstring resolve_or_throw(const nstring &name) {
  Place place;
  if (!locate(name.c_str(), &place, false))
    throw std::invalid_argument("fake platform: name too long");
  return place.full;
}

void make_directories(const nstring &full) {
  if (node_at(key_of(full)))
    return;
  make_directories(parent_of(trimmed(full)));
  make_node(full, true);
}

// A new node at `name` for a control, its missing parents made first.
Node *control_make(const nstring &name, bool directory) {
  nstring full = resolve_or_throw(name);
  make_directories(parent_of(trimmed(full)));
  return make_node(full, directory);
}

Node &control_node(const nstring &name) {
  Node *node = node_at(key_of(resolve_or_throw(name)));
  if (!node)
    throw std::invalid_argument("fake platform: no such name in a test control");
  return *node;
}

template <class C> std::string narrow_of(const C *text) {
  std::string narrow;
  for (; *text; ++text)
    narrow.push_back(sizeof(C) == 1 || uint32_t(*text) < 0x80 ? char(*text) : '?');
  return narrow;
}

} // namespace

struct DirectorySearch {
  // Each entry with the key of its node, none for "." and "..".
  std::vector<std::pair<DirectoryEntry, nstring>> found;
  size_t next = 0;
};

struct TextStream {
  std::shared_ptr<FileData> data;
  size_t position = 0;
  size_t end = SIZE_MAX; // read no further (a list: its length when opened)
  LineReader reader;
};

// ================================================================ controls

namespace fake {

void reset() {
  State &s = state();
  s = State();
  make_directories(s.current_directory);
}

void add_file(const nstring &name, const std::string &content, int64_t modification_seconds,
              bool read_only) {
  Node *node = node_at(key_of(resolve_or_throw(name)));
  if (!node)
    node = control_make(name, false);
  FileData *data = node->data.get();
  node->directory = false;
  data->content = content;
  data->holes.clear();
  data->access_time = data->modification_time = FileTime{modification_seconds, 0};
  set_read_only(data, read_only);
}

void add_directory(const nstring &name) { make_directories(resolve_or_throw(name)); }

void add_special(const nstring &name, bool pipe, uint32_t permissions) {
  add_file(name, "");
  FileData *data = control_node(name).data.get();
  data->kind = pipe ? FileData::pipe : FileData::device;
  apply_permissions(data, permissions);
}

void set_reported_size(const nstring &name, int64_t size) {
  control_node(name).data->reported_size = size;
}

bool exists(const nstring &name) {
  Place place;
  return locate(name.c_str(), &place, false) && place.node;
}

bool is_directory(const nstring &name) { return exists(name) && control_node(name).directory; }

nstring deep_name(size_t length) {
  nstring name = state().current_directory + separator;
  const size_t directory_length = length - 2;
  while (directory_length - name.size() > 250)
    name += nstring(200, NT('d')) + separator;
  name += nstring(directory_length - name.size() - 1, NT('e')) + separator;
  return name + NT("ff");
}

std::vector<nstring> names() {
  std::vector<nstring> all;
  for (const auto &item : state().nodes)
    if (!is_root(item.first))
      all.push_back(item.second.name);
  return all;
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

FileStatus status_of(const nstring &name) { return status_of_node(control_node(name)); }

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
  Node &existing_node = control_node(target);
  std::shared_ptr<FileData> data = existing_node.data;
  bool directory = existing_node.directory;
  Node *node = control_make(link, directory);
  node->data = data;
}

void add_symbolic_link(const nstring &link, const nstring &target) {
  control_make(link, false)->link = resolve_or_throw(target);
}

bool is_symbolic_link(const nstring &name) {
  return exists(name) && !control_node(name).link.empty();
}

void set_foreign_owner(const nstring &name) { control_node(name).data->foreign = true; }

void add_case_spelling(const nstring &spelling, const nstring &target) {
  add_link(spelling, target);
  Node &node = control_node(spelling);
  node.unlisted = true;
  node.own_index = state().next_index++;
}

void set_attributes(const nstring &name, uint32_t attributes) {
  FileData *data = control_node(name).data.get();
  data->attributes = attributes & ~attribute_directory;
  set_read_only(data, (attributes & attribute_read_only) != 0);
}

void set_permissions(const nstring &name, uint32_t permissions) {
  apply_permissions(control_node(name).data.get(), permissions);
}

void set_file_version(const nstring &name, uint32_t most, uint32_t least) {
  FileData *data = control_node(name).data.get();
  data->version_most = most;
  data->version_least = least;
}

void set_current_directory(const nstring &name) {
  nstring full = resolve_or_throw(name);
  make_directories(full);
  state().current_directory = trimmed(full);
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
  state().rules[operation].push_back(FaultRule{nth, false, error_number, 0});
}

void short_transfer(Operation operation, int nth, uint32_t bytes) {
  state().rules[operation].push_back(FaultRule{nth, true, 0, bytes});
}

void clear_faults() {
  for (std::vector<FaultRule> &rules : state().rules)
    rules.clear();
  state().memory_limited = false;
}

void limit_memory(size_t bytes, int count) {
  state().memory_limited = true;
  state().memory_bytes = bytes;
  state().memory_count = count;
}

int call_count(Operation operation) { return state().counts[operation]; }

void before_call(Operation operation, int nth, std::function<void()> action) {
  state().hooks[operation].push_back(std::make_pair(nth, action));
}

void set_environment(const char *name, const nstring &value) {
  state().environment[folded(std::string(name))] = value;
}
void set_terminal(bool is_terminal) { state().terminal = is_terminal; }
void set_window_available(bool available) { state().window_available = available; }
std::vector<std::string> window_events() { return state().window_events; }
void set_copy_chunk(uint32_t bytes) { state().copy_chunk = std::max(bytes, 1u); }
std::vector<std::string> help_files_shown() { return state().help_files; }
std::vector<std::string> help_texts_shown() { return state().help_texts; }
std::vector<std::string> watch_events() { return state().watch_events; }

} // namespace fake

// ================================================================ platform

int file_status(const nchar *name, FileStatus *status) {
  Node *node = counted(fake::op_status, name);
  if (!node)
    return -1;
  *status = status_of_node(*node);
  return 0;
}

int resolve_full_path(const nchar *name, nstring *full) {
  if (call_fails(fake::op_resolve))
    return -1;
  // By text alone: a component too long for a file system is still a name.
  nstring resolved = resolve_by_text(state().current_directory, nstring(name), style);
  if (!fits_path_buffer(resolved))
    return fail(ENAMETOOLONG, -1);
  *full = resolved;
  return 0;
}

namespace {

DirectoryEntry entry_named(const nstring &name, uint32_t attributes) {
  DirectoryEntry entry;
  entry.name = name;
  entry.attributes = attributes;
  return entry;
}

// As on POSIX, an entry's status is taken as it is yielded; the Windows
// find record carries no identity, so there the caller asks for it.
void yield_entry(DirectorySearch *search, DirectoryEntry *entry) {
  const auto &item = search->found[search->next++];
  *entry = item.first;
  Node *node = windows || item.second.empty() ? nullptr : node_at(item.second);
  if (!node)
    return;
  entry->attributes = entry_attributes(*node);
  entry->status = status_of_node(*node);
  entry->status_known = true;
}

} // namespace

DirectorySearch *search_first(const nchar *pattern, DirectoryEntry *entry) {
  if (call_fails(fake::op_search))
    return nullptr;
  PathParts<nchar> parts = split_path(nstring(pattern ? pattern : NT("")), style);
  nstring final_component = parts.name + parts.extension;
  Place directory;
  Node *node = existing((parts.drive + parts.directory).c_str(), true, &directory);
  if (!node || !node->directory || final_component.empty())
    return fail<DirectorySearch *>(ENOENT, nullptr);
  auto *search = new DirectorySearch;
  std::vector<std::pair<DirectoryEntry, nstring>> &found = search->found;
  for (const nchar *dots : {NT("."), NT("..")})
    if (!is_root(directory.key) && pattern_matches(final_component.c_str(), dots, style))
      found.push_back({entry_named(dots, attribute_directory), nstring()});
  for (const auto &item : state().nodes) {
    DirectoryEntry match =
        entry_named(last_component(item.second.name), entry_attributes(item.second));
    if (!is_root(item.first) && !item.second.unlisted && parent_of(item.first) == directory.key &&
        pattern_matches(final_component.c_str(), match.name.c_str(), style))
      found.push_back({match, item.first});
  }
  if (found.empty()) {
    delete search;
    return fail<DirectorySearch *>(ENOENT, nullptr);
  }
  std::sort(found.begin(), found.end(), [](const auto &first, const auto &second) {
    return listed_before(first.first.name, second.first.name, style);
  });
  yield_entry(search, entry);
  ++state().open_searches;
  return search;
}

int search_next(DirectorySearch *search, DirectoryEntry *entry) {
  if (call_fails(fake::op_search_next))
    return -1;
  if (search->next >= search->found.size())
    return 0;
  yield_entry(search, entry);
  return 1;
}

void search_close(DirectorySearch *search) {
  delete search;
  --state().open_searches;
}

int make_directory(const nchar *name) {
  Place place;
  if (call_fails(fake::op_make_directory) || !locate(name, &place, false))
    return -1;
  if (place.node)
    return fail(EEXIST, -1);
  return make_entry(place, true) ? 0 : -1;
}

int remove_file(const nchar *name) {
  Place place;
  Node *node = counted(fake::op_remove, name, false, &place);
  if (!node)
    return -1;
  if (node->directory || (windows && read_only(*node->data)))
    return fail(node->directory ? on_directory : EACCES, -1);
  state().nodes.erase(place.key);
  return 0;
}

int rename_file(const nchar *from, const nchar *to) {
  Place source, target;
  if (call_fails(fake::op_rename) || !existing(from, false, &source) || !locate(to, &target, false))
    return -1;
  if (target.key == source.key)
    return 0;
  // Windows refuses an existing name; POSIX replaces a file by a file.
  if (target.node && (windows || target.node->directory || source.node->directory))
    return fail(windows ? EEXIST : target.node->directory ? EISDIR : ENOTDIR, -1);
  return move_entry(source, target);
}

int make_writable(const nchar *name) {
  Node *node = counted(fake::op_make_writable, name);
  if (!node)
    return -1;
  set_read_only(node->data.get(), false);
  return 0;
}

int set_file_times(const nchar *name, FileTime access, FileTime modification) {
  Node *node = counted(fake::op_set_times, name);
  if (!node)
    return -1;
  if (windows && !node->directory && read_only(*node->data))
    return fail(EACCES, -1);
  node->data->access_time = access;
  node->data->modification_time = modification;
  return 0;
}

// As on the real platforms: POSIX sets them through the descriptor, the
// Windows runtime only by name.
int set_open_file_times(int descriptor, FileTime access, FileTime modification) {
  if (windows)
    return fail(ENOSYS, -1);
  Descriptor *open = call_fails(fake::op_set_times) ? nullptr : descriptor_of(descriptor);
  if (!open)
    return -1;
  open->data->access_time = access;
  open->data->modification_time = modification;
  return 0;
}

int copy_file_attributes(const nchar *source, const nchar *written) {
  Node *from = counted(fake::op_attributes, source);
  Node *to = from ? existing(written) : nullptr;
  if (!to)
    return -1;
  if (windows) {
    to->data->attributes = (from->data->attributes | attribute_archive) & ~attribute_directory;
    set_read_only(to->data.get(), (to->data->attributes & attribute_read_only) != 0);
  } else {
    to->data->permissions = bits_for_copy(*from->data, *to->data);
    to->data->attributes = from->data->attributes;
  }
  return 0;
}

int open_file(const nchar *name, OpenMode mode, ShareMode share, uint32_t permissions) {
  (void)share;
  std::shared_ptr<FileData> data =
      call_fails(fake::op_open) ? nullptr : open_data(name, mode != open_read, permissions);
  if (!data)
    return -1;
  if (mode == open_write_truncate)
    truncate_data(data.get(), 0);
  return open_descriptor(data, mode);
}

int32_t read_file(int descriptor, void *buffer, uint32_t count) {
  Descriptor *open = usable_descriptor(fake::op_read, descriptor, open_write_truncate);
  if (!open)
    return -1;
  const std::string &content = open->data->content;
  int64_t available = std::max<int64_t>(int64_t(content.size()) - open->position, 0);
  uint32_t moved = uint32_t(std::min<int64_t>(available, transfer_limit(fake::op_read, count)));
  std::memcpy(buffer, content.data() + std::min<int64_t>(open->position, content.size()), moved);
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
  if (moved == 0)
    return fail(ENOSPC, -1);
  open->position += moved;
  return int32_t(moved);
}

int64_t seek_file(int descriptor, int64_t offset) {
  Descriptor *open = call_fails(fake::op_seek) ? nullptr : descriptor_of(descriptor);
  if (!open)
    return -1;
  if (offset < 0)
    return fail(EINVAL, -1);
  return open->position = offset;
}

int64_t file_length(int descriptor) {
  Descriptor *open = call_fails(fake::op_length) ? nullptr : descriptor_of(descriptor);
  if (open && open->data->reported_size >= 0)
    return open->data->reported_size;
  return open ? int64_t(open->data->content.size()) : -1;
}

int file_extent(int descriptor, int64_t offset, int64_t *end) {
  Descriptor *open = call_fails(fake::op_extent) ? nullptr : descriptor_of(descriptor);
  if (!open)
    return -1;
  for (const auto &hole : open->data->holes) {
    if (offset < hole.first)
      return *end = hole.first, 0;
    if (offset < hole.first + hole.second)
      return *end = hole.first + hole.second, 1;
  }
  // At or past the end, only a read may find the end.
  int64_t size = int64_t(open->data->content.size());
  *end = offset >= size ? INT64_MAX : size;
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
  if (!data->holes.empty() && data->holes.back().first + data->holes.back().second == size)
    data->holes.back().second += count;
  else
    data->holes.push_back({size, count});
  open->position = size + count;
  return 0;
}

int close_file(int descriptor) {
  bool fails = call_fails(fake::op_close);
  int error_number = errno;
  if (!descriptor_of(descriptor))
    return -1;
  // A failed close still lets the descriptor go, as the runtime does.
  state().descriptors.erase(descriptor);
  return fails ? fail(error_number, -1) : 0;
}

int64_t stream_length(const nchar *name) {
  Node *node = counted(fake::op_stream_length, name);
  if (!node)
    return -1;
  return node->directory ? fail(on_directory, -1) : int64_t(node->data->content.size());
}

int create_new_file(const nchar *name, uint32_t permissions, FileIdentity *made) {
  Node *node = call_fails(fake::op_open) ? nullptr : make_new_file(name);
  if (!node)
    return -1;
  apply_permissions(node->data.get(), new_file_permissions(permissions));
  *made = FileIdentity{1, node->data->index};
  return open_descriptor(node->data, open_write_truncate);
}

int rename_made_file(const nchar *from, const nchar *to, const FileIdentity &made) {
  Place source, target;
  Node *node = counted(fake::op_rename, from, false, &source);
  if (!node)
    return -1;
  if (!node->link.empty() || node->directory || node->data->index != made.file_index)
    return fail(ENOENT, -1);
  if (!locate(to, &target, false))
    return -1;
  if (target.node && target.node->directory)
    return fail(EISDIR, -1);
  // The system's replacing rename, on both builds: a link at `to` is
  // replaced, never followed.
  return move_entry(source, target);
}

NameStanding name_standing(const nchar *name) {
  if (call_fails(fake::op_status))
    return name_refused;
  Node *node = existing(name, false);
  if (!node)
    return errno == ENOENT ? name_missing : name_refused;
  if (!node->link.empty() || node->directory || node->data->foreign)
    return fail(!node->link.empty() ? ELOOP : node->directory ? EISDIR : EACCES, name_refused);
  return name_own_file;
}

uint32_t random_number() { return 0x5eed0000u + state().random_calls++; }

namespace {

TextStream *open_stream(const std::shared_ptr<FileData> &data) {
  if (!data)
    return nullptr;
  ++state().open_texts;
  return new TextStream{data, 0, SIZE_MAX, LineReader()};
}

} // namespace

TextStream *open_text(const nchar *name, TextMode mode) {
  std::shared_ptr<FileData> data =
      call_fails(fake::op_open_text) ? nullptr : open_data(name, mode != text_read, 0644);
  if (data && mode == text_replace)
    truncate_data(data.get(), 0);
  TextStream *stream = open_stream(data);
  // A list is read as far as it reached when opened, as the real layers do.
  if (stream && mode == text_read)
    stream->end = data->content.size();
  // Windows reads an 8-bit text to its Ctrl-Z, as the runtime's text mode.
  if (stream)
    stream->reader.control_z_ends = native_path_style == path_style_windows;
  return stream;
}

namespace {

// A line as the layer of the build hands it out: bytes as they are on
// POSIX and as Latin-1 characters on Windows, a marked UTF-8 line decoded
// on Windows, a UTF-16 line in UTF-8 on POSIX and as it is on Windows.
bool native_of_line(TextEncoding encoding, const std::u32string &units, nstring *native) {
  native->clear();
  bool utf16 = encoding == text_utf16_le || encoding == text_utf16_be;
  if (sizeof(nchar) == 1) {
    std::string bytes;
    if (!utf16)
      bytes = bytes_of_units(units);
    else if (!utf8_of_utf16(units, &bytes))
      return false;
    native->assign(bytes.begin(), bytes.end());
    return true;
  }
  if (encoding == text_utf8)
    return utf16_of_utf8(bytes_of_units(units), native);
  for (char32_t unit : units) {
    if (unit == kBrokenUnit)
      return false;
    native->push_back(nchar(unit));
  }
  return true;
}

} // namespace

int read_text_line(TextStream *stream, nchar *line, int capacity) {
  const std::string &content = stream->data->content;
  size_t &at = stream->position;
  const size_t end = std::min(content.size(), stream->end);
  auto next = [&] { return at < end ? int(static_cast<unsigned char>(content[at++])) : -1; };
  if (at < end && call_fails(fake::op_read_text)) {
    stream->end = at;
    return text_line_unreadable;
  }
  TextLine text = read_line_units(&stream->reader, next, size_t(capacity) * 4);
  nstring native;
  if (!native_of_line(stream->reader.encoding, text.units, &native))
    return text.cut ? text_line_too_long : text_line_not_text;
  return deliver_text_line(native, text.cut, line, capacity, text_line_too_long);
}

namespace {

// A text stream on a new file made as create_new_file makes one; counted as
// an open_text call.
TextStream *create_new_text(const nchar *name, FileIdentity *made) {
  Node *node = call_fails(fake::op_open_text) ? nullptr : make_new_file(name);
  if (node)
    *made = FileIdentity{1, node->data->index};
  return open_stream(node ? node->data : nullptr);
}

} // namespace

// Counted as the new text file and the rename_made_file call it makes, and
// a remove_file call when the rename fails.
TextStream *create_new_text_over(const nchar *fresh, const nchar *name) {
  FileIdentity made;
  TextStream *stream = create_new_text(fresh, &made);
  if (!stream || rename_made_file(fresh, name, made) == 0)
    return stream;
  int error_number = errno;
  close_text(stream);
  remove_file(fresh);
  return fail<TextStream *>(error_number, nullptr);
}

int write_text(TextStream *stream, const char *text, size_t length) {
  if (call_fails(fake::op_write_text))
    return -1;
  stream->data->content.append(text, length);
  stream->data->modification_time = FileTime{state().wall, 0};
  return 0;
}

// A flush that fails hands nothing over.
int flush_text(TextStream *stream) {
  if (call_fails(fake::op_flush_text))
    return -1;
  stream->data->flushed_length = stream->data->content.size();
  return 0;
}

// Counted as the flush_text call it makes.
int close_text(TextStream *stream) {
  if (!stream)
    return 0;
  int result = flush_text(stream);
  int error_number = errno;
  delete stream;
  --state().open_texts;
  return result == 0 ? 0 : fail(error_number, -1);
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
  s.clock += s.clock_step;
  return s.clock - s.clock_step;
}

int64_t wall_seconds() {
  State &s = state();
  s.wall += s.wall_step;
  return s.wall - s.wall_step;
}

void pause_milliseconds(uint32_t milliseconds) {
  state().pauses.push_back(milliseconds);
  state().clock += milliseconds;
}

void begin_timer_resolution() { state().timer_events.push_back("begin"); }
void end_timer_resolution() { state().timer_events.push_back("end"); }

// The wall clock as universal time, in the runtime's own ctime form.
std::string local_time_text() {
  time_t seconds = time_t(state().wall);
  const struct tm *time = std::gmtime(&seconds);
  return time ? std::asctime(time) : "Thu Jan 01 00:00:00 1970\n";
}

void *allocate_memory(size_t size) {
  State &s = state();
  if (call_fails(fake::op_allocate))
    return nullptr;
  if (s.memory_limited) {
    if (size > s.memory_bytes || s.memory_count == 0)
      return fail<void *>(ENOMEM, nullptr);
    if (s.memory_count > 0)
      --s.memory_count;
  }
  void *block = std::malloc(size > 0 ? size : 1);
  s.blocks += block ? 1 : 0;
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
  auto found = state().environment.find(folded(std::string(name)));
  if (found == state().environment.end())
    return false;
  *value = found->second;
  return true;
}

} // namespace

void read_file_version(const nchar *name, uint32_t *most, uint32_t *least) {
  Node *node = existing(name);
  *most = node ? node->data->version_most : 0;
  *least = node ? node->data->version_least : 0;
}

namespace {

// The platform copy's data and metadata, from `done` on: 0 or errno.
int copy_data_into(FileData *to, const FileData &from, int64_t done, CopyProgress progress,
                   void *context) {
  int64_t total = int64_t(from.content.size());
  truncate_data(to, done);
  if (progress)
    progress(total, done, context);
  while (done < total) {
    uint32_t chunk = uint32_t(std::min<int64_t>(state().copy_chunk, total - done));
    uint32_t moved = put_bytes(to, done, from.content.data() + done, chunk);
    done += moved;
    if (moved < chunk)
      return errno = ENOSPC;
    if (progress)
      progress(total, done, context);
  }
  to->access_time = from.access_time;
  to->modification_time = from.modification_time;
  to->attributes = from.attributes;
  to->permissions = bits_for_copy(from, *to) & ~posix_umask;
  to->version_most = from.version_most;
  to->version_least = from.version_least;
  return 0;
}

// The source of a platform copy: its data, or null with errno.
std::shared_ptr<FileData> copy_source(const nchar *source) {
  Node *from = counted(fake::op_platform_copy, source);
  if (from && from->directory)
    return fail<std::shared_ptr<FileData>>(EACCES, nullptr);
  return from ? from->data : nullptr;
}

} // namespace

int platform_copy_file(const nchar *source, const nchar *destination, bool restartable,
                       CopyProgress progress, void *context) {
  std::shared_ptr<FileData> from = copy_source(source);
  std::shared_ptr<FileData> to = from ? open_data(destination, true, 0644) : nullptr;
  if (!to)
    return errno;
  if (to == from)
    return errno = EACCES; // the file is open for reading: it can't be replaced
  int64_t done = restartable ? std::min(to->content.size(), from->content.size()) : 0;
  return copy_data_into(to.get(), *from, done, progress, context);
}

int platform_copy_new_file(const nchar *source, const nchar *destination, CopyProgress progress,
                           void *context, FileIdentity *made, bool *taken) {
  std::shared_ptr<FileData> from = copy_source(source);
  Node *to = from ? make_new_file(destination) : nullptr;
  *taken = from && !to && errno == EEXIST;
  if (!to)
    return errno;
  to->data->permissions = 0600;
  *made = FileIdentity{1, to->data->index};
  return copy_data_into(to->data.get(), *from, 0, progress, context);
}

nstring help_directory() {
  return temporary_directory(style, environment_value, NT("C:\\WINDOWS"));
}

void show_help_file(const nchar *path) { state().help_files.push_back(narrow_text(path)); }

bool help_text_to_output() { return !windows && !state().terminal; }

bool show_help_text(const std::string &text) {
  if (windows || !state().terminal)
    return false;
  state().help_texts.push_back(text);
  return true;
}

int progress_window_open(const nchar *caption) {
  state().window_events.push_back("open " + narrow_text(caption));
  return state().window_available ? 1 : 0;
}

void progress_window_position(int percent) {
  state().window_events.push_back("position " + std::to_string(percent));
}

void progress_window_close() { state().window_events.push_back("close"); }

void install_interrupt_handlers() { state().watch_events.push_back("install"); }

void watch_output(const nchar *name, int descriptor, bool temporary, FileTime partial_mark) {
  std::string mark = temporary ? "" : " marked " + std::to_string(partial_mark.seconds);
  state().watch_events.push_back(std::string("watch ") + (temporary ? "temporary " : "plain ") +
                                 (descriptor >= 0 ? "open " : "opening ") + narrow_text(name) +
                                 mark);
}

void end_output_watch() { state().watch_events.push_back("end"); }

} // namespace zorov
