#include "win/updater/wizard/updater_session.h"

#include <mmsystem.h>

#include <cstring>

#include "win/framework/dialog.h"
#include "win/shared/gloss_string.h"
#include "win/updater/update/update_progress.h"
#include "win/updater/app/fwup_app.h"

namespace {

constexpr char kRunIdentity[] = "{FE7F4F7C-5C5C-4f19-9E30-8AB9C74E778B}";

std::string ExecutableFileName() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length);
  const size_t slash = name.find_last_of('\\');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool SetStringValue(HKEY root, const std::string& keyName, const char* valueName, const char* value) {
  HKEY raw = nullptr;
  if (RegCreateKeyExA(root, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const win::ScopedRegKey key(raw);
  return RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>(std::strlen(value) + 1)) == ERROR_SUCCESS;
}

void DeleteAppIdSubkey(const std::string& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "AppID", 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) return;
  const win::ScopedRegKey key(raw);
  RegDeleteKeyA(key.get(), name.c_str());
}

struct WindowSearch {
  const std::string* titles;
  HWND found = nullptr;
};

BOOL CALLBACK FindWarning(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  char title[256] = {};
  GetWindowTextA(window, title, sizeof title);
  if (search->titles[0] == title || search->titles[1] == title) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

UpdaterSession::UpdaterSession(CFwUpBaseApp& app, bool ownsAutoplayLibrary)
    : App(app),
      Resources(ownsAutoplayLibrary && NeedsAutoplayLibraryFor(app.GetOsVersion().dwMajorVersion,
                                                               app.GetOsVersion().dwMinorVersion)),
      ownsAutoplayLibrary_(ownsAutoplayLibrary) {}

UpdaterSession::~UpdaterSession() {
  if (autoplayLibrary_) {
    if (const auto stop = win::BindExport<void(__cdecl*)()>(autoplayLibrary_.get(), "StopAutoPlayCancel")) stop();
    autoplayLibrary_.Reset();
  }
  if (ownsAutoplayLibrary_ && OsClass > 4) RemoveRunIdentity();
  Resources.RemoveFiles();
  Command.reset();
  Records.clear();
}

bool UpdaterSession::Prepare(std::span<const uint32_t> textIds, bool storageCheckNeedsPassThrough) {
  if (!Resources.Prepare()) return false;
  StartAutoplaySuppression();
  LoadTexts(textIds);
  if (!CheckSystem()) return false;
  Records = ::LoadFwInfos(Resources.ConfigurationPath());
  const CFwUpBaseFwInfo* first = FindFwInfo(0);
  const bool passThrough = storageCheckNeedsPassThrough && first && first->StorageCheck != 0;
  Command = passThrough ? std::make_unique<CScsiCommand>(1) : std::make_unique<CScsiCommand>();
  return true;
}

void UpdaterSession::StartAutoplaySuppression() {
  const OSVERSIONINFOA& version = App.GetOsVersion();
  OsClass = OsClassFor(version.dwMajorVersion, version.dwMinorVersion);
  if (!ownsAutoplayLibrary_ || OsClass < 3) return;
  if (OsClass == 5) RegisterRunIdentity();
  autoplayLibrary_.Reset(LoadLibraryA(Resources.AutoplayLibraryPath().c_str()));
  if (!autoplayLibrary_) return;  // AutoPlay then simply is not suppressed
  if (const auto start = win::BindExport<void(__cdecl*)()>(autoplayLibrary_.get(), "StartAutoPlayCancel2")) start();
}

void UpdaterSession::RegisterRunIdentity() {
  // The library's object answers the system's AutoPlay query from the user's session.
  if (!SetStringValue(HKEY_CLASSES_ROOT, std::string("AppID\\") + kRunIdentity, "RunAs", "Interactive User")) return;
  SetStringValue(HKEY_CLASSES_ROOT, "AppID\\" + ExecutableFileName(), "AppID", kRunIdentity);
}

void UpdaterSession::RemoveRunIdentity() {
  DeleteAppIdSubkey(kRunIdentity);
  DeleteAppIdSubkey(ExecutableFileName());
}

void UpdaterSession::LoadTexts(std::span<const uint32_t> ids) {
  CGetGlossString gloss;
  gloss.Open(Resources.GlossaryLibraryPath().c_str());
  for (uint32_t id : ids) texts_[id] = gloss.Get(id);
  // The library is ended and unloaded here: the texts live on in the session.
}

bool UpdaterSession::CheckSystem() {
  if (App.IsOsSupported()) return true;
  win::MessageBoxText(nullptr, Text(text_id::kUnsupportedSystem), MB_OK | MB_ICONSTOP);
  return false;
}

const std::string& UpdaterSession::Text(uint32_t id) const {
  static const std::string empty;
  const auto found = texts_.find(id);
  return found == texts_.end() ? empty : found->second;
}

bool UpdaterSession::RunUpdate(HWND parent, uint32_t drive, const CFwUpBaseFwInfo& record, bool centerOnDesktop,
                               const std::string& completeText) const {
  // The record's firmware resource, owned here until the dialog has returned; empty when unreadable,
  // which the engine refuses before it sends anything.
  std::vector<uint8_t> image;
  uint32_t size = 0;
  if (ReadBinResource(record.ResourceId, nullptr, &size) && size > 0) {
    image.resize(size);
    if (!ReadBinResource(record.ResourceId, image.data(), &size)) image.clear();
  }
  CUpdateProgress progress(parent, centerOnDesktop);
  progress.SetErrorTexts(Text(text_id::kUpdateFailed), Text(text_id::kNotSupported));
  progress.SetTexts(Text(text_id::kTitle), Text(text_id::kPreparing), Text(text_id::kWriting), Text(text_id::kVerifying),
                    completeText);
  progress.SetJob(drive, record.IsSubTarget ? TargetCode::Sub : TargetCode::Main,
                  static_cast<uint32_t>(record.StartAddress), static_cast<uint32_t>(record.Length), image, true);
  return progress.RunModal() != FALSE;
}

void UpdaterSession::WriteCompletionMarker() const {
  const win::ScopedHandle marker(CreateFileA(Resources.CompletionMarkerPath().c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
}

Identification Identify(CScsiCommand& command, uint32_t drive, const CFwUpBaseFwInfo& record) {
  Identification found;
  std::string main;
  std::string sub;
  command.GetFirmwareVersions(drive, main, sub);
  found.version = ParseVersion(record.IsSubTarget ? sub : main);
  std::string model;
  command.GetModelName(drive, model);
  found.model = Trimmed(model);
  std::array<uint8_t, kDeviceStateSize> state{};
  command.GetDeviceState(drive, state.data(), static_cast<uint32_t>(state.size()));
  if (AsksForStorageMode(state)) {
    command.ChangeModeToStorage(drive, 0);
    found.switchRequested = true;
  }
  return found;
}

void CloseRemovalWarning(uint16_t osClass) {
  if (osClass != 1 && osClass != 2) return;
  std::string titles[2];
  const win::ScopedModule hotplug = win::LoadSystemLibrary("HOTPLUG.DLL");
  if (hotplug) {
    if (const HWND dialog = CreateDialogParamA(hotplug.get(), "#330", nullptr, nullptr, 0)) {
      char title[256] = {};
      GetWindowTextA(dialog, title, sizeof title);
      titles[0] = title;
      DestroyWindow(dialog);
    }
    char text[256] = {};
    if (LoadStringA(hotplug.get(), osClass == 2 ? 2261 : 1261, text, sizeof text) > 0) titles[1] = text;
  }
  for (std::string& title : titles) {
    if (title.empty()) title = "KestrelDummy";
  }

  WindowSearch search{titles};
  const DWORD start = timeGetTime();
  do {
    EnumWindows(FindWarning, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      PostMessageA(search.found, WM_QUIT, 0, 0);
      return;
    }
    Sleep(10);
  } while (timeGetTime() - start <= 9999);
}
