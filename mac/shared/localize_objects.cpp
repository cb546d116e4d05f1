#include "mac/shared/localize_objects.h"

std::string LocalizableView::title() const {
  const auto* button = dynamic_cast<const mac::Button*>(&view_);
  return button != nullptr ? button->title() : std::string();
}

LocalizableMenu::LocalizableMenu(mac::Menu& menu) : menu_(menu) {}

LocalizableMenu::~LocalizableMenu() = default;

std::vector<LocalizableObject*> LocalizableMenu::items() {
  std::vector<LocalizableObject*> items;
  items.reserve(menu_.numberOfItems());
  for (size_t i = 0; i < menu_.numberOfItems(); ++i) {
    mac::MenuItem& item = menu_.itemAtIndex(i);
    // Adapters handed out before stay valid: a caller may still hold them.
    auto& adapter = items_[&item];
    if (!adapter) adapter = std::make_unique<LocalizableMenuItem>(item);
    items.push_back(adapter.get());
  }
  return items;
}

LocalizableObject* LocalizableMenuItem::submenu() {
  mac::Menu* menu = item_.submenu();
  if (menu == nullptr) return nullptr;
  if (menu != submenuOf_ || !submenu_) {
    submenu_ = std::make_unique<LocalizableMenu>(*menu);
    submenuOf_ = menu;
  }
  return submenu_.get();
}

void localizeObjects(CMLocalize& texts, mac::Window& window) {
  LocalizableWindow adapter(window);
  texts.localizeObjects(&adapter);
}

void localizeObjects(CMLocalize& texts, mac::Menu& menu) {
  LocalizableMenu adapter(menu);
  texts.localizeObjects(&adapter);
}
