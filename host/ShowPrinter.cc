#include "host/ShowPrinter.h"

#include <cstdio>

#include "host/ShowPicture.h"
#include "ui/Dialog.h"

namespace host {

void CShowPrinter::PrintLine(const std::string& line) {
  std::lock_guard<std::mutex> guard(m_lock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void CShowPrinter::OnViewChanged() {
  ShowView view = GetShowView();
  std::string line = DescribeShowView(view);
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (line == m_lastView && m_svgPath.empty()) return;
    if (line != m_lastView) {
      m_lastView = line;
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    }
  }
  // The picture also shows what the line leaves out (where the lines are).
  if (!m_svgPath.empty() && WriteShowPicture(m_svgPath, view) != 0)
    std::fprintf(stderr, "Powerpnt: cannot write %s\n", m_svgPath.c_str());
}

int CShowPrinter::OnMessageBox(HWND, const std::string& text, const std::string& caption,
                               UINT uType) {
  PrintLine("message box \"" + caption + "\": " + text);
  (void)uType;
  return IDOK;
}

void CShowPrinter::OnMessageBeep(UINT uType) { PrintLine("beep " + std::to_string(uType)); }

void CShowPrinter::PrintDialog(HWND hDlg, const char* szWhat) {
  std::string text = ui::DescribeDialog(hDlg);
  std::lock_guard<std::mutex> guard(m_lock);
  auto it = m_dialogs.find(hDlg);
  if (it != m_dialogs.end() && it->second == text) return;  // nothing visible changed
  m_dialogs[hDlg] = text;
  std::string line = std::string("dialog ") + szWhat + " " + text;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void CShowPrinter::OnDialogShown(HWND hDlg) { PrintDialog(hDlg, "shown"); }
void CShowPrinter::OnDialogChanged(HWND hDlg) { PrintDialog(hDlg, "changed"); }

void CShowPrinter::OnDialogDestroyed(HWND hDlg) {
  std::string text = ui::DescribeDialog(hDlg);
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_dialogs.erase(hDlg);
  }
  PrintLine("dialog closed " + text);
}

}  // namespace host
