#include "korin/RcvrIOThread.h"

#include <algorithm>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "korin/Wire.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

CRcvrIOThread::CRcvrIOThread(int nK)
    : CNACKlist(nK), m_hThread(nullptr), m_dwThreadId(0), m_pRecvQueue(nullptr),
      m_pPort(nullptr), m_hReadEvent(nullptr), m_hWriteEvent(nullptr) {
  ORV_ASSERT(nK > 0);
}

CRcvrIOThread::~CRcvrIOThread() {
  if (m_hThread != nullptr) {
    m_ReqReply.StopWorker();
    WaitForSingleObject(m_hThread, INFINITE);  // nothing of it runs on afterwards
    CloseHandle(m_hThread);
  }
  if (m_pPort != nullptr) {
    if (m_hReadEvent != nullptr) m_pPort->RcvEventSelect(m_hReadEvent, 0);
    if (m_hWriteEvent != nullptr) m_pPort->SndEventSelect(m_hWriteEvent, 0);
  }
  if (m_hReadEvent != nullptr) WSACloseEvent(m_hReadEvent);
  if (m_hWriteEvent != nullptr) WSACloseEvent(m_hWriteEvent);
}

BOOL CRcvrIOThread::Start(DWORD dwNackMinMs, DWORD dwNackMaxMs, int nBackoffCap,
                          CRecvQueue* pRecvQueue, CMulticast* pPort) {
  if (!ORV_ASSERT(pPort != NULL) || !ORV_ASSERT(pRecvQueue != NULL)) return FALSE;
  if (!ORV_ASSERT(m_hThread == nullptr)) return FALSE;
  m_pRecvQueue = pRecvQueue;
  m_pPort = pPort;
  if (!InitList(dwNackMinMs, dwNackMaxMs, nBackoffCap, pRecvQueue)) return FALSE;
  if (!m_ReqReply.Init()) return FALSE;
  m_hReadEvent = WSACreateEvent();
  if (m_hReadEvent == nullptr || m_pPort->RcvEventSelect(m_hReadEvent, FD_READ) != 0) {
    return FALSE;
  }
  m_hWriteEvent = WSACreateEvent();
  if (m_hWriteEvent == nullptr || m_pPort->SndEventSelect(m_hWriteEvent, FD_WRITE) != 0) {
    return FALSE;
  }
  m_hThread = CreateThread(&CRcvrIOThread::ThreadProc, this, &m_dwThreadId);
  return m_hThread != nullptr;
}

DWORD CRcvrIOThread::ThreadProc(LPVOID pParam) {
  return static_cast<CRcvrIOThread*>(pParam)->Run();
}

DWORD CRcvrIOThread::Run() {
  if (!ORV_ASSERT(m_pPort != NULL)) {
    m_ReqReply.Reply();
    return 1;
  }
  const HANDLE events[3] = {m_hReadEvent, m_ReqReply.GetReqHandle(), m_hWriteEvent};
  for (;;) {
    const DWORD dwCount = FirstDue() ? 3 : 2;
    const DWORD dwResult = WaitForMultipleObjects(dwCount, events, FALSE, kWaitMs);
    if (m_ReqReply.Requested()) break;
    if (dwResult == WAIT_TIMEOUT) continue;
    if (dwResult == WAIT_OBJECT_0) {
      WSANETWORKEVENTS netEvents = {};
      m_pPort->RcvEnumNetworkEvents(m_hReadEvent, &netEvents);
      ReceiveOne();
      // Under sustained inbound load the read event wins every wait: a NACK
      // overdue by a wait's length goes out between two datagrams once the
      // socket takes it. (A short burst only holds it back until it ends, as
      // before: a NACK sent amid the burst often asks for packets just sent,
      // which the sender's hold-off does not resend.)
      if (FirstOverdue(kWaitMs) && WaitForSingleObject(m_hWriteEvent, 0) == WAIT_OBJECT_0) {
        SendNACK();
      }
    } else if (dwResult == WAIT_OBJECT_0 + 2) {
      SendNACK();
    } else if (dwResult == WAIT_FAILED) {
      ORV_ASSERT(FALSE);
      Sleep(10);  // never spin on a broken handle
    }
  }
  m_ReqReply.Reply();
  return 0;
}

