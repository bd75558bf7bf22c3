// CMulticast: the IPv4 UDP multicast port under Korin and Pelago. It holds a
// receive socket (bound to the group's port and joined to the group) and a
// send socket (connected to the group and port, with a multicast TTL), and
// offers single-buffer and buffer-list send and receive, readiness waits, a
// send-rate limiter and simulated loss.
//
// Results: the socket calls return 0 (or a byte count) or SOCKET_ERROR, and
// every operation leaves its Windows Sockets error in GetLastWSAError(),
// WSABASEERR (10000) meaning no error.
//
// Platform notes:
//  - Sockets are non-blocking: a send or receive that cannot proceed fails
//    with WSAEWOULDBLOCK (10035).
//  - There is no overlapped I/O. The pOverlapped and completion-routine
//    parameters must be null; anything else is refused with WSAEINVAL.
//  - Loopback off also turns IP_MULTICAST_LOOP off on the send socket, and a
//    datagram whose source is this host's local address is read as 0 bytes.
//  - A receive socket hears only the groups it joined (IP_MULTICAST_ALL 0).
//  - Group addresses are dotted IPv4 strings of at most 15 characters;
//    anything else is refused with WSAEINVAL, never cut.
//  - A datagram larger than the receive buffers is consumed and reported as
//    0 bytes with a result of 0 and the last error WSAEMSGSIZE (10040).
//
// Threads: one sending and one receiving thread may use an object at once.
// SetDataRate, SetSndSimLoss and SetRcvSimLoss may be called at any time
// (the limiter and loss objects are under a lock). Open, OpenRcv, OpenSnd and
// Close must not run while another thread uses the object.
#pragma once

#include <atomic>

#include "mcast/Lock.h"
#include "mcast/RateLimiter.h"
#include "mcast/SimLoss.h"
#include "mcast/Winsock.h"
#include "mcast/WinsockStartup.h"
#include "platform/Win32Types.h"

class CMulticast {
 public:
  static constexpr int kDefaultTTL = 16;
  static constexpr DWORD kMaxCreditBytes = 16384;  // of the limiter SetDataRate makes
  static constexpr DWORD kDatagramOverheadBytes = 28;  // IP + UDP headers, charged per send
  static constexpr int kMaxDottedAddrLen = 15;

  CMulticast();
  ~CMulticast();  // not virtual
  CMulticast(const CMulticast&) = delete;
  CMulticast& operator=(const CMulticast&) = delete;

  // OpenRcv, then (only if it succeeded) OpenSnd. 0 or SOCKET_ERROR.
  int Open(const char* szDottedAddr, WORD wPort, int nTTL, BOOL fLoopback);
  // Receive side: bound to INADDR_ANY:wPort and joined to the group. With
  // fLoopback FALSE it also learns the local address (GetLocalIPaddr), whose
  // failure fails the open. 0 or SOCKET_ERROR (the socket stays open until Close).
  int OpenRcv(const char* szDottedAddr, WORD wPort, BOOL fLoopback);
  // Send side: connected to group:wPort with IP_MULTICAST_TTL nTTL (0..255).
  int OpenSnd(const char* szDottedAddr, WORD wPort, int nTTL);
  // Leaves the group and closes both sockets (each that is open).
  void Close();
  // Drops the membership when the receive socket is open and joined;
  // otherwise 0. Returns the socket error recorded (0 on success).
  int LeaveGroup();

  virtual BOOL IsOpen();  // TRUE when both sockets are open
  virtual int GetLastWSAError();
  virtual const char* GetDottedAddr();  // "" until an open stored it
  // SO_SNDBUF of the send socket, at most 1460; 512 when unreadable.
  virtual int GetMaxSndLen();
  // Grows SO_RCVBUF of the receive socket in steps of 1460 towards 64512 and
  // returns the size in force (at most 64512; 1460 when unreadable). Receivers
  // use it as their datagram buffer size.
  virtual int GetMaxRcvLen();
  // How full the receive socket's buffer is, in percent of its size (the
  // kernel's own accounting of what waits there); -1 when unknown.
  int GetRcvBufferFill();
  // Bytes received (0: nothing usable, see RecvBuffersFrom) or SOCKET_ERROR.
  // REQUIRES: lMaxBytesToRead > 0.
  virtual int Recv(BYTE* pBuf, long lMaxBytesToRead);
  virtual int RecvFrom(BYTE* pBuf, long lMaxBytesToRead, sockaddr_in* pFrom);
  // Bytes sent or SOCKET_ERROR. REQUIRES: dwLen > 0.
  virtual int Send(BYTE* pBuf, DWORD dwLen);

  // Sends the buffers as one datagram, after waiting for the limiter's credit
  // when a data rate is set (payload + 28 bytes are charged). A datagram taken
  // by simulated loss counts as fully sent. 0 or SOCKET_ERROR.
  int SendBuffers(WSABUF* pBufs, DWORD dwBufferCount, DWORD* pdwBytesSent,
                  OVERLAPPED* pOverlapped = nullptr,
                  LPWSAOVERLAPPED_COMPLETION_ROUTINE pCompletion = nullptr);
  // Receives one datagram into the buffers. *pdwBytesRecvd is 0 for nothing
  // usable: an own datagram with loopback off, a datagram taken by simulated
  // loss, or one too large for the buffers (last error WSAEMSGSIZE). Nothing
  // waiting fails with WSAEWOULDBLOCK. 0 or SOCKET_ERROR.
  int RecvBuffersFrom(WSABUF* pBufs, DWORD dwBufferCount, DWORD* pdwBytesRecvd,
                      sockaddr_in* pFrom, OVERLAPPED* pOverlapped = nullptr,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE pCompletion = nullptr);
  // Receives up to nMax waiting datagrams in one call, datagram i into the
  // dwBufferCount buffers ppBufs[i]: *pnGot of them, with pdwBytesRecvd[i] as
  // RecvBuffersFrom gives it (0 for nothing usable) and pfTooLong[i] TRUE for
  // one too large for its buffers. Nothing waiting fails with WSAEWOULDBLOCK.
  // 0 or SOCKET_ERROR.
  int RecvBatch(WSABUF* const* ppBufs, DWORD dwBufferCount, int nMax, DWORD* pdwBytesRecvd,
                BOOL* pfTooLong, int* pnGot);
  int RecvBuffers(WSABUF* pBufs, DWORD dwBufferCount, DWORD* pdwBytesRecvd,
                  OVERLAPPED* pOverlapped = nullptr,
                  LPWSAOVERLAPPED_COMPLETION_ROUTINE pCompletion = nullptr);

