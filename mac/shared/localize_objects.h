#pragma once
// The platform's windows, views and menus in the shape CMLocalize::localizeObjects walks. Each
// adapter refers to its object and must not outlive it; a menu's adapter makes and keeps the adapters
// of its items and their submenus.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mac/platform/appkit.h"
#include "mac/shared/localize.h"

class LocalizableWindow : public LocalizableObject {
 public:
  explicit LocalizableWindow(mac::Window& window) : window_(window) {}
  Kind kind() const override { return Kind::Window; }
  std::string title() const override { return window_.title(); }
  void setTitle(const std::string& title) override { window_.setTitle(title); }

 private:
  mac::Window& window_;
};

// Views keep what they show: their texts are set by the pages that own them.
class LocalizableView : public LocalizableObject {
 public:
  explicit LocalizableView(mac::View& view) : view_(view) {}
  Kind kind() const override { return Kind::View; }
  std::string title() const override;
  void setTitle(const std::string&) override {}

 private:
  mac::View& view_;
};

class LocalizableMenuItem;

class LocalizableMenu : public LocalizableObject {
 public:
  explicit LocalizableMenu(mac::Menu& menu);
  ~LocalizableMenu() override;
  Kind kind() const override { return Kind::Menu; }
  std::string title() const override { return menu_.title(); }
  void setTitle(const std::string& title) override { menu_.setTitle(title); }
  // The menu's items as they are now; an item's adapter stays the same from one call to the next.
  std::vector<LocalizableObject*> items() override;

 private:
  mac::Menu& menu_;
  std::map<const mac::MenuItem*, std::unique_ptr<LocalizableMenuItem>> items_;
};

class LocalizableMenuItem : public LocalizableObject {
 public:
  explicit LocalizableMenuItem(mac::MenuItem& item) : item_(item) {}
  Kind kind() const override { return Kind::MenuItem; }
  std::string title() const override { return item_.title(); }
  void setTitle(const std::string& title) override { item_.setTitle(title); }
  LocalizableObject* submenu() override;

 private:
  mac::MenuItem& item_;
  const mac::Menu* submenuOf_ = nullptr;
  std::unique_ptr<LocalizableMenu> submenu_;
};

// CMLocalize::localizeObjects on a window (its title) or a menu (its items, submenus first, and its
// own title).
void localizeObjects(CMLocalize& texts, mac::Window& window);
void localizeObjects(CMLocalize& texts, mac::Menu& menu);