void CRcvrIOThread::ReceiveOne() {
  u_long ulPending = 0;
  if (m_pPort->GetRcvBytesAvail(&ulPending) != 0) return;
  if (ulPending == 0) {
    // Diagnostics only: an empty datagram, or nothing there at all.
    DebugTrace(WaitForSingleObject(m_hReadEvent, 0) == WAIT_TIMEOUT ? "***TIME OUT "
                                                                     : "***No TIME OUT ");
    BOOL fRead = FALSE, fWrite = FALSE;
    const int nResult = m_pPort->Select(0, 0, &fRead, &fWrite, TRUE, FALSE);
    DebugTrace("dwResult = %lu fR = %d\n", static_cast<unsigned long>(nResult), fRead);
  }
  BYTE header[SRM_HEADER_LEN];
  const DWORD dwPayloadBytes =
      ulPending > SRM_HEADER_LEN ? static_cast<DWORD>(ulPending - SRM_HEADER_LEN) : 1;
  BYTE* pPayload = new (std::nothrow) BYTE[dwPayloadBytes];
  if (pPayload == nullptr) return;
  WSABUF buffers[2] = {{SRM_HEADER_LEN, reinterpret_cast<char*>(header)},
                       {dwPayloadBytes, reinterpret_cast<char*>(pPayload)}};
  DWORD dwBytes = 0;
  if (m_pPort->RecvBuffers(buffers, 2, &dwBytes) == SOCKET_ERROR || dwBytes == 0) {
    delete[] pPayload;
    return;
  }
  TakeDatagram(header, pPayload, dwBytes);
}

void CRcvrIOThread::TakeDatagram(const BYTE* pHeader, BYTE* pPayload, DWORD dwBytes) {
  std::unique_ptr<BYTE[]> payload(pPayload);
  tSRMHeader header;
  if (CheckDataPacket(pHeader, std::min(dwBytes, SRM_HEADER_LEN), &header) != KorinCheck::Ok) {
    return;
  }
  // Bytes after the header; an exactly 19-byte datagram has an empty payload.
  const DWORD dwLen = dwBytes - SRM_HEADER_LEN;
  BOOL fIgnore = FALSE;
  if (!Intake(header, payload.get(), dwLen, &fIgnore) || fIgnore) return;
  // The packet reports no low water beyond the one in force.
  header.LowWater = std::min(header.LowWater, GetLowWater());
  Queue()->AddPacket(header, payload.release(), dwLen);
}

void CRcvrIOThread::SendNACK() {
  BYTE packet[NACK_PACKET_MAX_LEN];
  DWORD dwLen = 0;
  if (!BuildNACKPacket(packet, &dwLen)) return;
  if (m_pPort->Send(packet, dwLen) == SOCKET_ERROR) {
    AfterSend(FALSE);
    if (m_pPort->GetLastWSAError() == static_cast<int>(WSAEWOULDBLOCK)) {
      WSANETWORKEVENTS netEvents = {};
      m_pPort->SndEnumNetworkEvents(m_hWriteEvent, &netEvents);
    }
    return;
  }
  AfterSend(TRUE);
  DebugTrace("Sent NACK");
  for (DWORD i = 0; i < packet[NACK_HEADER_LEN]; ++i) {
    tNACKRange range;
    DecodeNACKRange(packet + NACK_RANGES_OFFSET + i * NACK_RANGE_LEN, &range);
    DebugTrace("[%lu.%d-%lu.%d]", static_cast<unsigned long>(range.FirstItem.Key),
               range.FirstItem.Count, static_cast<unsigned long>(range.LastItem.Key),
               range.LastItem.Count);
  }
  DebugTrace("\n");
}
