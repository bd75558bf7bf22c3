// The multicast port: opening and closing, send and receive.
#include "mcast/Multicast.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mcast/MulticastAddr.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"

using mcast_internal::DebugPrintf;
using mcast_internal::ParseDottedAddr;

namespace {

constexpr int kMaxDatagramLen = 1460;
constexpr int kMaxRcvBufLen = 64512;

int SetIntOpt(SOCKET s, int nLevel, int nName, int nValue) {
  return setsockopt(s, nLevel, nName, &nValue, sizeof nValue);
}

// The buffer size as set: Linux reports twice what was set (the rest is its
// bookkeeping); the port reports what the caller set, as Windows does.
bool GetBufSize(SOCKET s, int nName, int* pnBytes) {
  int n = 0;
  socklen_t len = sizeof n;
  if (s == INVALID_SOCKET || getsockopt(s, SOL_SOCKET, nName, &n, &len) != 0) return false;
  *pnBytes = n / 2;
  return true;
}

void CloseSocket(SOCKET* ps) {
  if (*ps != INVALID_SOCKET) close(*ps);
  *ps = INVALID_SOCKET;
}

// The buffer list as iovecs, in `storage` for more than a few.
struct IoList {
  iovec small[8];
  std::vector<iovec> storage;
  iovec* p = small;
  size_t n = 0;
  DWORD dwTotal = 0;

  IoList(const WSABUF* pBufs, DWORD dwCount) : n(dwCount) {
    if (dwCount > 8) {
      storage.resize(dwCount);
      p = storage.data();
    }
    for (DWORD i = 0; i < dwCount; ++i) {
      p[i].iov_base = pBufs[i].buf;
      p[i].iov_len = pBufs[i].len;
      dwTotal += pBufs[i].len;
    }
  }
};

}  // namespace

CMulticast::CMulticast()
    : m_sRcv(INVALID_SOCKET),
      m_sSnd(INVALID_SOCKET),
      m_nTTL(kDefaultTTL),
      m_wRcvPort(0),
      m_wSndPort(0),
      m_rcvBindAddr{},
      m_dwLocalAddr(0),
      m_szDottedAddr{},
      m_nLastError(WSABASEERR),
      m_fJoined(FALSE),
      m_fLoopback(TRUE),
      m_srcAddr{},
      m_lRcvInterest(0),
      m_lSndInterest(0),
      m_dwDataRate(0),
      m_pSndLoss(nullptr),
      m_pRcvLoss(nullptr),
      m_pRateLimiter(nullptr) {
  SetDataRate(0);
}

CMulticast::~CMulticast() {
  Close();
  delete m_pSndLoss;
  delete m_pRcvLoss;
  delete m_pRateLimiter;
}

int CMulticast::RecordError(int nError) {
  m_nLastError = nError;
  return SOCKET_ERROR;
}

int CMulticast::RecordErrno() { return RecordError(static_cast<int>(platform::WsaFromErrno(errno))); }

// Linux loops multicast back on the sending socket's side.
void CMulticast::ApplySendLoopback() {
  if (m_sSnd != INVALID_SOCKET) SetIntOpt(m_sSnd, IPPROTO_IP, IP_MULTICAST_LOOP, m_fLoopback ? 1 : 0);
}

int CMulticast::Open(const char* szDottedAddr, WORD wPort, int nTTL, BOOL fLoopback) {
  int nResult = OpenRcv(szDottedAddr, wPort, fLoopback);
  if (nResult != 0) return nResult;
  return OpenSnd(szDottedAddr, wPort, nTTL);
}

