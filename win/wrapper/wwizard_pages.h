#pragma once
// The three pages of the two-stage wizard: the opening page that starts stage 1, the page between the
// stages that starts stage 2, and the last page, which is active (behind the hidden sheet) while
// stage 2 runs. Their texts and pictures stand in a column 400 pixels wide in the middle of the page.

#include <string>

#include "win/framework/dialog.h"
#include "win/shared/jpeg_data.h"

class CWFwUpBaseSheet;

class CWWizardPage : public win::CPropertyPage {
 public:
  CWWizardPage(CWFwUpBaseSheet& sheet, UINT templateId, UINT pictureId);

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(win::DataExchange& exchange) override;
  void OnPaint(HDC dc) override;

  // The column's offset from the page's left edge, from the page's normal width.
  int ComputeOffset() const;
  // Moves a text to `left` with the column's width, keeping its top and height.
  void PlaceText(int controlId, int left);
  int TextLeft(int controlId) const;
  // The sheet's `button` onto the rectangle of its Cancel button.
  void MoveOntoCancel(HWND button, HWND cancel) const;

  CWFwUpBaseSheet& Sheet;
  int Offset = 0;
  bool FirstActivation = false;
  std::wstring Text1;
  std::wstring Text2;
  bool HasSecondText = true;

 private:
  UINT PictureId;  // 0: the page has no picture
  CJpegData Picture;
};

class CWWizard1Opening : public CWWizardPage {
 public:
  explicit CWWizard1Opening(CWFwUpBaseSheet& sheet);

 protected:
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
};

class CWWizard2SecondUpdate : public CWWizardPage {
 public:
  explicit CWWizard2SecondUpdate(CWFwUpBaseSheet& sheet);

 protected:
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
};

class CWWizard3NotUpdate : public CWWizardPage {
 public:
  explicit CWWizard3NotUpdate(CWFwUpBaseSheet& sheet);

 protected:
  BOOL OnSetActive() override;
};
