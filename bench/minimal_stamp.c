/* The floor for any size stamper: parse the size, open, write the six bytes
 * at offset 16, flush them to stable storage, close. No checks beyond what a
 * correct result needs. Usage: minimal_stamp SIZE FILE */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  const unsigned long size = strtoul(argv[1], NULL, 10);
  const unsigned char field[6] = {0, 0, (unsigned char)size, (unsigned char)(size >> 8),
                                  (unsigned char)(size >> 16), (unsigned char)(size >> 24)};
  const int fd = open(argv[2], O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return 1;
  if (pwrite(fd, field, sizeof field, 16) != (ssize_t)sizeof field || fsync(fd) != 0) return 1;
  return close(fd) != 0;
}
