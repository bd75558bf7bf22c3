#include "ui/Surface.h"

#include "ui/Dialog.h"

namespace ui {

void CSurface::Rectangle(const RECT& rc) { m_ops.push_back(tOp{OpKind::kRectangle, rc, {}}); }

void CSurface::DrawCenteredText(std::string_view text, const RECT& rc) {
  const LONG cx = static_cast<LONG>(text.size()) * kDialogBaseUnitX;
  const LONG cy = kDialogBaseUnitY;
  const LONG x = rc.left + ((rc.right - rc.left) - cx) / 2;
  const LONG y = rc.top + ((rc.bottom - rc.top) - cy) / 2;
  m_ops.push_back(tOp{OpKind::kText, RECT{x, y, x + cx, y + cy}, std::string(text)});
}

}  // namespace ui
