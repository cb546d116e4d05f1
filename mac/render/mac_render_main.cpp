// mac-render: draws a capture of the simulated Mac as a PNG picture.
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "mac/render/render.h"

namespace {

constexpr const char* kUsage =
    "usage: mac-render [--scale N] [--font FILE]... CAPTURE PICTURE.png\n"
    "\n"
    "Draws what a capture of the simulated Mac holds (the script move capture \"<file>\" writes one:\n"
    "the front window with its sheet or alert) as a PNG picture, one point of the window N pixels\n"
    "(default 2). Text is drawn with the fonts given, each character from the first that has it\n"
    "(default: DejaVu Sans, then IPA Gothic for Japanese).\n"
    "\n"
    "Exit codes: 0 drawn; 1 a wrong call, or a file that cannot be read or written; 3 drawn, but\n"
    "something is cut off or missing (said on standard error; the picture is written all the same).\n";

int Fail(const std::string& message) {
  std::cerr << "mac-render: " << message << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  mac::render::RenderOptions options;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if ((a == "--scale" || a == "--font") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (a == "--font") {
        options.fontFiles.push_back(value);
        continue;
      }
      char* end = nullptr;
      options.scale = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0' || !(options.scale >= 0.5 && options.scale <= 8)) {
        return Fail("--scale takes a number from 0.5 to 8, not \"" + value + "\"");
      }
    } else if (a.starts_with("-")) {
      std::cerr << kUsage;
      return 1;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) {
    std::cerr << kUsage;
    return 1;
  }
  std::ifstream in(files[0], std::ios::binary);
  if (!in) return Fail(files[0] + " cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  const auto screen = mac::ReadScreenPicture(text.str(), error);
  if (!screen) return Fail(files[0] + ": " + error);

  mac::render::Rendering drawn;
  try {
    drawn = mac::render::RenderScreen(*screen, options);
  } catch (const std::exception& failure) {
    return Fail(failure.what());
  }
  const std::vector<uint8_t> png = mac::render::EncodePng(drawn.image);
  std::ofstream out(files[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  out.close();
  if (!out) return Fail(files[1] + " cannot be written");
  for (const std::string& problem : drawn.problems) std::cerr << "mac-render: " << files[0] << ": " << problem << std::endl;
  return drawn.problems.empty() ? 0 : 3;
}
