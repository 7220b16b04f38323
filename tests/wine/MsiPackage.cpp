#include "MsiPackage.h"

#include <windows.h>
// Windows Installer's headers take windows.h as read.
#include <msi.h>
#include <msiquery.h>

namespace winetest {

std::string PackageValue(const std::string &package, const char *query) {
  std::string value;
  MSIHANDLE database = 0;
  if (MsiOpenDatabaseA(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) {
    return value;
  }
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewA(database, query, &view) == ERROR_SUCCESS) {
    MSIHANDLE record = 0;
    if (MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      char text[256] = {0};
      DWORD size = sizeof text;
      if (MsiRecordGetStringA(record, 1, text, &size) == ERROR_SUCCESS) value = text;
      MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
  }
  MsiCloseHandle(database);
  return value;
}

std::string ProductCode(const std::string &package) {
  return PackageValue(package, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'");
}

std::string ComponentId(const std::string &package) {
  return PackageValue(package, "SELECT `ComponentId` FROM `Component`");
}

}  // namespace winetest
