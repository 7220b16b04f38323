// Reading a Windows Installer package's own tables.
#pragma once

#include <string>

namespace winetest {

// One value from the tables of a package, or empty.
std::string PackageValue(const std::string &package, const char *query);

// The package's product code, and the id of its (one) component.
std::string ProductCode(const std::string &package);
std::string ComponentId(const std::string &package);

}  // namespace winetest
