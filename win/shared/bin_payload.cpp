#include "win/shared/bin_payload.h"

#include "win/framework/handles.h"

namespace payload {

namespace {

PayloadError WriteTo(HANDLE created, const void* data, DWORD size, uint32_t itemBit) {
  const win::ScopedHandle file(created);
  if (!file) return MakePayloadError(PayloadFailure::NotCreated, itemBit);
  DWORD written = 0;
  if (!WriteFile(file.get(), data, size, &written, nullptr) || written < size) {
    return MakePayloadError(PayloadFailure::WrittenShort, itemBit);
  }
  return kPayloadOk;
}

}  // namespace

BinResource FindBin(HMODULE module, uint16_t id) {
  BinResource r;
  r.info = FindResourceW(module, MAKEINTRESOURCEW(id), L"BIN");
  if (r.info) r.size = SizeofResource(module, r.info);
  return r;
}

const void* LockBin(HMODULE module, const BinResource& resource) {
  if (!resource.info) return nullptr;
  const HGLOBAL loaded = LoadResource(module, resource.info);
  return loaded ? LockResource(loaded) : nullptr;
}

PayloadError WriteItem(const std::string& path, const void* data, DWORD size, uint32_t itemBit) {
  return WriteTo(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr),
                 data, size, itemBit);
}

PayloadError WriteItem(const std::wstring& path, const void* data, DWORD size, uint32_t itemBit) {
  return WriteTo(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr),
                 data, size, itemBit);
}

}  // namespace payload
