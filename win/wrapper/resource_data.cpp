#include "win/wrapper/resource_data.h"

#include <cwchar>
#include <iterator>
#include <string>

#include "win/framework/dialog.h"
#include "win/framework/handles.h"
#include "win/shared/bin_payload.h"
#include "win/wrapper/resource.h"

namespace {

constexpr wchar_t kCompletionMarker[] = L"KestrelReflashCompleteCheck.txt";
constexpr DWORD kModelValueBuffer = 256;

// The payload's names are ASCII; the program keeps every path as UTF-16.
std::wstring Widened(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

void Delete(std::wstring& path) {
  if (!path.empty()) DeleteFileW(path.c_str());
  path.clear();
}

}  // namespace

void ShowPayloadError(PayloadError error) {
  wchar_t format[128] = {};
  if (LoadStringW(GetModuleHandleW(nullptr), IDS_PAYLOAD_ERROR, format, static_cast<int>(std::size(format))) <= 0) {
    std::swprintf(format, std::size(format), L"%ls", L"Apprication Error(0x%08x)");
  }
  wchar_t text[160] = {};
  std::swprintf(text, std::size(text), format, static_cast<unsigned>(error));
  // No texts are loaded yet; the box is titled with the program's name.
  win::MessageBoxText(nullptr, std::wstring(text), MB_OK | MB_ICONERROR);
}

CResourceData::CResourceData(bool needsAutoplayLibrary, HMODULE module, ErrorReporter report)
    : NeedsAutoplayLibraryFlag(needsAutoplayLibrary),
      module_(module ? module : GetModuleHandleW(nullptr)),
      report_(std::move(report)) {}

CResourceData::~CResourceData() { RemoveFiles(); }

bool CResourceData::Prepare() { return BuildPaths() && WriteConfiguration() && CheckAndWritePayload(); }

void CResourceData::Fail(PayloadError error) const {
  if (report_) report_(error);
}

bool CResourceData::BuildPaths() {
  wchar_t temp[MAX_PATH] = {};
  // A folder whose name does not fit comes back as the length it needs; the buffer then holds no path.
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) {
    Fail(kTempFolderUnknown);
    return false;
  }
  const std::wstring folder(temp, length);
  GlossaryTable = folder + Widened(wrapper::kGlossaryTable.fileName);
  GlossaryLibrary = folder + Widened(wrapper::kGlossaryLibrary.fileName);
  AutoplayLibrary = NeedsAutoplayLibraryFlag ? folder + Widened(wrapper::kAutoplayLibrary.fileName) : std::wstring();
  Configuration = folder + Widened(wrapper::kConfiguration.fileName);
  Stage1 = folder + Widened(wrapper::kStage1Updater.fileName);
  Stage2 = folder + Widened(wrapper::kStage2Updater.fileName);
  CompletionMarker = folder + kCompletionMarker;
  return true;
}

bool CResourceData::WriteConfiguration() {
  const PayloadError error = payload::WriteBinItem(module_, wrapper::kConfiguration.resourceId,
                                                   wrapper::kConfiguration.itemBit, Configuration);
  if (error != kPayloadOk) {
    Fail(error);
    return false;
  }
  return true;
}

bool CResourceData::CheckAndWritePayload() {
  // The profile readers find sections and keys whatever their case, and a missing size reads as 0,
  // which no item has.
  wchar_t model[kModelValueBuffer] = {};
  GetPrivateProfileStringW(L"INFO", L"MODEL", L"", model, kModelValueBuffer, Configuration.c_str());
  Model = model;

  WrapperSizes declared, actual;
  for (size_t i = 0; i < std::size(wrapper::kCheckedItems); ++i) {
    const PayloadItem& item = wrapper::kCheckedItems[i];
    declared.items[i] = GetPrivateProfileIntW(L"RESOURCE", Widened(item.sizeKey).c_str(), 0, Configuration.c_str());
    actual.items[i] = payload::FindBin(module_, item.resourceId).size;
  }
  PayloadError error = CheckWrapperSizes(declared, actual);

  // Locked only once every size is right, and written only once every lock held, so that a damaged
  // payload leaves nothing but the configuration behind.
  const payload::OutgoingItem<std::wstring> items[] = {
      {wrapper::kGlossaryTable, GlossaryTable, true},
      {wrapper::kGlossaryLibrary, GlossaryLibrary, true},
      {wrapper::kAutoplayLibrary, AutoplayLibrary, NeedsAutoplayLibraryFlag},
      {wrapper::kStage1Updater, Stage1, true},
      {wrapper::kStage2Updater, Stage2, true}};
  if (error == kPayloadOk) error = payload::LockAndWriteAll<std::wstring>(module_, items);
  if (error != kPayloadOk) {
    Fail(error);
    return false;
  }
  return true;
}

void CResourceData::RemoveFiles() {
  for (std::wstring* path : {&GlossaryTable, &GlossaryLibrary, &Configuration, &Stage1, &Stage2, &CompletionMarker}) {
    Delete(*path);
  }
  if (NeedsAutoplayLibraryFlag) Delete(AutoplayLibrary);
}
