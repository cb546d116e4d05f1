// Drives the real KesGloss.dll the way the updaters do: loaded by path from a folder that holds the
// table, bound by export name, called with the C calling convention.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/glossary.h"

namespace {

using InitFn = int(__cdecl*)(const char*);
using ExitFn = int(__cdecl*)();
using GetAFn = int(__cdecl*)(unsigned, char*, int);
using GetWFn = int(__cdecl*)(unsigned, wchar_t*, int);

// GetProcAddress gives a generic pointer; the export's real type is the contract.
template <class Fn>
Fn Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void WriteFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
}

class KesGlossTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"kesgloss-test-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder_.c_str(), nullptr);
    const std::string built = ZT_KESGLOSS_DLL;
    const std::wstring source(built.begin(), built.end());
    ASSERT_TRUE(CopyFileW(source.c_str(), (folder_ + L"KesGloss.dll").c_str(), FALSE));

    GlossaryTable table;
    table.languages = {u"JPN", u"ENU", u"DEU"};
    table.texts[11010] = {u"モデル：%s", u"Model: %s", u"Modell: %s"};
    table.texts[11013] = {u"キャンセル", u"Cancel", u"Abbrechen"};
    table.texts[11002] = {u"", u"Line\\nTab\\tEnd\\\\n\\q", u"Zeile\\nTab\\tEnde"};
    table.texts[10001] = {u"x", u"Only English"};  // a short line: no German text
    WriteTable(table);

    module_ = LoadLibraryW((folder_ + L"KesGloss.dll").c_str());
    ASSERT_NE(module_, nullptr);
    init_ = Bind<InitFn>(module_, "KesGlossInit");
    exit_ = Bind<ExitFn>(module_, "KesGlossExit");
    getA_ = Bind<GetAFn>(module_, "KesGetStringA");
    getW_ = Bind<GetWFn>(module_, "KesGetStringW");
    ASSERT_TRUE(init_ && exit_ && getA_ && getW_);
  }

  void TearDown() override {
    if (module_) FreeLibrary(module_);
    DeleteFileW((folder_ + L"KesGloss.dll").c_str());
    DeleteFileW((folder_ + L"Glossaries.txt").c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  void WriteTable(const GlossaryTable& table) { WriteFile(folder_ + L"Glossaries.txt", WriteGlossaryTable(table)); }

  std::string GetA(unsigned id, int size = 512) {
    std::string buffer(static_cast<size_t>(size), '\x7F');  // not zeroed: the library must terminate
    getA_(id, buffer.data(), size);
    return buffer.substr(0, buffer.find('\0'));
  }

  std::wstring folder_;
  HMODULE module_ = nullptr;
  InitFn init_ = nullptr;
  ExitFn exit_ = nullptr;
  GetAFn getA_ = nullptr;
  GetWFn getW_ = nullptr;
};

TEST_F(KesGlossTest, TextsInTheChosenLanguageWithEscapesReplaced) {
  init_("DEU");
  EXPECT_EQ(GetA(11010), "Modell: %s");
  EXPECT_EQ(GetA(11002), "Zeile\nTab\tEnde");
  EXPECT_EQ(GetA(10001), "");  // the line had no German field
  EXPECT_EQ(GetA(99999), "");

  init_("ENU");
  EXPECT_EQ(GetA(11002), "Line\nTab\tEnd\\n\\q");
  wchar_t wide[64];
  getW_(11013, wide, 64);
  EXPECT_STREQ(wide, L"Cancel");
}

TEST_F(KesGlossTest, UnknownLanguageFallsBackToEnglish) {
  init_("KOR");
  EXPECT_EQ(GetA(11013), "Cancel");
  init_(nullptr);
  EXPECT_EQ(GetA(11013), "Cancel");
}

TEST_F(KesGlossTest, TextThatDoesNotFitComesBackEmpty) {
  init_("ENU");
  struct Case {
    int size;
    const char* expected;
  };
  const Case cases[] = {{7, "Cancel"}, {6, ""}, {1, ""}};
  for (const Case& c : cases) EXPECT_EQ(GetA(11013, c.size), c.expected) << c.size;
  char untouched = 'z';
  getA_(11013, &untouched, 0);
  EXPECT_EQ(untouched, 'z');
  getA_(11013, nullptr, 512);  // must not crash

  wchar_t wide[6];
  getW_(11013, wide, 6);
  EXPECT_STREQ(wide, L"");
}

TEST_F(KesGlossTest, MissingOrDamagedTableGivesEmptyTexts) {
  DeleteFileW((folder_ + L"Glossaries.txt").c_str());
  init_("ENU");
  EXPECT_EQ(GetA(11013), "");

  WriteFile(folder_ + L"Glossaries.txt", {'W', 'i', 'n', 'V', 'a', 'l'});  // not UTF-16
  init_("ENU");
  EXPECT_EQ(GetA(11013), "");
}

TEST_F(KesGlossTest, ExitForgetsTheTexts) {
  init_("ENU");
  EXPECT_EQ(GetA(11013), "Cancel");
  exit_();
  EXPECT_EQ(GetA(11013), "");
}

}  // namespace

namespace {

// In code page 932 the trail byte of U+8868 is 0x5C, the backslash: followed by an "n" it would look
// like an escape in the converted bytes. The escapes are replaced before the conversion, so the
// character survives and only the real "\n" becomes a line break.
TEST_F(KesGlossTest, DoubleByteTrailByteIsNotAnEscape) {
  if (GetACP() != 932) GTEST_SKIP() << "needs the Japanese ANSI code page (run with LC_ALL=ja_JP.UTF-8)";
  GlossaryTable table;
  table.languages = {u"JPN"};
  table.texts[1] = {u"表n表\\n"};
  WriteTable(table);
  init_("JPN");
  EXPECT_EQ(GetA(1), "\x95\x5Cn\x95\x5C\n");
}

}  // namespace
