#include <cstdio>

#include "core/text.h"
#include "tools/decode_tool.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(pv::Utf8ToWide(argv[i]));
  return pv::RunDecodeTool(args, stdout, stderr);
}
