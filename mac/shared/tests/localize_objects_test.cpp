// Windows and menus of the simulated Mac take their texts from the glossary table.
#include <gtest/gtest.h>

#include "mac/shared/localize_objects.h"
#include "mac/shared/tests/bound_mac.h"

namespace {

const char* const kGlossary =
    "WinVal\tJPN\tENU\r\n"
    "10000\tファームウェアアップデートプログラム\tFirmware Update Program\r\n"
    "10005\t終了\tQuit Firmware Update\r\n"
    "10003\tほかを隠す\tHide Others\r\n"
    "11013\tキャンセル\tCancel\r\n"
    "10010\tファイル\tFile\r\n"
    "10011\tウインドウ\tWindow\r\n";

class PlatformLocalize : public testing::Test {
 protected:
  void SetUp() override {
    bound.Write(bound.resources() + "/glossaries.txt", kGlossary);
    texts = CMLocalize::localizeObject(bound.resources() + "/glossaries.txt");
    ASSERT_NE(texts, nullptr);
  }

  BoundMac bound;
  CMLocalize* texts = nullptr;
};

TEST_F(PlatformLocalize, AWindowGetsItsTitleItsViewsKeepTheirs) {
  mac::Window window(bound.mac.application(), "10000");
  mac::Button& cancel = window.make<mac::Button>(mac::Rect{}, "11013");
  window.contentView().addSubview(cancel);
  mac::Window other(bound.mac.application(), "Kestrel");

  localizeObjects(*texts, window);
  localizeObjects(*texts, other);
  EXPECT_EQ(window.title(), "Firmware Update Program");
  EXPECT_EQ(cancel.title(), "11013") << "a page sets its buttons' texts itself";
  EXPECT_EQ(other.title(), "Kestrel") << "a title without text stays";

  LocalizableView view(cancel);
  texts->localizeObjects(&view);
  EXPECT_EQ(cancel.title(), "11013");
}

TEST_F(PlatformLocalize, AMenuGetsItsItemsSubmenusFirstAndItsOwnTitle) {
  mac::Menu& menu = bound.mac.application().mainMenu();
  menu.setTitle("10011");
  mac::MenuItem& application = menu.addItem("Firmware Update");
  mac::Menu& applicationMenu = application.setSubmenu(std::make_unique<mac::Menu>("10000"));
  mac::MenuItem& hideOthers = applicationMenu.addItem("10003");
  applicationMenu.addSeparator();
  mac::MenuItem& quit = applicationMenu.addItem("10005:", 1);
  mac::MenuItem& file = menu.addItem("10010...");
  mac::MenuItem& unknown = menu.addItem("99999");

  localizeObjects(*texts, menu);
  EXPECT_EQ(menu.title(), "Window");
  EXPECT_EQ(application.title(), "Firmware Update");
  EXPECT_EQ(applicationMenu.title(), "Firmware Update Program");
  EXPECT_EQ(hideOthers.title(), "Hide Others");
  EXPECT_EQ(applicationMenu.itemAtIndex(1).title(), "") << "a separator has nothing to show";
  EXPECT_EQ(quit.title(), "Quit Firmware Update :");
  EXPECT_EQ(file.title(), "File...");
  EXPECT_EQ(unknown.title(), "99999");

  // The localized menu is still the one the user chooses from.
  int chosen = 0;
  quit.setAction([&](mac::MenuItem& item) { chosen = item.tag(); });
  EXPECT_TRUE(bound.mac.application().mainMenu().findItem("Quit Firmware Update :")->choose());
  EXPECT_EQ(chosen, 1);
}

TEST_F(PlatformLocalize, AMenusAdaptersStayTheSameAndFollowNewItems) {
  mac::Menu menu("10011");
  mac::MenuItem& first = menu.addItem("10003");
  LocalizableMenu adapter(menu);
  const auto before = adapter.items();
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0]->submenu(), nullptr);
  first.setSubmenu(std::make_unique<mac::Menu>("10000"));
  menu.addItem("11013");
  const auto after = adapter.items();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0], before[0]);
  ASSERT_NE(after[0]->submenu(), nullptr);
  EXPECT_EQ(after[0]->submenu()->title(), "10000");
  EXPECT_EQ(after[0]->submenu(), after[0]->submenu());

  texts->localizeObjects(&adapter);
  EXPECT_EQ(first.submenu()->title(), "Firmware Update Program");
  EXPECT_EQ(menu.itemAtIndex(1).title(), "Cancel");
}

}  // namespace
