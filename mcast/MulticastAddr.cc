// The port's address handling: parsing, the interface seam and the local
// address look-up.
#include "mcast/MulticastAddr.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mcast/Multicast.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"

namespace mcast_internal {
namespace {

// The interface named by ORVALO_MCAST_INTERFACE (a dotted address), else 0.
DWORD InterfaceFromEnvironment() {
  const char* sz = std::getenv("ORVALO_MCAST_INTERFACE");
  DWORD dwAddr = 0;
  if (sz == nullptr || *sz == '\0' || !ParseDottedAddr(sz, &dwAddr)) return 0;
  return dwAddr;
}

std::atomic<DWORD> g_dwTestInterface{InterfaceFromEnvironment()};  // network order, 0 = none

bool IsLoopback(DWORD dwAddr) { return (ntohl(dwAddr) >> 24) == 127; }

// The first IPv4 address of a host name that is not a loopback address, or 0.
DWORD LookUpNonLoopback(const char* szName, int* pnError) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* pList = nullptr;
  *pnError = getaddrinfo(szName, nullptr, &hints, &pList);
  if (*pnError != 0) return 0;
  DWORD dwFound = 0;
  for (addrinfo* p = pList; p != nullptr && dwFound == 0; p = p->ai_next) {
    DWORD dw = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
    if (dw != 0 && !IsLoopback(dw)) dwFound = dw;
  }
  freeaddrinfo(pList);
  return dwFound;
}

// The source address of the interface a datagram to a multicast group would
// leave by: a UDP socket connected to 239.99.99.99:7 (nothing is sent).
DWORD ConnectedSocketAddr() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(7);
  to.sin_addr.s_addr = inet_addr("239.99.99.99");
  DWORD dwAddr = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    DebugPrintf("CMulticast::GetLocalIPaddr connect failed with %lu\n",
                static_cast<unsigned long>(platform::WsaFromErrno(errno)));
  } else {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
      DebugPrintf("CMulticast::GetLocalIPaddr getsockname failed with %lu\n",
                  static_cast<unsigned long>(platform::WsaFromErrno(errno)));
    } else {
      dwAddr = local.sin_addr.s_addr;
    }
  }
  close(fd);
  return IsLoopback(dwAddr) ? 0 : dwAddr;
}

DWORD HostNameAddr() {
  char szName[256] = {};
  if (gethostname(szName, sizeof szName - 1) != 0) {
    DebugPrintf("CMulticast::GetLocalIPaddr gethostname failed with %lu\n",
                static_cast<unsigned long>(platform::WsaFromErrno(errno)));
    return 0;
  }
  int nError = 0;
  return LookUpNonLoopback(szName, &nError);
}

// The node name, as the computer name of this platform.
DWORD ComputerNameAddr() {
  utsname u{};
  if (uname(&u) != 0) {
    DebugPrintf("CMulticast::GetLocalIPaddr GetComputerName failed with %lu\n",
                static_cast<unsigned long>(platform::Win32FromErrno(errno)));
    return 0;
  }
  int nError = 0;
  DWORD dw = LookUpNonLoopback(u.nodename, &nError);
  if (nError != 0) {
    DebugPrintf("CMulticast::GetLocalIPaddr gethostbyname on GetComputerName failed with %lu\n",
                static_cast<unsigned long>(WSAHOST_NOT_FOUND));
  }
  return dw;
}

}  // namespace

bool ParseDottedAddr(const char* szDottedAddr, DWORD* pdwAddr) {
  if (szDottedAddr == nullptr) return false;
  if (strnlen(szDottedAddr, CMulticast::kMaxDottedAddrLen + 1) > CMulticast::kMaxDottedAddrLen) {
    return false;
  }
  in_addr a{};
  if (inet_pton(AF_INET, szDottedAddr, &a) != 1) return false;
  *pdwAddr = a.s_addr;
  return true;
}

DWORD TestInterfaceAddr() { return g_dwTestInterface.load(); }

bool LoopbackMachineFromEnvironment() {
  static const bool fLoopback = [] {
    DWORD dwAddr = InterfaceFromEnvironment();
    return dwAddr != 0 && IsLoopback(dwAddr);
  }();
  return fLoopback;
}

void DebugPrintf(const char* szFormat, ...) {
  char szBuf[256];
  va_list args;
  va_start(args, szFormat);
  vsnprintf(szBuf, sizeof szBuf, szFormat, args);
  va_end(args);
  OutputDebugString(szBuf);
}

}  // namespace mcast_internal

BOOL CMulticast::SetInterfaceForTesting(const char* szDottedAddr) {
  if (szDottedAddr == nullptr || *szDottedAddr == '\0') {
    mcast_internal::g_dwTestInterface.store(0);
    return TRUE;
  }
  DWORD dwAddr = 0;
  if (!mcast_internal::ParseDottedAddr(szDottedAddr, &dwAddr)) return FALSE;
  mcast_internal::g_dwTestInterface.store(dwAddr);
  return TRUE;
}

// Connected-socket method first: it finds the interface actually used, where
// the host name may map to 127.0.1.1 or to another namespace's address.
int CMulticast::GetLocalIPaddr(DWORD* pdwAddr) {
  if (!ORV_ASSERT(pdwAddr != nullptr)) return RecordError(WSAEFAULT);
  *pdwAddr = 0;
  m_nLastError = WSABASEERR;
  DWORD dwAddr = mcast_internal::TestInterfaceAddr();
  if (dwAddr == 0) dwAddr = mcast_internal::ConnectedSocketAddr();
  if (dwAddr == 0) dwAddr = mcast_internal::HostNameAddr();
  if (dwAddr == 0) dwAddr = mcast_internal::ComputerNameAddr();
  if (dwAddr == 0) return RecordError(WSAHOST_NOT_FOUND);
  *pdwAddr = dwAddr;
  return 0;
}
