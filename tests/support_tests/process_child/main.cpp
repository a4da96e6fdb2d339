// A child for the Windows RunProcess tests, standing in for the sh, printf,
// cat and sleep the Linux ones run:
//   process_child print OUT ERR CODE   OUT and ERR on their streams, exit CODE
//   process_child args A...            each argument followed by "|"
//   process_child cat                  stdin to stdout
//   process_child sleep SECONDS
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  for (FILE* stream : {stdin, stdout, stderr}) _setmode(_fileno(stream), _O_BINARY);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "print" && argc == 5) {
    std::printf("%s\n", argv[2]);
    std::fprintf(stderr, "%s\n", argv[3]);
    return std::atoi(argv[4]);
  }
  if (mode == "args") {
    for (int i = 2; i < argc; ++i) std::printf("%s|", argv[i]);
    return 0;
  }
  if (mode == "cat") {
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
      std::fwrite(buffer, 1, n, stdout);
    }
    return 0;
  }
  if (mode == "sleep" && argc == 3) {
    Sleep(static_cast<DWORD>(std::atoi(argv[2]) * 1000));
    return 0;
  }
  return 2;
}
