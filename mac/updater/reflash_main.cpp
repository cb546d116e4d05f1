// Reflash: the Mac single-target updater, started inside a simulated Mac.
#include <memory>

#include "mac/app/application_main.h"
#include "mac/updater/app_controller.h"

int main(int argc, char** argv) {
  return mac::ApplicationMain(argc, argv, [](mac::Platform& platform) { return std::make_unique<FwUpAppController>(platform); });
}
