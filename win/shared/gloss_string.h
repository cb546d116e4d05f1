#pragma once
// Loading the user-visible texts from the glossary library that travels in the payload. The library
// reads its table from its own folder when it is started with a three-letter language code, and then
// answers texts by id in the system's ANSI code page with the escapes already replaced.
//
// A library that cannot be loaded or lacks one of its three functions is not an error anybody is told
// about: the programs run on with empty texts.

#include <windows.h>

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "win/framework/handles.h"

// The ANSI loader of the single-target updater: open once, ask for each text, and let the destructor
// end and unload the library.
class CGetGlossString {
 public:
  CGetGlossString() = default;
  virtual ~CGetGlossString();
  CGetGlossString(const CGetGlossString&) = delete;
  CGetGlossString& operator=(const CGetGlossString&) = delete;

  // Loads the library at `path` and starts it in the language of the system's default language id
  // (not the user's). False when it cannot be loaded or lacks a function; a library that did load is
  // kept until destruction all the same. Opening again first ends and unloads what the object held.
  bool Open(const char* path);

  // The text of `id`, empty when the library was not started, the id is unknown, or the text does not
  // fit into 511 bytes in the ANSI code page (the library then writes nothing rather than cut it).
  std::string Get(uint32_t id) const;

 private:
  using StartFn = void(__cdecl*)(const char* languageCode);
  using EndFn = void(__cdecl*)();
  using TextFn = void(__cdecl*)(unsigned id, char* buffer, int size);

  void Close();

  win::ScopedModule library_;
  StartFn start_ = nullptr;
  EndFn end_ = nullptr;
  TextFn text_ = nullptr;
};

// The loader of the two-stage wrapper, a Unicode program: loads the library at `path` with
// LoadLibraryW, starts it with the language code as UTF-8, fetches every id of `ids` through the same
// ANSI text function and widens each text from the ANSI code page, then ends and unloads the library
// before returning. Every id of `ids` is in the result; all of them are empty when the library cannot
// be loaded or lacks one of its three functions (it is then neither started nor ended).
std::map<uint32_t, std::wstring> LoadWideGlossaryTexts(const wchar_t* path, std::span<const uint32_t> ids);
