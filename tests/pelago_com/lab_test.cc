// Pelago.so's COM objects across two lab hosts: a sender host carousels a
// file with "Pelago.PelagoSnd" (early-bound), a receiver host takes it with
// "Pelago.PelagoRcv" (late-bound by name, as a macro would), both created by
// ProgID through the registry.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "Pelago/PelagoCom.h"
#include "com/ComPtr.h"
#include "com/DispClient.h"
#include "com/Runtime.h"
#include "tests/lab/Lab.h"
#include "tests/pelago_com/ComServer.h"

namespace {

using com::CComBSTR;
using com::CComPtr;
using com::CComVariant;
using Clock = std::chrono::steady_clock;

constexpr const char* kGroup = "239.255.61.7";
constexpr LONG kPort = 46107;
constexpr LONG kBytesPerSec = 4000000;
constexpr std::size_t kFileBytes = 150000;
constexpr unsigned kChildTimeoutMs = 60000;

std::size_t ThreadCount() {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                std::filesystem::directory_iterator()));
}

std::string ReadAll(const std::string& sPath) {
  std::ifstream in(sPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Receive() {
  const std::string sync = lab::ChildParam("sync");
  CComPtr<IDispatch> rcv;
  ASSERT_EQ(rcv.CoCreateInstance(kPelagoRcvViProgId), S_OK);
  ASSERT_EQ(com::CallMethod(rcv.get(), "Init",
                            {CComVariant(kGroup), CComVariant(kPort), CComVariant(lab::ChildParam("save"))}),
            S_OK);
  ASSERT_EQ(com::CallMethod(rcv.get(), "Start"), S_OK);
  lab::TouchFile(sync + "/joined");

  const LONG nSize = static_cast<LONG>(kFileBytes);
  bool fStarted = false, fFileDone = false, fComplete = false;
  LONG nStartId = -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kChildTimeoutMs - 10000);
  while (!fComplete && Clock::now() < deadline) {
    LONG nType = -1, nError = -1, nId = -1, nLen = -1, fGot = -1;
    BSTR name = nullptr;
    ASSERT_EQ(com::CallMethod(rcv.get(), "GetEvent",
                              {CComVariant(LONG{500}), CComVariant::ByRef(&nType),
                               CComVariant::ByRef(&nError), CComVariant::ByRef(&nId),
                               CComVariant::ByRef(&nLen), CComVariant::ByRef(&name),
                               CComVariant::ByRef(&fGot)}),
              S_OK);
    CComBSTR owned;
    owned.Attach(name);
    EXPECT_EQ(fGot, nType == PELAGORE_CONTINUE ? 0 : 1);
    switch (nType) {
      case PELAGORE_FILE_START:
        EXPECT_FALSE(fStarted);
        EXPECT_GE(nLen, nSize);  // the stream: the file, its record and the padding
        fStarted = true;
        nStartId = nId;
        break;
      case PELAGORE_FILE_COMPLETE:
        EXPECT_TRUE(fStarted);
        EXPECT_EQ(nId, nStartId);
        EXPECT_EQ(nLen, nSize);
        EXPECT_EQ(owned.ToUtf8(), "master.cab");
        fFileDone = true;
        break;
      case PELAGORE_COMPLETE:
        EXPECT_TRUE(fFileDone);
        fComplete = true;
        break;
      case PELAGORE_CONTINUE:
        EXPECT_EQ(nError, 0);
        EXPECT_EQ(name, nullptr);
        break;
      default:
        ADD_FAILURE() << "event " << nType << " error " << nError;
        fComplete = true;
    }
  }
  EXPECT_TRUE(fComplete) << "no PELAGORE_COMPLETE in time";

  LONG n[11];
  std::vector<CComVariant> refs;
  for (LONG& l : n) refs.push_back(CComVariant::ByRef(&(l = -1)));
  ASSERT_EQ(com::CallMethod(rcv.get(), "GetStats", refs), S_OK);
  EXPECT_GT(n[0], 0);       // RecvdCount
  EXPECT_EQ(n[7], 1);       // FilesDone
  EXPECT_EQ(n[9], 1);       // FilesStarted
  EXPECT_EQ(n[10], 1024);   // PayloadLen
  // What the master-receive progress bar shows: at least all of the file.
  EXPECT_GE(static_cast<long long>(n[0]) * n[10], static_cast<long long>(kFileBytes));
  EXPECT_EQ(com::CallMethod(rcv.get(), "Stop"), S_OK);
  lab::TouchFile(sync + "/done");
}

void Send() {
  const std::string sync = lab::ChildParam("sync");
  CComPtr<IPelagoSnd> snd;
  ASSERT_EQ(snd.CoCreateInstance(kPelagoSndViProgId), S_OK);
  ASSERT_EQ(snd->Init(CComBSTR(kGroup), kPort, 1, kBytesPerSec), S_OK);
  // A first thread makes sanitizer runtimes start their own helper threads,
  // so that the count below holds only the carousel's. A joined thread may
  // still be listed for a moment (join returns before the kernel lets it
  // go); on a loaded machine that moment is long enough to count it.
  pid_t tidFirst = 0;
  std::thread([&tidFirst] { tidFirst = static_cast<pid_t>(syscall(SYS_gettid)); }).join();
  const std::string sFirstTask = "/proc/self/task/" + std::to_string(tidFirst);
  const auto gone = Clock::now() + std::chrono::seconds(10);
  while (std::filesystem::exists(sFirstTask) && Clock::now() < gone) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(std::filesystem::exists(sFirstTask)) << "a joined thread is still listed";
  const std::size_t nThreadsIdle = ThreadCount();
  ASSERT_TRUE(lab::WaitForFile(sync + "/joined", kChildTimeoutMs / 2));
  ASSERT_EQ(snd->Start(CComBSTR(lab::ChildParam("file"))), S_OK);
  EXPECT_GT(ThreadCount(), nThreadsIdle);
  const bool fDone = lab::WaitForFile(sync + "/done", kChildTimeoutMs - 10000);
  EXPECT_TRUE(fDone) << "the receiver did not finish";
  // The last reference ends the carousel and its thread.
  snd.Release();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (ThreadCount() > nThreadsIdle && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ThreadCount(), nThreadsIdle);
}

void RunChild() {
  pelago_com_test::UseRegistry(lab::ChildParam("registry"));
  pelago_com_test::KeepModuleLoaded();
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  if (lab::ChildRole() == "receiver") Receive();
  else Send();
  CoUninitialize();
}

TEST(PelagoComLabTest, AFileSentByPelagoSndArrivesWholeThroughPelagoRcv) {
  if (lab::IsChild()) return RunChild();
  ORVALO_LAB_START(theLab, 2);
  const std::string dir = lab::MakeSyncDir();
  const std::string registry = dir + "/registry.db";
  pelago_com_test::UseRegistry(registry);
  ASSERT_EQ(pelago_com_test::CallExport("DllRegisterServer"), S_OK);
  std::filesystem::create_directories(dir + "/src");
  std::filesystem::create_directories(dir + "/save");
  const std::string file = dir + "/src/master.cab";
  std::string bytes(kFileBytes, '\0');
  std::mt19937 rng(7);
  for (char& c : bytes) c = static_cast<char>(rng());
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

  auto rcv = theLab->StartSelf(0, "receiver",
                               {{"registry", registry}, {"sync", dir}, {"save", dir + "/save/"}});
  auto snd = theLab->StartSelf(1, "sender", {{"registry", registry}, {"sync", dir}, {"file", file}});
  lab::Result r = theLab->Wait(rcv, kChildTimeoutMs + 5000);
  lab::Result s = theLab->Wait(snd, kChildTimeoutMs + 5000);
  EXPECT_EQ(r.nExitCode, 0) << r.sOutput;
  EXPECT_EQ(s.nExitCode, 0) << s.sOutput;
  EXPECT_TRUE(ReadAll(dir + "/save/master.cab") == bytes) << "the saved file differs";
  EXPECT_EQ(pelago_com_test::CallExport("DllUnregisterServer"), S_OK);
  unsetenv("ORVALO_REGISTRY");
  lab::RemoveTree(dir);
}

}  // namespace
