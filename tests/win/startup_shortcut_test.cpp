// Startup shortcuts of frozen windows, written and removed through the
// shell's own link objects.
#include "app/startup_shortcut.h"

#include <windows.h>
// After windows.h, which they build on.
#include <objbase.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/file_io.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

// The target and arguments of a shortcut file, or empty texts.
std::pair<std::wstring, std::wstring> ReadShortcut(const fs::path& lnk) {
  IShellLinkW* link = nullptr;
  IPersistFile* store = nullptr;
  std::pair<std::wstring, std::wstring> result;
  wchar_t target[pv::kMaxPathUnits] = L"", arguments[1024] = L"";
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&store))) &&
      SUCCEEDED(store->Load(lnk.wstring().c_str(), STGM_READ)) &&
      SUCCEEDED(link->GetPath(target, pv::kMaxPathUnits, nullptr, 0)) &&
      SUCCEEDED(link->GetArguments(arguments, 1024))) {
    result = {target, arguments};
  }
  if (store) store->Release();
  if (link) link->Release();
  return result;
}

TEST(StartupShortcut, WrittenAtSessionEndAndRemovedOnlyWhenOurs) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const fs::path dir = pvtest::ScratchDir("startup-shortcut");
  const fs::path startup = dir / "Startup";
  fs::create_directories(startup);
  const std::wstring program = (dir / "Pixvane.exe").wstring();
  const std::wstring other = (dir / "Other.exe").wstring();
  const std::wstring file = (dir / "y.png").wstring();
  for (const std::wstring& f : {program, other, file}) std::ofstream(fs::path(f)) << "x";

  ASSERT_TRUE(pv::WriteStartupShortcut(startup.wstring(), program, file, 10, 20, 0.25f));
  const fs::path lnk = startup / "y.png.lnk";
  ASSERT_TRUE(fs::exists(lnk));
  auto [target, arguments] = ReadShortcut(lnk);
  EXPECT_EQ(target, program);
  EXPECT_EQ(arguments, L"-freeze -pos=10,20 -zoom=0.250 \"" + file + L"\"");

  // Not ours: another program, or arguments naming another file.
  EXPECT_FALSE(pv::RemoveStartupShortcut(startup.wstring(), other, file));
  EXPECT_FALSE(pv::RemoveStartupShortcut(startup.wstring(), program, (dir / "sub" / "y.png").wstring()));
  EXPECT_TRUE(fs::exists(lnk));
  EXPECT_TRUE(pv::RemoveStartupShortcut(startup.wstring(), program, file));
  EXPECT_FALSE(fs::exists(lnk));

  // The user's own shortcut of the same name, to another program, stays.
  ASSERT_TRUE(pv::WriteStartupShortcut(startup.wstring(), other, file, 0, 0, 1.0f));
  EXPECT_FALSE(pv::RemoveStartupShortcut(startup.wstring(), program, file));
  EXPECT_TRUE(fs::exists(lnk));
  EXPECT_FALSE(pv::RemoveStartupShortcut(startup.wstring(), program, (dir / "missing.png").wstring()));
  CoUninitialize();
}

}  // namespace
