// CKORINsender: the sending end of Korin. It owns one multicast port and one
// sender I/O thread; every send becomes a request that the I/O thread
// carries out while the caller waits.
//
// Thread safety: one thread at a time may Send (there is one completion
// event); the other operations may be called from any thread while open.
// Open and Close must not overlap any other call.
#pragma once

#include <memory>

#include "korin/IReliableSender.h"
#include "korin/PortHolder.h"
#include "mcast/Multicast.h"
#include "platform/Win32Types.h"

class CSndrIOThread;

class CKORINsender : public virtual IReliableSender {
 public:
  CKORINsender();
  ~CKORINsender() override;  // Close

  // Opens the port on the group (loopback off) and starts the I/O thread with
  // FEC group size nK and the resend hold-off. FALSE at once, without
  // touching the network, unless 1 <= nK <= 16; on any later failure the
  // sender is closed again.
  BOOL Open(int nK, const char* szDottedAddr, WORD wPort, int nTTL, DWORD dwHoldOffMs);
  // Stops the I/O thread, closes the port and the completion event.
  void Close();

  // The I/O thread's low water, and the sequence the next reliable packet
  // will carry. 0 when closed.
  DWORD GetLowWater();
  DWORD GetNextSequence();

  int Send(const BYTE* pBuf, DWORD dwLen, DWORD* pdwSequence, BOOL fReliable) override;
  int SendUnreliable(const BYTE* pBuf, DWORD dwLen) override;
  DWORD SetDataRate(DWORD dwBytesPerSec) override;
  DWORD GetMaxPayload() override;
  BOOL WaitForSendReady(long lSec, long lUsec) override;
  DWORD GetRepairsQueued() override;
  BOOL SetLowWater(DWORD dwLowWater) override;
  // Keys the repair cache dropped for its bound (their repairs with them).
  DWORD GetKeysDropped();

  // Test seam: ports opened from now on keep multicast loopback on, so that a
  // test on one host hears the sender and the sender hears the test's NACKs.
  // Process-wide; set it before Open.
  static void SetLoopbackForTesting(BOOL fLoopback);
  // Test seam: the open port (null when closed), for simulated send loss.
  CMulticast* GetPortForTesting() { return m_pPort; }

 protected:
  // Waits without limit for a completion; WAIT_OBJECT_0 or a failure. A test
  // seam for a failing wait.
  virtual DWORD WaitForCompletion(HANDLE hEvent);

 private:
  int m_nK;
  CPortHolder m_Port;
  CMulticast* m_pPort;  // m_Port's port, null when closed
  DWORD m_dwHoldOffMs;
  HANDLE m_hCompletion;  // manual-reset; used by the one sending thread
  std::unique_ptr<CSndrIOThread> m_pIOThread;
};
