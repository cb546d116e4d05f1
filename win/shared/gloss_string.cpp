#include "win/shared/gloss_string.h"

#include <array>

#include "common/glossary.h"
#include "win/framework/strings.h"

namespace {

// The library's contract: at most this many bytes, the terminating NUL included.
constexpr int kTextBufferSize = 512;

constexpr char kStartExport[] = "KesGlossInit";
constexpr char kEndExport[] = "KesGlossExit";
constexpr char kTextExport[] = "KesGetStringA";

// The system's language, not the user's: the updater speaks the language of the installation.
const char* SystemLanguageCode() { return LanguageCodeFor(GetSystemDefaultLangID()); }

// Zero-filled first, because a text the library cannot deliver leaves the buffer untouched.
template <class TextFn>
std::string FetchText(TextFn text, uint32_t id) {
  std::array<char, kTextBufferSize> buffer{};
  text(id, buffer.data(), kTextBufferSize);
  buffer.back() = '\0';  // a library that fills the whole buffer must not take us past its end
  return std::string(buffer.data());
}

}  // namespace

CGetGlossString::~CGetGlossString() { Close(); }

void CGetGlossString::Close() {
  if (library_ && end_) end_();
  start_ = nullptr;
  end_ = nullptr;
  text_ = nullptr;
  library_.Reset();
}

bool CGetGlossString::Open(const char* path) {
  Close();
  if (!path) return false;
  library_.Reset(LoadLibraryA(path));
  if (!library_) return false;

  // The end function is kept even when the library is unusable: destruction ends whatever it loaded.
  end_ = win::BindExport<EndFn>(library_.get(), kEndExport);
  const auto start = win::BindExport<StartFn>(library_.get(), kStartExport);
  const auto text = win::BindExport<TextFn>(library_.get(), kTextExport);
  if (!start || !end_ || !text) return false;

  // Texts are only asked of a started library: an unstarted one has no language to answer in.
  start_ = start;
  text_ = text;
  start_(SystemLanguageCode());
  return true;
}

std::string CGetGlossString::Get(uint32_t id) const {
  if (!text_) return {};
  return FetchText(text_, id);
}

std::map<uint32_t, std::wstring> LoadWideGlossaryTexts(const wchar_t* path, std::span<const uint32_t> ids) {
  using StartFn = void(__cdecl*)(const char* languageCode);
  using EndFn = void(__cdecl*)();
  using TextFn = void(__cdecl*)(unsigned id, char* buffer, int size);

  std::map<uint32_t, std::wstring> texts;
  for (uint32_t id : ids) texts[id];

  if (!path) return texts;
  const win::ScopedModule library(LoadLibraryW(path));
  if (!library) return texts;
  const auto start = win::BindExport<StartFn>(library.get(), kStartExport);
  const auto end = win::BindExport<EndFn>(library.get(), kEndExport);
  const auto text = win::BindExport<TextFn>(library.get(), kTextExport);
  if (!start || !end || !text) return texts;

  // The program keeps the code as UTF-16; the library takes narrow text.
  const std::string ascii = SystemLanguageCode();
  const std::wstring wideCode(ascii.begin(), ascii.end());
  start(win::WideToUtf8(wideCode).c_str());
  for (auto& [id, value] : texts) value = win::AnsiToWide(FetchText(text, id));
  end();
  return texts;
}
