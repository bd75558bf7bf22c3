#include "com/ComError.h"

#include <cstdio>

namespace com {

CComError::CComError(HRESULT hr) : m_hr(hr) {
  std::snprintf(m_szWhat, sizeof m_szWhat, "HRESULT 0x%08X", static_cast<unsigned>(hr));
}

}  // namespace com
