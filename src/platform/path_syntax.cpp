#include "platform/path_syntax.h"

#include <vector>

namespace zorov {

std::string resolve_posix_path(const std::string &current_directory, const std::string &name) {
  std::string joined = (!name.empty() && name[0] == '/') ? name : current_directory + "/" + name;
  std::vector<std::string> components;
  size_t i = 0;
  while (i < joined.size()) {
    size_t next = joined.find('/', i);
    if (next == std::string::npos)
      next = joined.size();
    std::string component = joined.substr(i, next - i);
    if (component == "..") {
      if (!components.empty())
        components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    i = next + 1;
  }
  std::string full;
  for (const std::string &component : components)
    full += "/" + component;
  if (full.empty())
    return "/";
  bool keep_trailing = !name.empty() && name.back() == '/';
  if (keep_trailing)
    full += "/";
  return full;
}

} // namespace zorov