  // Socket events (FD_READ, FD_WRITE) on the receive or the send socket, and
  // their enumeration (which also resets the event). 0 or SOCKET_ERROR.
  int RcvEventSelect(HANDLE hEvent, long lNetworkEvents);
  int SndEventSelect(HANDLE hEvent, long lNetworkEvents);
  int RcvEnumNetworkEvents(HANDLE hEvent, WSANETWORKEVENTS* pEvents);
  int SndEnumNetworkEvents(HANDLE hEvent, WSANETWORKEVENTS* pEvents);

  // Waits up to lSec s + lUsec us (lSec -1: no limit) for the receive socket
  // to be readable (fCheckRead) and/or the send socket writable (fCheckWrite).
  // Returns the number of ready sockets, 0 on time-out, SOCKET_ERROR on failure;
  // the flags tell which socket is ready.
  int Select(long lSec, long lUsec, BOOL* pfReadReady, BOOL* pfWriteReady, BOOL fCheckRead,
             BOOL fCheckWrite);
  // Select that counts the send socket writable only once the limiter has
  // credit. Callers use the flags only (the result is Select's, or 0).
  int WaitReady(long lSec, long lUsec, BOOL* pfReadReady, BOOL* pfWriteReady, BOOL fCheckRead,
                BOOL fCheckWrite);

  // 0 (no limit for 0), ERROR_INVALID_PARAMETER (87) above 0x3FFFFFF bytes per
  // second (no limit is then in force), or ERROR_NOT_ENOUGH_MEMORY (8).
  DWORD SetDataRate(DWORD dwBytesPerSec);
  DWORD GetDataRate();
  // Milliseconds until the limiter has credit again, 0 when a send would not
  // wait. A sending thread that must stay responsive waits this long in its
  // own wait before it sends, and SendBuffers then does not sleep.
  DWORD GetSendWaitMs() { return LimiterWaitMs(); }
  // Percent of datagrams dropped; 0 removes the loss. FALSE only when out of memory.
  BOOL SetSndSimLoss(float fPercent);
  BOOL SetRcvSimLoss(float fPercent);

  // Bytes waiting on the receive socket (FIONREAD). 0 or SOCKET_ERROR.
  int GetRcvBytesAvail(u_long* pulBytes);
  // This host's IPv4 address (network order), never a loopback address unless
  // SetInterfaceForTesting named one. 0, or SOCKET_ERROR with
  // WSAHOST_NOT_FOUND (11001) when none is found.
  int GetLocalIPaddr(DWORD* pdwAddr);

  // Test seam: the interface address (dotted) on which every port joins and
  // sends, and which GetLocalIPaddr then reports; nullptr or "" restores the
  // default (routing chooses). Tests confined to this machine use "127.0.0.1".
  // Process-wide; set it before ports are opened. FALSE for a bad address.
  static BOOL SetInterfaceForTesting(const char* szDottedAddr);

 private:
  struct SourceAddr {  // of the last received datagram, network order
    WORD wFamily;
    WORD wPort;
    DWORD dwAddr;
  };

  int RecordError(int nError);  // stores the error, returns SOCKET_ERROR
  // The socket events of one socket: with pEvents null selects lSelect on
  // it, else enumerates what happened (within *pInterest).
  int SocketEvents(SOCKET s, HANDLE hEvent, std::atomic<long>* pInterest, long lSelect,
                   WSANETWORKEVENTS* pEvents);
  int RecordErrno();
  void ApplySendLoopback();
  void WaitForCredit(DWORD dwTotalBytes);
  BOOL SetSimLoss(CSimLoss** ppLoss, float fPercent);
  BOOL DropBy(CSimLoss* const* ppLoss);
  DWORD LimiterWaitMs();

  CWinsockStartup m_winsock;
  SOCKET m_sRcv;
  SOCKET m_sSnd;
  int m_nTTL;
  WORD m_wRcvPort;  // network order
  WORD m_wSndPort;  // network order
  SourceAddr m_rcvBindAddr;  // the address holds the group once joined
  DWORD m_dwLocalAddr;       // network order; learned when loopback is off
  char m_szDottedAddr[kMaxDottedAddrLen + 1];
  std::atomic<int> m_nLastError;  // written by both the sending and the receiving thread
  BOOL m_fJoined;
  BOOL m_fLoopback;
  SourceAddr m_srcAddr;  // receiving thread only
  std::atomic<long> m_lRcvInterest;  // last interests selected on each socket, which
  std::atomic<long> m_lSndInterest;  // enumerations report (nothing else)

  CLock m_lock;
  DWORD m_dwDataRate;          // guarded by m_lock; bytes per second, 0 = unlimited
  CSimLoss* m_pSndLoss;        // guarded by m_lock; owned, null when off
  CSimLoss* m_pRcvLoss;        // guarded by m_lock; owned, null when off
  CRateLimiter* m_pRateLimiter;  // guarded by m_lock; owned, null when unlimited
};
