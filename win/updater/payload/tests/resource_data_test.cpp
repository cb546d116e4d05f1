// The payload check on real resources: a bundle library, copied and damaged the way a broken build
// or a bad download would damage it.
#include "win/updater/payload/resource_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "win/framework/handles.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Replaces a key's value in an INI text (the key must be there).
std::string WithValue(std::string ini, const std::string& key, const std::function<std::string(const std::string&)>& edit) {
  const size_t at = ini.find("\n" + key + "=");
  EXPECT_NE(at, std::string::npos) << key;
  const size_t start = at + key.size() + 2;
  const size_t end = ini.find_first_of("\r\n", start);
  ini.replace(start, end - start, edit(ini.substr(start, end - start)));
  return ini;
}
std::string OneMore(const std::string& v) { return std::to_string(std::stoul(v) + 1); }
std::string OneLess(const std::string& v) { return std::to_string(std::stoul(v) - 1); }

class ResourceDataTest : public testing::Test {
 protected:
  // The tests point TMP at a folder of their own; the system's is kept to come back to.
  static const fs::path& SystemTemp() {
    static const fs::path temp = fs::temp_directory_path();
    return temp;
  }

  void SetUp() override {
    root_ = SystemTemp() / ("zt-payload-" + std::to_string(GetCurrentProcessId()));
    temp_ = root_ / "temp";
    fs::create_directories(temp_);
    SetEnvironmentVariableA("TMP", (temp_.string() + "\\").c_str());
    bundle_ = root_ / "bundle.dll";
    fs::copy_file(ZT_TEST_BUNDLE, bundle_, fs::copy_options::overwrite_existing);
    ini_ = ReadText(fs::path(ZT_STAGE1_DIR).parent_path().parent_path() / "win" / "updater" / "payload" / "testbundle" /
                    "FwUpDate.ini");
    ASSERT_FALSE(ini_.empty());
  }
  void TearDown() override {
    module_.Reset();
    SetEnvironmentVariableA("TMP", SystemTemp().string().c_str());
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Puts `ini` into the copied bundle as its configuration and loads the bundle as data.
  HMODULE Load(const std::string* ini) {
    module_.Reset();  // a loaded library cannot be rewritten
    HANDLE update = BeginUpdateResourceA(bundle_.string().c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    EXPECT_TRUE(UpdateResourceA(update, "BIN", MAKEINTRESOURCEA(204), neutral, const_cast<char*>(ini->data()),
                                static_cast<DWORD>(ini->size())));
    EXPECT_TRUE(EndUpdateResourceA(update, FALSE));
    module_.Reset(LoadLibraryExA(bundle_.string().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
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

TEST_F(ResourceDataTest, SoundBundleIsWrittenAndRemoved) {
  std::vector<PayloadError> errors;
  {
    CResourceData data(true, Load(&ini_), [&](PayloadError e) { errors.push_back(e); });
    ASSERT_TRUE(data.Prepare());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(TempFiles(), (std::set<std::string>{"DssCancel.dll", "FwUpDate.ini", "Glossaries.txt", "KesGloss.dll"}));
    EXPECT_EQ(ReadText(data.GlossaryTablePath()), ReadText(fs::path(ZT_STAGE1_DIR) / "Glossaries.txt"));
    EXPECT_EQ(data.CompletionMarkerPath(), (temp_ / "KestrelReflashCompleteCheck.txt").string());
    std::ofstream(data.CompletionMarkerPath()) << "";

    const FwInfoArray infos = LoadFwInfos(data.ConfigurationPath());
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_TRUE(infos[0]->IsSubTarget);
    EXPECT_TRUE(infos[0]->IsFactory);
    EXPECT_EQ(infos[0]->Length, 31744);
    EXPECT_EQ(infos[0]->Model, "ZT-5100");
  }
  EXPECT_EQ(TempFiles(), std::set<std::string>{"KestrelReflashCompleteCheck.txt"}) << "only the marker may remain";
}

TEST_F(ResourceDataTest, DamagedBundlesReportTheirCodeAndWriteOnlyTheConfiguration) {
  struct Case {
    const char* what;
    std::function<std::string(const std::string&)> damage;
    bool autoplay;
    PayloadError expected;
  };
  const Case cases[] = {
      {"second picture one byte off", [](const std::string& i) { return WithValue(i, "IdBinWizard2Jpeg", OneMore); }, true,
       0x00010010},
      {"image and table off",
       [](const std::string& i) { return WithValue(WithValue(i, "IdBinFirmware", OneLess), "IdBinStringTable", OneMore); },
       true, 0x00010006},
      {"no firmware key",
       [](const std::string& i) { return WithValue(i, "IdBinFirmware", [](const std::string&) { return "0"; }); }, true,
       0x00010002},
      {"a second image declared but missing",
       [](const std::string& i) { return i + "IdBinFirmware2=100\r\n"; }, true, 0x00010002},
      {"library off", [](const std::string& i) { return WithValue(i, "IdBinKesGlossDll", OneMore); }, true, 0x00010040},
      {"autoplay library checked even when not needed",
       [](const std::string& i) { return WithValue(i, "IdBinDssCancelDll", OneMore); }, false, 0x00010080},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string ini = c.damage(ini_);
    std::vector<PayloadError> errors;
    {
      CResourceData data(c.autoplay, Load(&ini), [&](PayloadError e) { errors.push_back(e); });
      EXPECT_FALSE(data.Prepare());
      EXPECT_EQ(errors, std::vector<PayloadError>{c.expected});
      EXPECT_EQ(TempFiles(), std::set<std::string>{"FwUpDate.ini"});
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(ResourceDataTest, WithoutAutoplayLibraryItIsNotWritten) {
  std::vector<PayloadError> errors;
  CResourceData data(false, Load(&ini_), [&](PayloadError e) { errors.push_back(e); });
  ASSERT_TRUE(data.Prepare());
  EXPECT_TRUE(data.AutoplayLibraryPath().empty());
  EXPECT_EQ(TempFiles(), (std::set<std::string>{"FwUpDate.ini", "Glossaries.txt", "KesGloss.dll"}));
}

TEST_F(ResourceDataTest, ConfigurationThatCannotBeWrittenOrIsMissing) {
  std::vector<PayloadError> errors;
  {
    // This test program carries no bundle at all.
    CResourceData data(true, GetModuleHandleA(nullptr), [&](PayloadError e) { errors.push_back(e); });
    EXPECT_FALSE(data.Prepare());
  }
  {
    const HMODULE bundle = Load(&ini_);  // rewriting the bundle needs the temporary folder itself
    SetEnvironmentVariableA("TMP", (temp_.string() + "\\missing\\").c_str());
    CResourceData data(true, bundle, [&](PayloadError e) { errors.push_back(e); });
    EXPECT_FALSE(data.Prepare());
  }
  EXPECT_EQ(errors, (std::vector<PayloadError>{0x00010001, 0x00040001}));
}

// A temporary folder whose name does not fit the system's path buffer is unknown, not cut short.
TEST_F(ResourceDataTest, TemporaryFolderTooLongIsUnknown) {
  const HMODULE bundle = Load(&ini_);
  // Lengths of the whole folder name: within the buffer, the buffer itself, and far beyond. One
  // below the buffer is left out: systems differ on whether the terminating zero must fit as well.
  for (const size_t length : {size_t{MAX_PATH} - 2, size_t{MAX_PATH}, size_t{MAX_PATH} + 100}) {
    const std::string folder = temp_.string() + "\\" + std::string(length - temp_.string().size() - 2, 'x') + "\\";
    SCOPED_TRACE(folder.size());
    SetEnvironmentVariableA("TMP", folder.c_str());
    std::vector<PayloadError> errors;
    {
      CResourceData data(true, bundle, [&](PayloadError e) { errors.push_back(e); });
      EXPECT_FALSE(data.Prepare());
      if (folder.size() >= MAX_PATH) {
        EXPECT_EQ(errors, std::vector<PayloadError>{kTempFolderUnknown});
        EXPECT_TRUE(data.ConfigurationPath().empty());
      } else {
        // Fits, but is not there: the configuration cannot be written.
        EXPECT_EQ(errors, std::vector<PayloadError>{0x00040001});
      }
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(ResourceDataTest, ReadBinResourceReportsSizeAndCopiesOnlyWhenItFits) {
  const HMODULE module = Load(&ini_);
  uint32_t size = 0;
  ASSERT_TRUE(ReadBinResource(250, nullptr, &size, module));
  EXPECT_EQ(size, 31744u);
  std::vector<uint8_t> buffer(size - 1);
  uint32_t given = size - 1;
  EXPECT_FALSE(ReadBinResource(250, buffer.data(), &given, module));
  EXPECT_EQ(given, 31744u) << "the size is stored in every case";
  buffer.resize(size);
  EXPECT_TRUE(ReadBinResource(250, buffer.data(), &given, module));
  EXPECT_EQ(buffer[0], 'Z');
  EXPECT_FALSE(ReadBinResource(251, nullptr, &size, module));
  EXPECT_FALSE(ReadBinResource(250, buffer.data(), nullptr, module));
}

TEST_F(ResourceDataTest, RecordsFromTheSystemsProfileReaders) {
  struct Case {
    const char* what;
    std::string ini;
    std::function<void(const FwInfoArray&)> check;
  };
  std::string many;
  for (int i = 1; i <= 300; ++i) many += (i == 1 ? std::string("[FIRMWARE]") : "[FIRMWARE" + std::to_string(i) + "]") + "\r\nDeviceID=" + std::to_string(i) + "\r\n";
  const Case cases[] = {
      {"lower-case sub is the main processor", "[FIRMWARE]\r\nTraget=sub\r\n",
       [](const FwInfoArray& r) { EXPECT_FALSE(r[0]->IsSubTarget); }},
      {"Factory is the customer rule", "[FIRMWARE]\r\nType=Factory\r\n", [](const FwInfoArray& r) { EXPECT_FALSE(r[0]->IsFactory); }},
      {"hexadecimal with 0x", "[FIRMWARE]\r\nStorageSize=0x1F4\r\n", [](const FwInfoArray& r) { EXPECT_EQ(r[0]->StorageSize, 500u); }},
      {"hexadecimal without", "[firmware]\r\nstoragesize = 1f4\r\n", [](const FwInfoArray& r) { EXPECT_EQ(r[0]->StorageSize, 500u); }},
      {"no firmware section", "[RESOURCE]\r\nIdBinFirmware=1\r\n",
       [](const FwInfoArray& r) {
         ASSERT_EQ(r.size(), 1u);
         EXPECT_EQ(r[0]->Version, (FwVersion{1, 0, 0}));
       }},
      {"FIRMWARE3 without FIRMWARE2", "[FIRMWARE]\r\n[FIRMWARE3]\r\n", [](const FwInfoArray& r) { EXPECT_EQ(r.size(), 1u); }},
      {"more section names than the first buffer holds", many,
       [](const FwInfoArray& r) {
         ASSERT_EQ(r.size(), 300u);
         EXPECT_EQ(r[299]->DeviceID, 300);
         EXPECT_EQ(r[299]->ResourceId, 549);
       }},
      {"quoted and padded values", "[FIRMWARE]\r\nModel = \"ZT-5100\" \r\nVersion= 1.01b\r\n",
       [](const FwInfoArray& r) {
         EXPECT_EQ(r[0]->Model, "ZT-5100");
         EXPECT_EQ(r[0]->Version, (FwVersion{1, 1, 2}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = temp_ / "case.ini";
    std::ofstream(path, std::ios::binary) << c.ini;
    c.check(LoadFwInfos(path.string()));
  }
}

}  // namespace
