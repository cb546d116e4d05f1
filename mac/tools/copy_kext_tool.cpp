// CopyKextTool: run with the administrator's rights by the driver installation, it copies the
// driver bundle it is given into the folder from which this system loads drivers, replacing an older
// one. Inside a simulated Mac (MAC_SIM_ROOT) the folders are those of that Mac.
#include <cstdlib>
#include <iostream>
#include <string>

#include "mac/platform/files.h"
#include "mac/platform/plist.h"
#include "mac/platform/shell.h"
#include "mac/shared/file_names.h"
#include "mac/shared/versions.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: CopyKextTool <driver bundle>\n";
    return 2;
  }
  const char* root = std::getenv(mac::kRootVariable);
  if (!root || !*root) {
    std::cerr << "CopyKextTool: no simulated Mac (MAC_SIM_ROOT is not set)\n";
    return 2;
  }
  const mac::FileManager files{std::filesystem::path(root)};
  const auto plist = files.contentsAtPath("/System/Library/CoreServices/SystemVersion.plist");
  const auto version = plist ? mac::PropertyListFromData(*plist) : std::nullopt;
  const mac::PlistValue* product = version ? version->objectForKey("ProductVersion") : nullptr;
  if (!product || !product->string()) {
    std::cerr << "CopyKextTool: the system's version cannot be read\n";
    return 1;
  }
  const std::string source = argv[1];
  const SystemVersion system = ParseSystemVersionText("Version " + *product->string());
  std::string name = source;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  name = name.substr(name.rfind('/') + 1);
  const std::string destination = JoinPath(KextLocationFor(system).installedFolder, name);
  bool folder = false;
  if (!files.fileExistsAtPath(source, &folder) || !folder) {
    std::cerr << "CopyKextTool: no driver bundle at " << source << "\n";
    return 1;
  }
  if (files.fileExistsAtPath(destination) && !files.removeFileAtPath(destination)) {
    std::cerr << "CopyKextTool: " << destination << " cannot be replaced\n";
    return 1;
  }
  if (!files.copyPath(source, destination)) {
    std::cerr << "CopyKextTool: " << source << " cannot be copied to " << destination << "\n";
    return 1;
  }
  return 0;
}
