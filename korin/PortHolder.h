// CPortHolder: the multicast port that a Korin sender or receiver owns.
// CMulticast has virtual functions but no virtual destructor, so the port
// lives in a final box and is never deleted through its own type.
#pragma once

#include <memory>
#include <new>

#include "mcast/Multicast.h"
#include "platform/Win32Types.h"

class CPortHolder {
 public:
  // A new, closed port in place of any earlier one; nullptr when out of memory.
  CMulticast* Create() {
    m_pBox.reset(new (std::nothrow) tBox);
    return Get();
  }
  // Closes and frees the port.
  void Release() { m_pBox.reset(); }
  // The port, or nullptr when there is none.
  CMulticast* Get() const { return m_pBox ? &m_pBox->port : nullptr; }

 private:
  struct tBox final {
    CMulticast port;
  };
  std::unique_ptr<tBox> m_pBox;
};
