// Whether a destination is the very file of its source. The copy entry, the
// archive generations, the move and the tree copy all ask this one
// question, so that no spelling of the source is ever truncated, renamed,
// deleted or walked into by one of them while another would have refused it.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

namespace zorov {

// True when the two names are the same name: byte for byte where names are
// exact, with the letters a to z taken as capitals where the style ignores
// letter case.
bool same_file_name(const nchar *first, const nchar *second, PathStyle style);

// True when both statuses carry an identity (device and inode; volume and
// file index) and it is the same: one file under two names. An identity the
// platform could not read is no identity.
bool same_identity(const FileStatus &one, const FileStatus &other);

// True when `destination` is the file of `source` itself: the same name, the
// same identity (device and inode; volume and file index), or, on a file
// system that folds letter case, a spelling of the source's name (and of its
// directories' names) that the directory does not list as an entry of its
// own. A destination whose status agrees with the source's, under a name
// its directory does not list at all, is the source too, unless a listed
// entry other than the source is shown to be what it names. The statuses
// are those of the two existing files (for a stream source, of the file
// that holds it).
bool is_same_file(const nchar *source, const FileStatus &source_status, const nchar *destination,
                  const FileStatus &destination_status);

// True when `destination` names a stream of the source's own file (`a.txt`
// into `a.txt:meta`, or a spelling of it): writing it changes the source,
// and a move would delete the stream with the file. `source_status` is the
// source's; a stream source is a file of its own.
bool is_within_source_file(const nchar *source, const FileStatus &source_status,
                           const nchar *destination);

// The same decision when the statuses are not at hand: the names alone when
// either file is missing.
bool names_same_file(const nchar *source, const nchar *destination);

} // namespace zorov
