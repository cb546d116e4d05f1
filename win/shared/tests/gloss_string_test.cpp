// The glossary loaders against the real library and against stubs that record their calls, each
// copied into a folder of its own the way the payload writes them. CTest runs this suite once more
// under several Wine locales; the language and the ANSI code page follow LC_ALL there.
#include "win/shared/gloss_string.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/glossary.h"
#include "win/framework/strings.h"

namespace {

namespace fs = std::filesystem;

std::string SystemCode() { return LanguageCodeFor(GetSystemDefaultLangID()); }
std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
// The ANSI loader takes paths in the ANSI code page, as the payload builds them.
std::string Narrow(const std::filesystem::path& path) { return win::WideToAnsi(path.wstring()); }

constexpr uint32_t kCodeId = 1;      // each column holds its own language code
constexpr uint32_t kEscapesId = 2;
constexpr uint32_t kLength511Id = 3;
constexpr uint32_t kLength512Id = 4;
constexpr uint32_t kLength600Id = 5;
constexpr uint32_t kNativeId = 6;    // text in the ANSI code page of the run
constexpr uint32_t kUnknownId = 99999;

// Texts whose characters all exist in one ANSI code page, with the bytes they take there. The
// Japanese one holds two characters whose trail byte is a backslash followed by "n": only the real
// escape between them may turn into a line break.
struct NativeCase {
  UINT codePage;
  std::u16string stored;
  std::string ansi;
  std::wstring wide;
};
const NativeCase kNativeCases[] = {
    {1252, u"Größe", "Gr\xF6\xDF" "e", L"Größe"},
    {932, u"表n表\\nソn", "\x95\x5Cn\x95\x5C\n\x83\x5Cn", L"表n表\nソn"},
    {950, u"韌體更新", "\xB6\xB4\xC5\xE9\xA7\xF3\xB7s", L"韌體更新"},
};
const NativeCase* NativeCaseOfThisRun() {
  for (const NativeCase& c : kNativeCases)
    if (c.codePage == GetACP()) return &c;
  return nullptr;
}

struct AsciiCase {
  uint32_t id;
  std::string expected;
};
// The same for every language; kCodeId is checked on its own.
std::vector<AsciiCase> AsciiCases() {
  return {
      {kEscapesId, "Line\nTab\tEnd"},
      {kLength511Id, std::string(511, 'x')},  // with its NUL it just fits
      {kLength512Id, ""},
      {kLength600Id, ""},
      {kUnknownId, ""},
  };
}

std::string StubTrace() {
  char buffer[4096];
  const DWORD n = GetEnvironmentVariableA("ZT_STUB_GLOSS_TRACE", buffer, sizeof buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

class GlossStringTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("zt-gloss-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder_);
    SetEnvironmentVariableA("ZT_STUB_GLOSS_TRACE", nullptr);

    GlossaryTable table;
    table.languages = {u"JPN", u"ENU", u"FRA", u"ESP", u"DEU", u"ITA", u"RUS", u"CHT", u"CHS", u"KOR"};
    const NativeCase* native = NativeCaseOfThisRun();
    for (const std::u16string& code : table.languages) {
      table.texts[kCodeId].push_back(code);
      table.texts[kEscapesId].push_back(u"Line\\nTab\\tEnd");
      table.texts[kLength511Id].push_back(std::u16string(511, u'x'));
      table.texts[kLength512Id].push_back(std::u16string(512, u'x'));
      table.texts[kLength600Id].push_back(std::u16string(600, u'x'));
      table.texts[kNativeId].push_back(native ? native->stored : u"");
    }
    const std::vector<uint8_t> bytes = WriteGlossaryTable(table);
    std::ofstream(folder_ / "Glossaries.txt", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    library_ = Install(ZT_KESGLOSS_DLL, "KesGloss.dll");
  }

  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  fs::path Install(const char* built, const char* name) {
    const fs::path target = folder_ / name;
    fs::copy_file(built, target, fs::copy_options::overwrite_existing);
    return target;
  }

  static bool IsLoaded(const fs::path& library) { return GetModuleHandleW(library.c_str()) != nullptr; }

  fs::path folder_;
  fs::path library_;
};

TEST_F(GlossStringTest, TextsComeFromTheColumnOfTheSystemLanguage) {
  {
    CGetGlossString gloss;
    ASSERT_TRUE(gloss.Open(Narrow(library_).c_str()));
    EXPECT_EQ(gloss.Get(kCodeId), SystemCode()) << "system language id " << GetSystemDefaultLangID();
    for (const AsciiCase& c : AsciiCases()) EXPECT_EQ(gloss.Get(c.id), c.expected) << c.id;
    EXPECT_TRUE(IsLoaded(library_));
  }
  EXPECT_FALSE(IsLoaded(library_)) << "destruction unloads the library";
}

// The environments CTest sets up, with what Wine makes of them and the column they must choose.
TEST_F(GlossStringTest, LanguageOfTheLocaleAskedFor) {
  struct Case {
    const char* locale;
    LANGID languageId;
    const char* code;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", 0x0407, "DEU"},
      {"de_CH.UTF-8", 0x0807, "DEU"},
      {"zh_HK.UTF-8", 0x0C04, "ENU"},
      {"ja_JP.UTF-8", 0x0411, "JPN"},
  };
  const char* locale = std::getenv("LC_ALL");
  const Case* match = nullptr;
  for (const Case& c : cases)
    if (locale && std::string(locale) == c.locale) match = &c;
  if (!match) GTEST_SKIP() << "runs only under the locales of the extra CTest entries";

  ASSERT_EQ(GetSystemDefaultLangID(), match->languageId) << "Wine no longer maps " << match->locale << " this way";
  CGetGlossString gloss;
  ASSERT_TRUE(gloss.Open(Narrow(library_).c_str()));
  EXPECT_EQ(gloss.Get(kCodeId), match->code);
  const uint32_t ids[] = {kCodeId};
  EXPECT_EQ(LoadWideGlossaryTexts(library_.c_str(), ids).at(kCodeId), Widen(match->code));
}

TEST_F(GlossStringTest, TextsInTheAnsiCodePage) {
  const NativeCase* native = NativeCaseOfThisRun();
  if (!native) GTEST_SKIP() << "no sample text for ANSI code page " << GetACP();
  {
    CGetGlossString gloss;
    ASSERT_TRUE(gloss.Open(Narrow(library_).c_str()));
    EXPECT_EQ(gloss.Get(kNativeId), native->ansi);
  }
  const uint32_t ids[] = {kNativeId};
  EXPECT_EQ(LoadWideGlossaryTexts(library_.c_str(), ids).at(kNativeId), native->wide);
}

TEST_F(GlossStringTest, WideLoaderGivesTheSameTextsAsUtf16) {
  std::vector<uint32_t> ids = {kCodeId};
  for (const AsciiCase& c : AsciiCases()) ids.push_back(c.id);
  const std::map<uint32_t, std::wstring> texts = LoadWideGlossaryTexts(library_.c_str(), ids);
  EXPECT_EQ(texts.size(), ids.size());
  EXPECT_EQ(texts.at(kCodeId), Widen(SystemCode()));
  for (const AsciiCase& c : AsciiCases()) EXPECT_EQ(texts.at(c.id), Widen(c.expected)) << c.id;
  EXPECT_FALSE(IsLoaded(library_)) << "the wide loader unloads before it returns";
}

TEST_F(GlossStringTest, MissingLibraryGivesEmptyTexts) {
  const fs::path missing = folder_ / "absent" / "KesGloss.dll";
  CGetGlossString gloss;
  EXPECT_FALSE(gloss.Open(Narrow(missing).c_str()));
  EXPECT_FALSE(gloss.Open(nullptr));
  EXPECT_EQ(gloss.Get(kCodeId), "");
  EXPECT_EQ(gloss.Get(kEscapesId), "");

  const uint32_t ids[] = {kCodeId, kEscapesId};
  const std::map<uint32_t, std::wstring> expected = {{kCodeId, L""}, {kEscapesId, L""}};
  EXPECT_EQ(LoadWideGlossaryTexts(missing.c_str(), ids), expected);
}

// The stub answers id 7 and writes nothing for id 0: only a zero-filled buffer makes that empty.
TEST_F(GlossStringTest, StartsOnceAsksWithAZeroedBufferAndEndsBeforeUnloading) {
  const fs::path stub = Install(ZT_STUB_GLOSS_COMPLETE, "stub_gloss.dll");
  const std::string started = "init " + SystemCode() + ";";
  {
    CGetGlossString gloss;
    ASSERT_TRUE(gloss.Open(Narrow(stub).c_str()));
    EXPECT_EQ(StubTrace(), started);
    EXPECT_EQ(gloss.Get(7), "text 7");
    EXPECT_EQ(gloss.Get(0), "");
  }
  EXPECT_EQ(StubTrace(), started + "get 7 512 zeroed;get 0 512 zeroed;exit;");
  EXPECT_FALSE(IsLoaded(stub));

  SetEnvironmentVariableA("ZT_STUB_GLOSS_TRACE", nullptr);
  const uint32_t ids[] = {7, 0};
  const std::map<uint32_t, std::wstring> expected = {{0, L""}, {7, L"text 7"}};
  EXPECT_EQ(LoadWideGlossaryTexts(stub.c_str(), ids), expected);
  EXPECT_EQ(StubTrace(), started + "get 0 512 zeroed;get 7 512 zeroed;exit;");
  EXPECT_FALSE(IsLoaded(stub));
}

// A library lacking a function is never started and never asked for a text. It stays loaded until
// the object goes, which ends it when it has an end function.
TEST_F(GlossStringTest, LibraryLackingAFunctionIsNotUsed) {
  struct Case {
    const char* built;
    const char* lacking;
    const char* traceAfterDestruction;
  };
  const Case cases[] = {
      {ZT_STUB_GLOSS_NO_INIT, "KesGlossInit", "exit;"},
      {ZT_STUB_GLOSS_NO_EXIT, "KesGlossExit", ""},
      {ZT_STUB_GLOSS_NO_TEXT, "KesGetStringA", "exit;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lacking);
    const fs::path stub = Install(c.built, (std::string("stub_without_") + c.lacking + ".dll").c_str());
    SetEnvironmentVariableA("ZT_STUB_GLOSS_TRACE", nullptr);
    {
      CGetGlossString gloss;
      EXPECT_FALSE(gloss.Open(Narrow(stub).c_str()));
      EXPECT_EQ(gloss.Get(7), "");
      EXPECT_TRUE(IsLoaded(stub));
    }
    EXPECT_EQ(StubTrace(), c.traceAfterDestruction);
    EXPECT_FALSE(IsLoaded(stub));

    SetEnvironmentVariableA("ZT_STUB_GLOSS_TRACE", nullptr);
    const uint32_t ids[] = {7};
    EXPECT_EQ(LoadWideGlossaryTexts(stub.c_str(), ids).at(7), L"");
    EXPECT_EQ(StubTrace(), "") << "an unstarted library is not ended";
    EXPECT_FALSE(IsLoaded(stub));
  }
}

}  // namespace
