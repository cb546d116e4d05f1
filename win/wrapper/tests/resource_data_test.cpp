// The wrapper's payload on real bundles: the stand-in wrapper's, copied and damaged the way a broken
// build or a bad download would damage it, and the shipped and simulation wrappers as built.
#include "win/wrapper/resource_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "win/framework/handles.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Replaces a key's value in an INI text (the key must be there).
std::string WithValue(std::string ini, const std::string& key, const std::function<std::string(const std::string&)>& edit) {
  const size_t at = ini.find("\n" + key + "=");
  EXPECT_NE(at, std::string::npos) << key;
  if (at == std::string::npos) return ini;
  const size_t start = at + key.size() + 2;
  const size_t end = ini.find_first_of("\r\n", start);
  ini.replace(start, end - start, edit(ini.substr(start, end - start)));
  return ini;
}
std::string OneMore(const std::string& v) { return std::to_string(std::stoul(v) + 1); }
std::string OneLess(const std::string& v) { return std::to_string(std::stoul(v) - 1); }
std::string Without(std::string ini, const std::string& section) {
  const size_t start = ini.find("[" + section + "]");
  EXPECT_NE(start, std::string::npos) << section;
  if (start == std::string::npos) return ini;
  const size_t end = ini.find('[', start + 1);
  return ini.erase(start, end == std::string::npos ? std::string::npos : end - start);
}
std::string Lowered(std::string ini) {
  std::transform(ini.begin(), ini.end(), ini.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ini;
}

const WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

std::string BinBytes(HMODULE module, UINT id, WORD language) {
  const HRSRC info = FindResourceExW(module, L"BIN", MAKEINTRESOURCEW(id), language);
  if (!info) return {};
  const HGLOBAL loaded = LoadResource(module, info);
  const char* bytes = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
  return bytes ? std::string(bytes, SizeofResource(module, info)) : std::string();
}

class WrapperPayloadTest : public testing::Test {
 protected:
  // The cases point TMP at a folder of their own; the system's is kept to come back to.
  static const fs::path& SystemTemp() {
    static const fs::path temp = fs::temp_directory_path();
    return temp;
  }

  void SetUp() override {
    root_ = SystemTemp() / ("zt-duo-payload-" + std::to_string(GetCurrentProcessId()));
    temp_ = root_ / "temp";
    fs::create_directories(temp_);
    UseTemp(temp_.wstring() + L"\\");
    bundle_ = root_ / "bundle.exe";
    fs::copy_file(ZT_DUOFLASH_STANDIN, bundle_, fs::copy_options::overwrite_existing);
    ini_ = ReadBytes(fs::path(ZT_STANDIN_BUNDLE) / "TWINFLASH.INI");
    ASSERT_FALSE(ini_.empty());
  }
  void TearDown() override {
    module_.Reset();
    UseTemp(SystemTemp().wstring());
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static void UseTemp(const std::wstring& folder) { SetEnvironmentVariableW(L"TMP", folder.c_str()); }

  // The copied wrapper with `ini` as its configuration, loaded as data.
  HMODULE Load(const std::string& ini) {
    module_.Reset();  // a loaded module cannot be rewritten
    const HANDLE update = BeginUpdateResourceW(bundle_.c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    EXPECT_TRUE(UpdateResourceW(update, L"BIN", MAKEINTRESOURCEW(137), kNeutral, const_cast<char*>(ini.data()),
                                static_cast<DWORD>(ini.size())));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    module_.Reset(LoadLibraryExW(bundle_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    EXPECT_TRUE(module_.valid());
    return module_.get();
  }

  std::set<std::string> TempFiles() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp_)) names.insert(entry.path().filename().string());
    return names;
  }

  fs::path root_, temp_, bundle_;
  std::string ini_;
  win::ScopedModule module_;
};

const std::set<std::string> kAllFiles = {"Glossaries.txt", "TWINFLASH.INI", "WDSSCancel.dll",
                                         "WKesGloss.dll",  "st1Updata.exe", "st2Updata.exe"};

TEST_F(WrapperPayloadTest, SoundBundleIsWrittenAndRemovedWithTheMarker) {
  const fs::path standin(ZT_STANDIN_BUNDLE);
  std::vector<PayloadError> errors;
  {
    CResourceData data(true, Load(ini_), [&](PayloadError e) { errors.push_back(e); });
    ASSERT_TRUE(data.Prepare());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(TempFiles(), kAllFiles);
    EXPECT_EQ(data.ModelName(), L"ZT-5100");
    const struct {
      std::wstring path;
      fs::path source;
    } written[] = {
        {data.GlossaryTablePath(), standin / "Glossaries.txt"}, {data.GlossaryLibraryPath(), ZT_KESGLOSS_DLL},
        {data.AutoplayLibraryPath(), ZT_DSSCANCEL_DLL},        {data.ConfigurationPath(), standin / "TWINFLASH.INI"},
        {data.Stage1Path(), standin / "st1Updata.exe"},        {data.Stage2Path(), standin / "st2Updata.exe"},
    };
    for (const auto& w : written) {
      EXPECT_EQ(ReadBytes(w.path), ReadBytes(w.source)) << w.source.filename().string();
    }
    EXPECT_EQ(fs::path(data.CompletionMarkerPath()), temp_ / "KestrelReflashCompleteCheck.txt");

    std::ofstream(fs::path(data.CompletionMarkerPath())) << "";
    data.RemoveFiles();
    EXPECT_TRUE(TempFiles().empty()) << "the marker goes as well";
    EXPECT_TRUE(data.Stage1Path().empty() && data.CompletionMarkerPath().empty() && data.AutoplayLibraryPath().empty());
    // Not ours any more: the second pass, and the destructor's, must leave it alone.
    std::ofstream(temp_ / "Glossaries.txt") << "somebody else's";
    data.RemoveFiles();
  }
  EXPECT_EQ(TempFiles(), std::set<std::string>{"Glossaries.txt"});
}

TEST_F(WrapperPayloadTest, DamagedBundlesReportTheirCodeAndWriteOnlyTheConfiguration) {
  struct Case {
    const char* what;
    std::function<std::string(const std::string&)> damage;
    bool autoplay;
    PayloadError expected;
  };
  const auto off = [](const char* key, std::string (*edit)(const std::string&)) {
    return [=](const std::string& ini) { return WithValue(ini, key, edit); };
  };
  const Case cases[] = {
      {"stage 1 one byte more", off("IdBinSt1UpdataExe", OneMore), true, 0x00010040},
      {"stage 2 one byte less", off("IdBinSt2UpdataExe", OneLess), true, 0x00010040},
      {"glossary library", off("IdBinKesGlossDll", OneMore), true, 0x00010040},
      {"autoplay library", off("IdBinDSSCancelDll", OneLess), true, 0x00010040},
      {"autoplay library, checked though not needed", off("IdBinDSSCancelDll", OneMore), false, 0x00010040},
      {"glossary table", off("IdBinGlossariesTxt", OneMore), true, 0x00010004},
      {"page 1 picture", off("IdBinWWizard1Jpeg", OneMore), true, 0x00010008},
      {"page 2 picture only", off("IdBinWWizard2Jpeg", OneLess), true, 0x00010010},
      {"table and page 1 picture",
       [](const std::string& i) { return WithValue(WithValue(i, "IdBinGlossariesTxt", OneLess), "IdBinWWizard1Jpeg", OneMore); },
       true, 0x0001000C},
      {"no RESOURCE section", [](const std::string& i) { return Without(i, "RESOURCE"); }, true, 0x0001005C},
      {"a size that is not a number", off("IdBinSt1UpdataExe", [](const std::string&) { return std::string("x1"); }),
       true, 0x00010040},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PayloadError> errors;
    {
      CResourceData data(c.autoplay, Load(c.damage(ini_)), [&](PayloadError e) { errors.push_back(e); });
      EXPECT_FALSE(data.Prepare());
      EXPECT_EQ(errors, std::vector<PayloadError>{c.expected});
      EXPECT_EQ(TempFiles(), std::set<std::string>{"TWINFLASH.INI"});
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

// The profile readers take sections and keys in any case; the model name may be missing.
TEST_F(WrapperPayloadTest, ConfigurationsReadAsTheSystemReadsThem) {
  const struct {
    const char* what;
    std::string ini;
    bool autoplay;
    std::wstring model;
    std::set<std::string> files;
  } cases[] = {
      {"lower case", Lowered(ini_), true, L"zt-5100", kAllFiles},
      {"no model", Without(ini_, "INFO"), true, L"", kAllFiles},
      {"Windows 2000: no autoplay library", ini_, false, L"ZT-5100",
       {"Glossaries.txt", "TWINFLASH.INI", "WKesGloss.dll", "st1Updata.exe", "st2Updata.exe"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PayloadError> errors;
    CResourceData data(c.autoplay, Load(c.ini), [&](PayloadError e) { errors.push_back(e); });
    EXPECT_TRUE(data.Prepare());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(data.ModelName(), c.model);
    EXPECT_EQ(TempFiles(), c.files);
    EXPECT_EQ(data.AutoplayLibraryPath().empty(), !c.autoplay);
    data.RemoveFiles();
  }
}

// A file that cannot be created ends the writing there; what was written goes at the end.
TEST_F(WrapperPayloadTest, ItemThatCannotBeWritten) {
  const struct {
    const char* blocked;
    PayloadError expected;
    std::set<std::string> written;
  } cases[] = {
      {"Glossaries.txt", 0x00040004, {"TWINFLASH.INI"}},
      {"WDSSCancel.dll", 0x00040040, {"Glossaries.txt", "TWINFLASH.INI", "WKesGloss.dll"}},
      {"st2Updata.exe", 0x00040040, {"Glossaries.txt", "TWINFLASH.INI", "WDSSCancel.dll", "WKesGloss.dll", "st1Updata.exe"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.blocked);
    const HMODULE bundle = Load(ini_);
    fs::create_directory(temp_ / c.blocked);
    std::vector<PayloadError> errors;
    {
      CResourceData data(true, bundle, [&](PayloadError e) { errors.push_back(e); });
      EXPECT_FALSE(data.Prepare());
      EXPECT_EQ(errors, std::vector<PayloadError>{c.expected});
      std::set<std::string> expected = c.written;
      expected.insert(c.blocked);
      EXPECT_EQ(TempFiles(), expected);
    }
    EXPECT_EQ(TempFiles(), std::set<std::string>{c.blocked});
    fs::remove(temp_ / c.blocked);
  }
}

TEST_F(WrapperPayloadTest, ConfigurationMissingOrTemporaryFolderUnusable) {
  const HMODULE bundle = Load(ini_);
  const std::wstring tooLong = temp_.wstring() + L"\\" + std::wstring(MAX_PATH, L'x') + L"\\";
  const struct {
    const char* what;
    HMODULE module;
    std::wstring temp;
    PayloadError expected;
  } cases[] = {
      {"a program without a payload", GetModuleHandleW(nullptr), temp_.wstring() + L"\\", 0x00010001},
      {"temporary folder missing", bundle, temp_.wstring() + L"\\missing\\", 0x00040001},
      {"temporary folder too long", bundle, tooLong, 0x00010000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseTemp(c.temp);
    std::vector<PayloadError> errors;
    {
      CResourceData data(true, c.module, [&](PayloadError e) { errors.push_back(e); });
      EXPECT_FALSE(data.Prepare());
      EXPECT_EQ(errors, std::vector<PayloadError>{c.expected});
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

// The wrappers the build made carry the stage programs it made, byte for byte, and a configuration
// that declares what they carry.
TEST_F(WrapperPayloadTest, BuiltWrappersCarryTheBuiltStages) {
  const struct {
    const char* wrapper;
    const char* stage1;
    const char* stage2;
  } cases[] = {
      {ZT_DUOFLASH, ZT_MONOFLASH, ZT_MONOFLASH_STAGE2},
      {ZT_DUOFLASH_SIM, ZT_MONOFLASH_SIM, ZT_MONOFLASH_STAGE2_SIM},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wrapper);
    const win::ScopedModule wrapper(LoadLibraryExW(fs::path(c.wrapper).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(wrapper.valid());
    std::vector<PayloadError> errors;
    CResourceData data(true, wrapper.get(), [&](PayloadError e) { errors.push_back(e); });
    ASSERT_TRUE(data.Prepare());
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(ReadBytes(data.Stage1Path()) == ReadBytes(c.stage1)) << "stage 1 is not the stage-1 Monoflash";
    EXPECT_TRUE(ReadBytes(data.Stage2Path()) == ReadBytes(c.stage2)) << "stage 2 is not the stage-2 Monoflash";
    EXPECT_TRUE(ReadBytes(data.GlossaryLibraryPath()) == ReadBytes(ZT_KESGLOSS_DLL));
    EXPECT_TRUE(ReadBytes(data.AutoplayLibraryPath()) == ReadBytes(ZT_DSSCANCEL_DLL));
    EXPECT_TRUE(BinBytes(wrapper.get(), 155, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)) == ReadBytes(ZT_DSSCANCEL_DLL))
        << "the Japanese copy of the autoplay-cancel library";

    // The sections and keys in their order, CR LF after each line, every size the real one.
    const auto size = [](const std::string& path) { return std::to_string(ReadBytes(path).size()); };
    const auto bin = [&](UINT id) { return std::to_string(BinBytes(wrapper.get(), id, kNeutral).size()); };
    const std::string expected = "[INFO]\r\nMODEL=ZT-5100\r\n[RESOURCE]\r\nIdBinSt1UpdataExe=" + size(c.stage1) +
                                 "\r\nIdBinSt2UpdataExe=" + size(c.stage2) + "\r\nIdBinGlossariesTxt=" + bin(139) +
                                 "\r\nIdBinKesGlossDll=" + size(ZT_KESGLOSS_DLL) +
                                 "\r\nIdBinDSSCancelDll=" + size(ZT_DSSCANCEL_DLL) + "\r\nIdBinWWizard1Jpeg=" + bin(147) +
                                 "\r\nIdBinWWizard2Jpeg=" + bin(146) + "\r\n";
    EXPECT_EQ(ReadBytes(data.ConfigurationPath()), expected);
  }
}

}  // namespace
