// Exclusion patterns: the list of the -x flag and the matching of sources.
#pragma once

#include "cli/base/options.h"
#include "platform/native.h"

namespace zorov {

// The exclusion list of the text of one -x flag.
ExclusionNode *build_exclusion_list(const nchar *text);

// Gives back the memory of a list; harmless on none.
void release_exclusion_list(ExclusionNode *list);

// True when `path` matches a pattern of the exclusion list.
bool is_excluded(const nchar *path);

} // namespace zorov