int CMulticast::OpenRcv(const char* szDottedAddr, WORD wPort, BOOL fLoopback) {
  if (!ORV_ASSERT(szDottedAddr != nullptr && strlen(szDottedAddr) > 7)) {
    return RecordError(WSAEINVAL);
  }
  DWORD dwGroup = 0;
  if (!ParseDottedAddr(szDottedAddr, &dwGroup)) {
    DebugPrintf("CMulticast::OpenRcv refused the group address \"%.32s\"\n", szDottedAddr);
    return RecordError(WSAEINVAL);
  }
  if (m_sRcv != INVALID_SOCKET) {
    LeaveGroup();
    CloseSocket(&m_sRcv);
  }
  m_sRcv = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_sRcv == INVALID_SOCKET) return RecordErrno();
  m_wRcvPort = htons(wPort);
  // Processes of one machine on loopback share one address: their datagrams
  // must loop back, and cannot be told apart by their source.
  m_fLoopback = fLoopback || mcast_internal::LoopbackMachineFromEnvironment();
  m_dwLocalAddr = 0;
  strcpy(m_szDottedAddr, szDottedAddr);
  m_nLastError = WSABASEERR;

  if (SetIntOpt(m_sRcv, SOL_SOCKET, SO_REUSEADDR, 1) != 0) {
    RecordErrno();
    ORV_ASSERT(!"SO_REUSEADDR");
  }
  sockaddr_in bindAddr{};
  bindAddr.sin_family = AF_INET;
  bindAddr.sin_port = m_wRcvPort;
  bindAddr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(m_sRcv, reinterpret_cast<sockaddr*>(&bindAddr), sizeof bindAddr) != 0) return RecordErrno();
  m_rcvBindAddr = {AF_INET, m_wRcvPort, 0};

  ip_mreq mreq{};
  mreq.imr_multiaddr.s_addr = dwGroup;
  mreq.imr_interface.s_addr = mcast_internal::TestInterfaceAddr();
  if (setsockopt(m_sRcv, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) return RecordErrno();
  m_fJoined = TRUE;
  m_rcvBindAddr.dwAddr = dwGroup;
  SetIntOpt(m_sRcv, IPPROTO_IP, IP_MULTICAST_ALL, 0);
  SetIntOpt(m_sRcv, IPPROTO_IP, IP_MULTICAST_LOOP, fLoopback ? 1 : 0);
  ApplySendLoopback();

  if (fLoopback) return 0;
  return GetLocalIPaddr(&m_dwLocalAddr);
}

