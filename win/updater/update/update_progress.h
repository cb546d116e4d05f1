#pragma once
// The progress dialog of an update: a bar, a percentage and a stage text. It runs the engine on a
// worker thread and closes itself when the engine is done; the worker never touches a control, the
// dialog only reacts to the engine's posted messages.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "common/commands.h"
#include "win/framework/dialog.h"
#include "win/framework/handles.h"

inline constexpr UINT IDD_UPDATE_PROGRESS = 106;
inline constexpr int IDC_PROGRESS_BAR = 1003;
inline constexpr int IDC_STAGE_TEXT = 1004;
inline constexpr int IDC_PERCENT_TEXT = 1005;

class CUpdateProgress : public win::CDialog {
 public:
  CUpdateProgress(HWND parent, bool centerOnDesktop, HMODULE module = nullptr);
  ~CUpdateProgress() override;

  void SetErrorTexts(std::string failed, std::string refused);
  void SetTexts(std::string title, std::string preparing, std::string writing, std::string verifying,
                std::string complete = {});
  // The image stays the caller's and must live until DoModal has returned.
  void SetJob(uint32_t drive, TargetCode target, uint32_t startAddress, uint32_t length,
              std::span<const uint8_t> image, bool verify);

  // Shows the dialog until the engine is done; nonzero when the update succeeded. A dialog that
  // cannot be shown is reported with the failure text.
  BOOL RunModal();
  // Nonzero once the engine has run successfully.
  BOOL Result() const { return result_.load(); }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(win::DataExchange& exchange) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
  // An update cannot be abandoned half-way: Escape and Enter are ignored.
  void OnOK() override {}
  void OnCancel() override {}

 private:
  static DWORD WINAPI Worker(LPVOID self);
  void Run();

  bool centerOnDesktop_;
  std::string title_;
  std::string stages_[4];
  std::string failedText_;
  std::string refusedText_;

  uint32_t drive_ = 0;
  TargetCode target_ = TargetCode::Main;
  uint32_t startAddress_ = 0;
  uint32_t length_ = 0;
  std::span<const uint8_t> image_;
  bool verify_ = true;

  HWND parent_;
  std::atomic<BOOL> result_{FALSE};
  // An error box is open on this dialog, and the engine's close has to wait for it.
  bool boxOpen_ = false;
  bool closePending_ = false;
  std::string percentText_;
  std::string stageText_;
  win::ScopedHandle worker_;
};
