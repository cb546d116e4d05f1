#include "common/wizard_rules.h"

#include "common/text_format.h"

uint16_t OsClassFor(uint32_t major, uint32_t minor) {
  if (major >= 6) return 5;
  if (major == 5) return minor == 0 ? 2 : minor == 1 ? 3 : minor == 2 ? 4 : 0;
  if (major == 4 && minor == 90) return 1;
  return 0;
}

bool AsksForStorageMode(const std::array<uint8_t, kDeviceStateSize>& state) { return state[6] == 3; }

bool NeedsStorageSize(const CFwUpBaseFwInfo& record) { return record.IsFactory && record.StorageCheck != 0; }

WizardPage ChoosePage(const CFwUpBaseFwInfo& record, const FwVersion& device, bool chainedRun,
                      std::optional<uint64_t> storageSize) {
  if (record.IsFactory) {
    const bool mismatch = NeedsStorageSize(record) && storageSize && *storageSize != record.StorageSize;
    return mismatch ? kPageStorageMismatch : kPageVersion;
  }
  if (chainedRun) return device <= record.Version ? kPageVersion : kPageNotUpdate;
  return device < record.Version ? kPageVersion : kPageNotUpdate;
}

bool SilentShouldUpdate(const CFwUpBaseFwInfo& record, const FwVersion& device) {
  return record.IsFactory || device < record.Version;
}

PageView ComposePage(WizardPage page, const GlossaryLookup& text, const PageValues& values) {
  PageView view;
  const CFwUpBaseFwInfo* record = values.record;
  const bool factory = record && record->IsFactory;
  const std::string bundleVersion = record ? FormatVersion(record->Version) : std::string();
  const std::string deviceVersion = FormatVersion(values.deviceVersion);
  const std::string model = factory ? record->Model : values.deviceModel;
  const std::string deviceWord = record && record->IsPenwave ? std::string(kPenwaveWord) : text(text_id::kRecorder);
  const std::string finishOrNext = text(values.chainedStage == 1 ? text_id::kNext : text_id::kFinish);
  const ChainedClose locked = values.chainedRun ? ChainedClose::Locked : ChainedClose::Unchanged;
  const ChainedClose allowed = values.chainedRun ? ChainedClose::Allowed : ChainedClose::Unchanged;

  if (page != kPageOpening) view.modelLine = FormatText(text(text_id::kModel), {model});

  switch (page) {
    case kPageOpening:
      view.cancelText = text(text_id::kCancel);
      view.chainedClose = locked;
      view.comment = FormatText(text(text_id::kOpening), {bundleVersion, deviceWord, deviceWord});
      break;
    case kPageVersion:
      view.next = NextButton::Shown;
      view.nextText = text(factory ? text_id::kStart : text_id::kNext);
      view.cancelText = text(text_id::kCancel);
      view.chainedClose = locked;
      // The button's own label, accelerator included, goes between the brackets of the text.
      view.comment = FormatText(text(text_id::kVersion), {model, deviceVersion, bundleVersion, view.nextText});
      break;
    case kPageNotUpdate:
      view.cancelText = finishOrNext;
      view.chainedClose = allowed;
      view.comment = FormatText(text(text_id::kNotUpdate), {model, deviceVersion, bundleVersion});
      break;
    case kPageStorageMismatch: {
      view.cancelText = text(text_id::kFinish);
      view.chainedClose = allowed;
      const std::string deviceSize = std::to_string(values.deviceStorageSize);
      const std::string targetSize = record ? std::to_string(record->StorageSize) : std::string("0");
      view.comment = FormatText(text(text_id::kStorageMismatch), {model, deviceSize, targetSize});
      break;
    }
    case kPageUpdateStart:
      view.next = NextButton::ShownNextOnly;
      view.nextText = text(text_id::kStart);
      view.cancelText = text(text_id::kCancel);
      view.chainedClose = locked;
      view.comment = FormatText(text(text_id::kUpdateStart), {model, deviceWord});
      break;
    case kPageUpdateEnd:
      view.cancelText = finishOrNext;
      view.chainedClose = allowed;
      view.comment = FormatText(text(text_id::kUpdateEnd), {bundleVersion, model});
      break;
  }
  return view;
}
