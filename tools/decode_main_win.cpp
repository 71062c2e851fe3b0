#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "tools/decode_tool.h"

int wmain(int argc, wchar_t** argv) {
  // Byte-exact output: the same lines as the native build, without CR.
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return pv::RunDecodeTool(args, stdout, stderr);
}
