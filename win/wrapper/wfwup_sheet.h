#pragma once
// The two-stage wizard's window and the run it carries: the payload, the texts, and the stage
// runner, which hides the window while a stage updater runs and polls it every half second.

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "win/framework/dialog.h"
#include "win/framework/handles.h"
#include "win/wrapper/resource_data.h"
#include "win/wrapper/wwizard_pages.h"

class CWFwUpBaseApp;

class CWFwUpBaseSheet : public win::CPropertySheet {
 public:
  // Constructing the sheet prepares the whole run; HasInitFailed tells whether it may be shown.
  CWFwUpBaseSheet(CWFwUpBaseApp& app, const wchar_t* caption, HWND parent, UINT startPage);
  ~CWFwUpBaseSheet() override;

  bool HasInitFailed() const { return InitFailed; }

  // For the pages.
  const std::wstring& Text(uint32_t id) const;
  const std::wstring& ModelName() const { return Resources.ModelName(); }
  void SetStageNo(int stage) { StageNo = stage; }
  // Starts the stage StageNo names and hides the sheet until the poll has seen it end.
  void RunStage();
  bool IsStageRunning() const { return StageRunning; }
  void SetCloseAllowed(bool allowed) { CloseAllowed = allowed; }
  // The Close item of the window's menu, greyed while a stage runs and between the stages.
  void EnableCloseItem(bool enable);

  static constexpr int kFinishButton = 0x3025;

 protected:
  BOOL OnInitDialog() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Prepare();
  void LoadTexts();
  void DeleteStaleMarker();
  void StartAutoplaySuppression();
  void PollStage();
  void EndRun();
  void CloseStageHandles();
  void RegisterAppId();
  void UnregisterAppId();

  CWFwUpBaseApp& App;
  CWWizard1Opening Page1;
  CWWizard2SecondUpdate Page2;
  CWWizard3NotUpdate Page3;
  CResourceData Resources;
  std::map<uint32_t, std::wstring> Texts;

  // The run state.
  bool InitFailed = false;
  bool StageRunning = false;
  STARTUPINFOW StartupInfo{};
  PROCESS_INFORMATION ProcessInfo{};
  DWORD StageExitCode = 0;
  int StageNo = 0;
  bool CloseAllowed = true;
  win::ScopedModule AutoplayLibrary;
  uint16_t OsClass = 0;
};
