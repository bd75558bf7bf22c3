// Test helper: a Korin data source on this host that the engines' receivers
// do not take for their own datagrams. Ports under
// CMulticast::SetInterfaceForTesting("127.0.0.1") drop datagrams from
// 127.0.0.1 as their own, so this one sends from 127.0.0.2 over loopback.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "korin/Wire.h"
#include "platform/Win32Types.h"

namespace engines_test {

class CForeignSender {
 public:
  CForeignSender(const std::string& sGroup, WORD wPort) {
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &local.sin_addr);
    in_addr ifAddr{};
    inet_pton(AF_INET, "127.0.0.1", &ifAddr);
    const int nLoop = 1;
    m_fOk = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
            setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) == 0 &&
            setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_LOOP, &nLoop, sizeof nLoop) == 0;
    m_to.sin_family = AF_INET;
    m_to.sin_port = htons(wPort);
    m_fOk = m_fOk && inet_pton(AF_INET, sGroup.c_str(), &m_to.sin_addr) == 1;
  }
  ~CForeignSender() {
    if (m_fd >= 0) close(m_fd);
  }
  CForeignSender(const CForeignSender&) = delete;
  CForeignSender& operator=(const CForeignSender&) = delete;

  bool Ok() const { return m_fOk; }

  // Sends a whole datagram as it is.
  bool SendRaw(const std::vector<BYTE>& datagram) {
    return sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&m_to),
                  sizeof m_to) == static_cast<ssize_t>(datagram.size());
  }

  // Sends `payload` as reliable Korin data with the next sequence (from 1).
  bool Send(const std::vector<BYTE>& payload, DWORD dwLowWater = 0) {
    std::vector<BYTE> datagram(SRM_HEADER_LEN + payload.size());
    EncodeSRMHeader(
        MakeDataHeader(TRUE, ++m_dwSequence, 4, dwLowWater, static_cast<WORD>(payload.size())),
        datagram.data());
    std::copy(payload.begin(), payload.end(), datagram.begin() + SRM_HEADER_LEN);
    return SendRaw(datagram);
  }

 private:
  int m_fd = -1;
  bool m_fOk = false;
  sockaddr_in m_to{};
  DWORD m_dwSequence = 0;
};

}  // namespace engines_test
