// The service transport against a service object that answers each code with a canned reply, as the
// device access service would for a recorder: what the transport makes of whole, short and missing
// replies, and that the device lock is held exactly while a drive is open.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "win/updater/scsi/scsi_command_kesdvrsv.h"
#include "win/updater/service/service_client.h"
#include "win/updater/service/tests/device_service_stub.h"

namespace {

class CannedService final : public DeviceServiceStub {
 public:
  HRESULT STDMETHODCALLTYPE Open(BSTR, ULONG* device) override {
    *device = 7;
    return openResult;
  }
  HRESULT STDMETHODCALLTYPE Close(ULONG) override {
    ++closes;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Send(ULONG, ULONG code, ULONG, VARIANT) override {
    sent.push_back(code);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Receive(ULONG, ULONG code, ULONG, VARIANT* out) override {
    VariantInit(out);
    const auto found = replies.find(code);
    if (found == replies.end()) return E_FAIL;
    SAFEARRAYBOUND bound{static_cast<ULONG>(found->second.size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!found->second.empty()) std::memcpy(array->pvData, found->second.data(), found->second.size());
    V_VT(out) = VT_ARRAY | VT_UI1;
    V_ARRAY(out) = array;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NamedCommand(BSTR, ULONG, ULONG, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NamedQuery(BSTR, ULONG, ULONG, VARIANT*) override { return E_NOTIMPL; }

  HRESULT openResult = S_OK;
  int closes = 0;
  std::vector<ULONG> sent;
  std::map<ULONG, std::vector<uint8_t>> replies;
};

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Whether another process could take the device lock now.
bool DeviceLockFree() {
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, "RV1_API_MUTEX");
  const bool free = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
  if (mutex) CloseHandle(mutex);
  return free;
}

class ServiceTransportTest : public testing::Test {
 protected:
  ServiceTransportTest()
      : client_([this](IUnknown** out) {
          service_.AddRef();
          *out = &service_;
          return S_OK;
        }),
        transport_(&client_) {}

  CannedService service_;
  SendRV2Service client_;
  CScsiCommandKesDvrSV transport_;
};

// A read-back lands in the buffer the sequence reuses for every piece; what a short reply leaves
// there is the previous piece, not the recorder's.
TEST_F(ServiceTransportTest, ReadBackSucceedsOnlyWithTheWholePiece) {
  constexpr uint32_t kPiece = 64;
  const struct {
    const char* name;
    size_t replyLength;
    bool read;
  } cases[] = {
      {"whole piece", kPiece, true},
      {"one byte short", kPiece - 1, false},
      {"half", kPiece / 2, false},
      {"empty", 0, false},
      {"one byte long", kPiece + 1, true},
  };
  ASSERT_TRUE(transport_.Open(4));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Padded firmware: the previous piece and this one are the same bytes.
    std::vector<uint8_t> buffer(kPiece + 1, 0xFF);
    service_.replies[service::kReadImage] = std::vector<uint8_t>(c.replyLength, 0xFF);
    EXPECT_EQ(transport_.ReadImage(buffer.data(), kPiece, TargetCode::Main), c.read);
  }
  service_.replies.erase(service::kReadImage);
  std::vector<uint8_t> buffer(kPiece + 1);
  EXPECT_FALSE(transport_.ReadImage(buffer.data(), kPiece, TargetCode::Main)) << "no reply at all";
  transport_.Close();
}

// The identification replies as the service gives them, and the operations it cannot carry.
TEST_F(ServiceTransportTest, IdentificationRepliesAreDecoded) {
  service_.replies[service::kInquiry] = Bytes("KESTREL ");
  service_.replies[service::kDeviceId] = {0x00, 0x00, 0x01, 0x23};
  service_.replies[service::kModelName] = Bytes("ZT-5100 ");
  ASSERT_TRUE(transport_.Open(4));
  uint8_t inquiry[32] = {};
  ASSERT_TRUE(transport_.Inquiry(inquiry));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), "KESTREL ") << "where an inquiry carries the vendor";
  uint32_t id = 0;
  ASSERT_TRUE(transport_.GetDeviceId(id));
  EXPECT_EQ(id, 0x123u);
  std::string model;
  ASSERT_TRUE(transport_.GetModelName(model));
  EXPECT_EQ(model.substr(0, 7), "ZT-5100");
  uint64_t size = 0;
  EXPECT_FALSE(transport_.GetStorageSize(size)) << "the service has no storage size";
  uint8_t state[8] = {};
  EXPECT_FALSE(transport_.GetDeviceState(state, sizeof state)) << "its state answer is not to be trusted";
  transport_.Close();
}

// The device lock is held from a successful open to the close, and never after a failed open;
// nothing reaches a drive that is not open.
TEST_F(ServiceTransportTest, DeviceLockFollowsTheOpenDrive) {
  ASSERT_TRUE(DeviceLockFree());
  service_.openResult = E_ACCESSDENIED;
  EXPECT_FALSE(transport_.Open(4));
  EXPECT_TRUE(DeviceLockFree()) << "kept after a failed open";
  EXPECT_FALSE(transport_.FinishWrite(TargetCode::Sub)) << "sent to a drive that is not open";
  EXPECT_TRUE(service_.sent.empty());

  service_.openResult = S_OK;
  EXPECT_FALSE(transport_.Open(26)) << "no drive beyond Z";
  ASSERT_TRUE(transport_.Open(4));
  EXPECT_FALSE(DeviceLockFree());
  EXPECT_TRUE(transport_.FinishWrite(TargetCode::Sub));
  EXPECT_EQ(service_.sent, std::vector<ULONG>{service::kFinishWrite});
  transport_.Close();
  EXPECT_TRUE(DeviceLockFree());
  EXPECT_EQ(service_.closes, 1);
  transport_.Close();
  EXPECT_EQ(service_.closes, 1) << "closed twice";
}

}  // namespace
