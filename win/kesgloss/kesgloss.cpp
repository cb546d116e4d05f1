// The glossary library. It reads the table beside its own module file when it is initialised with a
// language code, and answers texts by id in that language, with their escapes replaced.
//
// The escapes are replaced while the text is still UTF-16: in the double-byte code pages a trail byte
// can be 0x5C, and replacing in the converted bytes would take it for a backslash.

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/glossary.h"
#include "resource.h"

namespace {

HMODULE g_module = nullptr;

class Glossary {
 public:
  void Load(const char* languageCode) {
    std::lock_guard lock(mutex_);
    texts_.clear();
    const std::vector<uint8_t> bytes = ReadTableFile();
    const GlossaryTable table = ReadGlossaryTable(bytes).table;

    // A language the table lacks falls back to English, then to the first column, so that a user
    // always sees some text rather than empty pages.
    std::u16string code;
    for (const char* p = languageCode; p && *p && code.size() < 3; ++p) code.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
    auto column = table.ColumnOf(code);
    if (!column) column = table.ColumnOf(u"ENU");
    if (!column && !table.languages.empty()) column = 0;
    if (!column) return;
    for (const auto& [id, row] : table.texts) texts_[id] = ReplaceGlossaryEscapes(row[*column]);
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    texts_.clear();
  }

  // Converts into `buffer` only when the whole text and its NUL fit; otherwise the buffer holds an
  // empty text. A cut text could end in half a double-byte character or lose a placeholder.
  int GetA(unsigned id, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    std::lock_guard lock(mutex_);
    const auto it = texts_.find(id);
    if (it == texts_.end() || it->second.empty()) return 0;
    const auto* wide = reinterpret_cast<const wchar_t*>(it->second.data());
    const int length = static_cast<int>(it->second.size());
    const int written = WideCharToMultiByte(CP_ACP, 0, wide, length, buffer, size - 1, nullptr, nullptr);
    buffer[written > 0 ? written : 0] = '\0';
    return written > 0 ? written : 0;
  }

  int GetW(unsigned id, wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = L'\0';
    std::lock_guard lock(mutex_);
    const auto it = texts_.find(id);
    if (it == texts_.end() || static_cast<int>(it->second.size()) >= size) return 0;
    std::copy(it->second.begin(), it->second.end(), buffer);
    buffer[it->second.size()] = L'\0';
    return static_cast<int>(it->second.size());
  }

 private:
  // The table from the folder of this module: drive and folder of the module path, then the name.
  static std::vector<uint8_t> ReadTableFile() {
    std::vector<wchar_t> modulePath(MAX_PATH);
    for (;;) {
      const DWORD n = GetModuleFileNameW(g_module, modulePath.data(), static_cast<DWORD>(modulePath.size()));
      if (n == 0) return {};
      if (n < modulePath.size()) break;
      modulePath.resize(modulePath.size() * 2);
    }
    std::wstring folder(modulePath.data());
    folder.erase(folder.find_last_of(L"\\/") + 1);

    wchar_t name[MAX_PATH] = {};
    if (LoadStringW(g_module, IDS_GLOSSARY_FILE, name, MAX_PATH) <= 0) return {};
    const std::wstring path = folder + name;

    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::vector<uint8_t> bytes;
    LARGE_INTEGER size{};
    // The shipped tables are tens of kilobytes; anything beyond 16 MiB is not a glossary.
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= (16 << 20)) {
      bytes.resize(static_cast<size_t>(size.QuadPart));
      DWORD read = 0;
      if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
      bytes.resize(read);
    }
    CloseHandle(file);
    return bytes;
  }

  std::mutex mutex_;
  std::map<uint32_t, std::u16string> texts_;
};

Glossary& TheGlossary() {
  static Glossary glossary;
  return glossary;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

__declspec(dllexport) int __cdecl KesGlossInit(const char* languageCode) {
  TheGlossary().Load(languageCode);
  return 1;
}

__declspec(dllexport) int __cdecl KesGlossExit() {
  TheGlossary().Clear();
  return 1;
}

__declspec(dllexport) int __cdecl KesGetStringA(unsigned id, char* buffer, int size) {
  return TheGlossary().GetA(id, buffer, size);
}

__declspec(dllexport) int __cdecl KesGetStringW(unsigned id, wchar_t* buffer, int size) {
  return TheGlossary().GetW(id, buffer, size);
}

}  // extern "C"
