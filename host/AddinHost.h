// The add-ins of the host: loaded once, started with the application, told
// of the user's slide-show actions, and shut down before the host ends.
//
// Main thread only. Events go to every add-in in the order they were loaded
// or attached; they are fired only from the message loop or from a user
// action (host/HostApplication.h), never from inside an object-model call.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/HostAddin.h"
#include "platform/Module.h"

namespace host {

class CHostState;
class CShowDoc;
class CPresDoc;

class CAddinHost {
 public:
  static CAddinHost& Instance();

  // Loads the add-in module at `path` (once: a path loaded before is not
  // loaded again, S_FALSE) and creates its add-in. HRESULT_FROM_WIN32 of the
  // load failure, or E_FAIL for a module without HostAddinCreate or one that
  // creates none.
  HRESULT Load(const std::string& path);
  // An in-process add-in (tests): not owned, valid until OnShutdown returned.
  void Attach(IHostAddin* pAddin);
  bool IsLoaded(const std::string& path) const;
  std::size_t Count() const { return m_addins.size(); }

  void FireStartup(_Application* pApp);
  void FireShowBegin(const std::shared_ptr<CHostState>& state,
                     const std::shared_ptr<CShowDoc>& show);
  void FireNextSlide(const std::shared_ptr<CHostState>& state,
                     const std::shared_ptr<CShowDoc>& show);
  void FireStep(const std::shared_ptr<CHostState>& state, const std::shared_ptr<CShowDoc>& show,
                LONG nDirection);
  void FireScreen(const std::shared_ptr<CHostState>& state, const std::shared_ptr<CShowDoc>& show,
                  PpSlideShowState newState);
  void FireErase(const std::shared_ptr<CHostState>& state, const std::shared_ptr<CShowDoc>& show);
  void FireEnd(const std::shared_ptr<CHostState>& state, const std::shared_ptr<CPresDoc>& pres);
  // OnShutdown to each add-in, then their modules are unloaded; the list is
  // empty afterwards.
  void Shutdown();

 private:
  struct Addin {
    std::string path;  // empty for an attached one
    HMODULE hModule = nullptr;
    IHostAddin* pAddin = nullptr;
  };
  template <class F>
  void ForEachWindow(const std::shared_ptr<CHostState>& state,
                     const std::shared_ptr<CShowDoc>& show, F f);

  std::vector<Addin> m_addins;
};

}  // namespace host
