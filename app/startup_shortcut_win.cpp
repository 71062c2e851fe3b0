#include "app/startup_shortcut.h"

#include <windows.h>
// After windows.h, which they build on.
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/command_line.h"
#include "core/format_registry.h"
#include "core/path_name.h"

namespace pv {

namespace {

// Owns one COM interface reference.
template <class I>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p_) p_->Release();
  }
  I** Put() { return &p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  I* p_ = nullptr;
};

std::wstring ShortcutPath(const std::wstring& folder, const std::wstring& file) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path + StartupShortcutName(file);
}

}  // namespace

std::wstring StartupFolder() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, 0, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

bool WriteStartupShortcut(const std::wstring& folder, const std::wstring& program, const std::wstring& file,
                          int32_t x, int32_t y, float zoom) {
  const std::wstring arguments = StartupShortcutArguments(x, y, zoom, file);
  if (folder.empty() || arguments.empty()) return false;
  ComRef<IShellLinkW> link;
  ComRef<IPersistFile> store;
  return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(link.Put()))) &&
         SUCCEEDED(link->SetPath(program.c_str())) && SUCCEEDED(link->SetArguments(arguments.c_str())) &&
         SUCCEEDED(link->SetDescription(std::wstring(FileNamePart(file)).c_str())) &&
         SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(store.Put()))) &&
         SUCCEEDED(store->Save(ShortcutPath(folder, file).c_str(), TRUE));
}

bool RemoveStartupShortcut(const std::wstring& folder, const std::wstring& program, const std::wstring& file) {
  if (folder.empty() || file.empty()) return false;
  const std::wstring path = ShortcutPath(folder, file);
  ComRef<IShellLinkW> link;
  ComRef<IPersistFile> store;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(link.Put()))) ||
      FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(store.Put()))) ||
      FAILED(store->Load(path.c_str(), STGM_READ))) {
    return false;
  }
  wchar_t target[kMaxPathUnits], arguments[1024];
  if (FAILED(link->GetPath(target, kMaxPathUnits, nullptr, 0)) ||
      FAILED(link->GetArguments(arguments, 1024)) || CompareNoCase(target, program.c_str()) != 0) {
    return false;
  }
  const std::wstring named = L"\"" + file + L"\"";
  const std::wstring given = arguments;
  if (given.size() < named.size() || CompareNoCase(given.substr(given.size() - named.size()).c_str(), named.c_str()) != 0)
    return false;
  return DeleteFileW(path.c_str()) != 0;
}

}  // namespace pv
