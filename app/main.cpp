#include <iostream>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::cerr << "maquetor: nothing here yet\n";
  return 1;
}
