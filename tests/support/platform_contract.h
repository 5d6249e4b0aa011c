// What the contract suite of the platform calls needs from the binary it
// runs in. The unit tests give it the in-memory platform, the platform tests
// the real layer of the build; each provides these few controls its own way.
#pragma once

#include "platform/native.h"

#include <string>

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

} // namespace contract
} // namespace zorov
