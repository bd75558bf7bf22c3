// CSurface: a drawing surface that keeps what is drawn on it, in order, so
// that code which draws (a control's OnDraw) can be read back by a test or
// printed. There is no screen: nothing is rasterised. Text is measured in a
// fixed cell of kDialogBaseUnitX x kDialogBaseUnitY pixels per character
// (ui/Dialog.h), the same units dialogs are laid out in.
//
// Thread safety: none; one thread draws on a surface at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/UiTypes.h"

namespace ui {

class CSurface {
 public:
  enum class OpKind { kRectangle, kText };
  struct tOp {
    OpKind kind;
    RECT rect;         // the outline drawn, or where the text lands
    std::string text;  // kText only
  };

  // The outline of rc.
  void Rectangle(const RECT& rc);
  // One line of text centred horizontally and vertically in rc. Where it lands
  // may reach outside rc when the text is larger.
  void DrawCenteredText(std::string_view text, const RECT& rc);

  const std::vector<tOp>& Ops() const { return m_ops; }
  void Clear() { m_ops.clear(); }

 private:
  std::vector<tOp> m_ops;
};

}  // namespace ui
