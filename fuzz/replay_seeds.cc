// Plays each file named on the command line through the fuzz target once, so that the seeds run
// as regression cases in every Linux test build, without libFuzzer.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream seed(argv[i], std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(seed), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  return 0;
}
