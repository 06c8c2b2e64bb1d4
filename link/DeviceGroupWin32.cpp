// On Windows a port's access is not a matter of groups: a port that may not
// be opened is held by another program, which the link reports as "busy".
#include "link/DeviceGroup.h"

namespace vantrel {

std::string PermissionHint(const std::string& /*devicePath*/) { return {}; }

std::string PermissionHintBeyondLink(const std::string& /*devicePath*/) { return {}; }

}  // namespace vantrel
