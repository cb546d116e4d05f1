// Twinflash: the Mac two-stage wrapper, started inside a simulated Mac.
#include <memory>

#include "mac/app/application_main.h"
#include "mac/wrapper/rs_reflash_controller.h"

int main(int argc, char** argv) {
  return mac::ApplicationMain(
      argc, argv, [](mac::Platform& platform) { return std::make_unique<RSReflashController>(platform); },
      MacProgram::Twinflash);
}
