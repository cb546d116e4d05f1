#pragma once
// The application object's shape: the program's whole life is InitInstance (which, like a dialog
// program's, reports failure so that no message loop follows), then ExitInstance gives the exit code.

#include <windows.h>

#include <string>
#include <vector>

namespace win {

class CWinApp {
 public:
  virtual ~CWinApp() = default;

  virtual BOOL InitInstance() { return FALSE; }
  virtual int ExitInstance() { return 0; }

  // Runs the application as WinMain would: InitInstance, a message loop only when it succeeded,
  // then ExitInstance's code.
  int Run(HINSTANCE instance);

  HINSTANCE instance() const { return instance_; }
  // The arguments as the C runtime splits them, the program name first.
  const std::vector<std::string>& arguments() const { return arguments_; }
  void SetArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }

  // The file the application's profile readers use.
  const std::string& profileName() const { return profileName_; }
  void SetProfileName(std::string path) { profileName_ = std::move(path); }

 protected:
  HINSTANCE instance_ = nullptr;

 private:
  std::vector<std::string> arguments_;
  std::string profileName_;
};

// The running application (one per process), for the parts that ask it for its services.
CWinApp* CurrentApp();

}  // namespace win
