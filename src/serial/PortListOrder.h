#pragma once

#include <map>
#include <string>
#include <vector>

#include "serial/PortList.h"

namespace tallyport {

// The port list of a device map that names its ports "COM<n>" (Windows): `names` as the map
// lists them, `readable` the devices' readable names by port name (any case). "COM<n>" names
// (any case) come first, in number order; every other name follows in name order; a name
// listed twice comes once; a readable name that says no more than the port name is left out.
// Platform-neutral, so that the order is tested everywhere.
std::vector<SerialPortEntry> OrderPortEntries(const std::vector<std::string>& names,
                                              const std::map<std::string, std::string>& readable);

}  // namespace tallyport