int CMulticast::OpenSnd(const char* szDottedAddr, WORD wPort, int nTTL) {
  DWORD dwGroup = 0;
  if (!ParseDottedAddr(szDottedAddr, &dwGroup)) {
    DebugPrintf("SockAddr == INADDR_NONE\n");
    return RecordError(WSAEINVAL);
  }
  CloseSocket(&m_sSnd);
  m_wSndPort = htons(wPort);
  m_nTTL = nTTL;
  strcpy(m_szDottedAddr, szDottedAddr);
  m_nLastError = WSABASEERR;

  m_sSnd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_sSnd == INVALID_SOCKET) {
    RecordErrno();
    DebugPrintf("Socket failed %d\n", GetLastWSAError());
    return SOCKET_ERROR;
  }
  if (DWORD dwIf = mcast_internal::TestInterfaceAddr(); dwIf != 0) {
    in_addr ifAddr{};
    ifAddr.s_addr = dwIf;
    setsockopt(m_sSnd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = m_wSndPort;
  to.sin_addr.s_addr = dwGroup;
  if (connect(m_sSnd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    RecordErrno();
    DebugPrintf("connect failed %d - addr: %s\n", GetLastWSAError(), m_szDottedAddr);
    return SOCKET_ERROR;
  }
  if (SetIntOpt(m_sSnd, IPPROTO_IP, IP_MULTICAST_TTL, nTTL) != 0) {
    RecordErrno();
    DebugPrintf("Sockopt failed to set TTL %d\n", GetLastWSAError());
    return SOCKET_ERROR;
  }
  ApplySendLoopback();
  return 0;
}

void CMulticast::Close() {
  if (m_sRcv != INVALID_SOCKET) {
    LeaveGroup();
    CloseSocket(&m_sRcv);
  }
  CloseSocket(&m_sSnd);
}

int CMulticast::LeaveGroup() {
  if (m_sRcv == INVALID_SOCKET || !m_fJoined) return 0;
  ip_mreq mreq{};
  mreq.imr_multiaddr.s_addr = m_rcvBindAddr.dwAddr;
  mreq.imr_interface.s_addr = mcast_internal::TestInterfaceAddr();
  int nError = 0;
  if (setsockopt(m_sRcv, IPPROTO_IP, IP_DROP_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
    nError = static_cast<int>(platform::WsaFromErrno(errno));
  }
  m_nLastError = nError == 0 ? static_cast<int>(WSABASEERR) : nError;
  m_fJoined = FALSE;
  return nError;
}

BOOL CMulticast::IsOpen() { return m_sRcv != INVALID_SOCKET && m_sSnd != INVALID_SOCKET; }
int CMulticast::GetLastWSAError() { return m_nLastError; }
const char* CMulticast::GetDottedAddr() { return m_szDottedAddr; }

int CMulticast::GetMaxSndLen() {
  int nBytes = 0;
  if (!ORV_ASSERT(GetBufSize(m_sSnd, SO_SNDBUF, &nBytes))) return 512;
  return std::min(nBytes, kMaxDatagramLen);
}

int CMulticast::GetMaxRcvLen() {
  int nBytes = kMaxDatagramLen;
  GetBufSize(m_sRcv, SO_RCVBUF, &nBytes);
  do {
    nBytes += kMaxDatagramLen;
    if (SetIntOpt(m_sRcv, SOL_SOCKET, SO_RCVBUF, nBytes) != 0) break;
  } while (nBytes < kMaxRcvBufLen);
  if (!ORV_ASSERT(GetBufSize(m_sRcv, SO_RCVBUF, &nBytes))) return kMaxDatagramLen;
  return std::min(nBytes, kMaxRcvBufLen);
}

int CMulticast::GetRcvBufferFill() {
  if (m_sRcv == INVALID_SOCKET) return -1;
  std::uint32_t info[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof info;
  if (getsockopt(m_sRcv, SOL_SOCKET, SO_MEMINFO, info, &len) != 0 ||
      len <= SK_MEMINFO_RCVBUF * sizeof info[0] || info[SK_MEMINFO_RCVBUF] == 0)
    return -1;
  return static_cast<int>(std::min<std::uint64_t>(
      100, std::uint64_t{info[SK_MEMINFO_RMEM_ALLOC]} * 100 / info[SK_MEMINFO_RCVBUF]));
}

int CMulticast::Send(BYTE* pBuf, DWORD dwLen) {
  ORV_ASSERT(dwLen > 0);
  WSABUF buf{dwLen, reinterpret_cast<char*>(pBuf)};
  DWORD dwSent = 0;
  if (SendBuffers(&buf, 1, &dwSent) == SOCKET_ERROR) return SOCKET_ERROR;
  return static_cast<int>(dwSent);
}

int CMulticast::SendBuffers(WSABUF* lpBuffers, DWORD dwBufferCount, DWORD* lpNumberOfBytesSent,
                            OVERLAPPED* lpOverlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  if (!ORV_ASSERT(lpOverlapped == nullptr && lpCompletionRoutine == nullptr) ||
      !ORV_ASSERT(lpNumberOfBytesSent != nullptr) ||
      !ORV_ASSERT(lpBuffers != nullptr || dwBufferCount == 0)) {
    return RecordError(WSAEINVAL);
  }
  *lpNumberOfBytesSent = 0;
  IoList io(lpBuffers, dwBufferCount);
  WaitForCredit(io.dwTotal);
  if (DropBy(&m_pSndLoss)) {
    m_nLastError = WSABASEERR;
    *lpNumberOfBytesSent = io.dwTotal;
    return 0;
  }
  if (m_sSnd == INVALID_SOCKET) return RecordError(WSAENOTSOCK);
  msghdr msg{};
  msg.msg_iov = io.p;
  msg.msg_iovlen = io.n;
  ssize_t n = sendmsg(m_sSnd, &msg, MSG_NOSIGNAL);
  if (n < 0) return RecordErrno();
  *lpNumberOfBytesSent = static_cast<DWORD>(n);
  m_nLastError = WSABASEERR;
  return 0;
}

int CMulticast::Recv(BYTE* pBuf, long lMaxBytesToRead) { return RecvFrom(pBuf, lMaxBytesToRead, nullptr); }

int CMulticast::RecvFrom(BYTE* pBuf, long lMaxBytesToRead, sockaddr_in* pFrom) {
  if (!ORV_ASSERT(lMaxBytesToRead > 0)) return RecordError(WSAEINVAL);
  WSABUF buf{static_cast<ULONG>(lMaxBytesToRead), reinterpret_cast<char*>(pBuf)};
  DWORD dwRecvd = 0;
  if (RecvBuffersFrom(&buf, 1, &dwRecvd, pFrom) == SOCKET_ERROR) return SOCKET_ERROR;
  return static_cast<int>(dwRecvd);
}

int CMulticast::RecvBuffers(WSABUF* pBufs, DWORD dwBufferCount, DWORD* pdwBytesRecvd,
                            OVERLAPPED* pOverlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE pCompletion) {
  return RecvBuffersFrom(pBufs, dwBufferCount, pdwBytesRecvd, nullptr, pOverlapped, pCompletion);
}

int CMulticast::RecvBuffersFrom(WSABUF* lpBuffers, DWORD dwBufferCount, DWORD* lpNumberOfBytesRecvd,
                                sockaddr_in* pFrom, OVERLAPPED* lpOverlapped,
                                LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  if (!ORV_ASSERT(lpBuffers != nullptr) || !ORV_ASSERT(lpNumberOfBytesRecvd != nullptr) ||
      !ORV_ASSERT(lpOverlapped == nullptr && lpCompletionRoutine == nullptr)) {
    return RecordError(WSAEINVAL);
  }
  m_nLastError = WSABASEERR;
  *lpNumberOfBytesRecvd = 0;
  if (m_sRcv == INVALID_SOCKET) return RecordError(WSAENOTSOCK);
  IoList io(lpBuffers, dwBufferCount);
  sockaddr_in from{};
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = io.p;
  msg.msg_iovlen = io.n;
  ssize_t n = recvmsg(m_sRcv, &msg, 0);
  if (n < 0) return RecordErrno();
  m_srcAddr = {from.sin_family, from.sin_port, from.sin_addr.s_addr};
  if (pFrom != nullptr) *pFrom = from;
  if (msg.msg_flags & MSG_TRUNC) {  // consumed, and nothing of it is handed on
    m_nLastError = WSAEMSGSIZE;
    return 0;
  }
  if (!m_fLoopback && from.sin_addr.s_addr == m_dwLocalAddr) return 0;
  if (DropBy(&m_pRcvLoss)) return 0;
  *lpNumberOfBytesRecvd = static_cast<DWORD>(n);
  return 0;
}

int CMulticast::RecvBatch(WSABUF* const* ppBufs, DWORD dwBufferCount, int nMax,
                          DWORD* pdwBytesRecvd, BOOL* pfTooLong, int* pnGot) {
  constexpr int kMaxBatch = 64;
  constexpr DWORD kMaxBufs = 4;
  if (!ORV_ASSERT(ppBufs != nullptr && pdwBytesRecvd != nullptr && pfTooLong != nullptr &&
                  pnGot != nullptr && dwBufferCount > 0 && dwBufferCount <= kMaxBufs && nMax > 0)) {
    return RecordError(WSAEINVAL);
  }
  m_nLastError = WSABASEERR;
  *pnGot = 0;
  if (m_sRcv == INVALID_SOCKET) return RecordError(WSAENOTSOCK);
  const int n = std::min(nMax, kMaxBatch);
  iovec iov[kMaxBatch][kMaxBufs];
  sockaddr_in from[kMaxBatch];
  mmsghdr msgs[kMaxBatch];
  for (int i = 0; i < n; ++i) {
    for (DWORD b = 0; b < dwBufferCount; ++b) {
      iov[i][b].iov_base = ppBufs[i][b].buf;
      iov[i][b].iov_len = ppBufs[i][b].len;
    }
    msgs[i] = {};
    msgs[i].msg_hdr.msg_name = &from[i];
    msgs[i].msg_hdr.msg_namelen = sizeof from[i];
    msgs[i].msg_hdr.msg_iov = iov[i];
    msgs[i].msg_hdr.msg_iovlen = dwBufferCount;
  }
  const int nGot = recvmmsg(m_sRcv, msgs, static_cast<unsigned>(n), 0, nullptr);
  if (nGot < 0) return RecordErrno();
  for (int i = 0; i < nGot; ++i) {
    m_srcAddr = {from[i].sin_family, from[i].sin_port, from[i].sin_addr.s_addr};
    pfTooLong[i] = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0 ? TRUE : FALSE;
    const bool fUsable = !pfTooLong[i] &&
                         (m_fLoopback || from[i].sin_addr.s_addr != m_dwLocalAddr) &&
                         !DropBy(&m_pRcvLoss);
    pdwBytesRecvd[i] = fUsable ? static_cast<DWORD>(msgs[i].msg_len) : 0;
  }
  *pnGot = nGot;
  return 0;
}

int CMulticast::GetRcvBytesAvail(u_long* pulBytes) {
  if (!ORV_ASSERT(pulBytes != nullptr)) return RecordError(WSAEFAULT);
  int nBytes = 0;
  if (ioctl(m_sRcv, FIONREAD, &nBytes) != 0) return RecordErrno();
  *pulBytes = static_cast<u_long>(nBytes);
  m_nLastError = WSABASEERR;
  return 0;
}
