/* The least a per-byte sender can do: for each byte of a file, one driver call and one write(2)
 * that carries the previous byte's total line together with this byte's value, so that the value
 * is on the console before the driver call; at the end one write(2) for the last total and the
 * end line. The benchmark measures the tool against this. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

typedef uint32_t (*ft_open_fn)(int, void**);
typedef uint32_t (*ft_write_fn)(void*, void*, uint32_t, uint32_t*);
typedef uint32_t (*ft_close_fn)(void*);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  void* library = dlopen("libftd2xx.so", RTLD_NOW);
  FILE* file = fopen(argv[1], "rb");
  if (!library || !file) return 2;
  ft_open_fn ft_open = (ft_open_fn)dlsym(library, "FT_Open");
  ft_write_fn ft_write = (ft_write_fn)dlsym(library, "FT_Write");
  ft_close_fn ft_close = (ft_close_fn)dlsym(library, "FT_Close");
  void* handle = NULL;
  if (ft_open(0, &handle) != 0) return 2;
  unsigned long long total = 0;
  char text[128];
  int owed = 0;
  for (int c = getc(file); c != EOF; c = getc(file)) {
    unsigned char byte = (unsigned char)c;
    uint32_t written = 0;
    owed += snprintf(text + owed, sizeof text - (size_t)owed, "%i ", c);
    if (write(1, text, (size_t)owed) != owed) return 1;
    ft_write(handle, &byte, 1, &written);
    total += written;
    owed = snprintf(text, sizeof text, "   %llu total bytes written\n", total);
  }
  ft_close(handle);
  owed += snprintf(text + owed, sizeof text - (size_t)owed, "   End of bit stream reached.\n");
  return write(1, text, (size_t)owed) == owed ? 0 : 1;
}
