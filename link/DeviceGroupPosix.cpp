#include "link/DeviceGroup.h"

#include <grp.h>

namespace vantrel {

std::string JoinableGroup(const struct stat& st) {
  if (!S_ISCHR(st.st_mode) || st.st_gid == 0) return {};
  const group* gr = ::getgrgid(st.st_gid);
  return gr != nullptr && gr->gr_name != nullptr ? gr->gr_name : "";
}

}  // namespace vantrel
