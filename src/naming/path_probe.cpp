#include "naming/path_probe.h"

namespace zorov {

int probe_path(const nchar *path) {
  (void)path;
  return 0;
}

int make_directory_path(nstring *path) {
  (void)path;
  return -1;
}

} // namespace zorov
