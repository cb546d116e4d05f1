#pragma once
// The payload items both Windows programs carry as resources of type "BIN": found by number, locked
// in place, and written out as temporary files. Failures come back as the item's PayloadError.

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/payload.h"

namespace payload {

struct BinResource {
  HRSRC info = nullptr;
  DWORD size = 0;  // 0 when missing
};

BinResource FindBin(HMODULE module, uint16_t id);
// The resource's bytes in place, or null.
const void* LockBin(HMODULE module, const BinResource& resource);

// A temporary file made afresh (no sharing), written in one call and closed on every path.
PayloadError WriteItem(const std::string& path, const void* data, DWORD size, uint32_t itemBit);
PayloadError WriteItem(const std::wstring& path, const void* data, DWORD size, uint32_t itemBit);

// Resource `id` written whole to `path`: missing or empty, not lockable, not created, written short.
template <class Path>
PayloadError WriteBinItem(HMODULE module, uint16_t id, uint32_t itemBit, const Path& path) {
  const BinResource resource = FindBin(module, id);
  if (!resource.info || resource.size == 0) return MakePayloadError(PayloadFailure::Missing, itemBit);
  const void* data = LockBin(module, resource);
  if (!data) return MakePayloadError(PayloadFailure::NotLocked, itemBit);
  return WriteItem(path, data, resource.size, itemBit);
}

// An item to write, when `wanted`, to `path`.
template <class Path>
struct OutgoingItem {
  const PayloadItem& item;
  const Path& path;
  bool wanted;
};

// Every wanted item is locked, in order, before any is written, and the writing follows the same
// order; each stops at the first failure. So a payload that cannot be read writes nothing.
template <class Path>
PayloadError LockAndWriteAll(HMODULE module, std::span<const OutgoingItem<Path>> items) {
  std::vector<const void*> data(items.size());
  std::vector<DWORD> sizes(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].wanted) continue;
    const BinResource resource = FindBin(module, items[i].item.resourceId);
    data[i] = LockBin(module, resource);
    sizes[i] = resource.size;
    if (!data[i]) return MakePayloadError(PayloadFailure::NotLocked, items[i].item.itemBit);
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].wanted) continue;
    if (const PayloadError error = WriteItem(items[i].path, data[i], sizes[i], items[i].item.itemBit); error != kPayloadOk) {
      return error;
    }
  }
  return kPayloadOk;
}

}  // namespace payload
