// Started under Wine by the test harness and the run command before anything
// else of this tree: if this prints its line, Wine can start programs of this
// tree's pointer size on this machine.
#include <cstdio>

int main() {
  std::printf("wine probe: a %u-bit program ran\n", static_cast<unsigned>(sizeof(void*) * 8));
  return 0;
}
